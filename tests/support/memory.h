// What the process holds in memory, as the kernel counts it.
#pragma once

#include <fstream>
#include <string>

namespace rwtest {

// Resident set size in KiB, or -1 when it cannot be read.
inline long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace rwtest
