#include "bench/instruments.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace rwbench {

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0.0;
  const size_t mid = samples.size() / 2;
  std::nth_element(samples.begin(), samples.begin() + mid, samples.end());
  if (samples.size() % 2 == 1) return samples[mid];
  const double upper = samples[mid];
  const double lower = *std::max_element(samples.begin(), samples.begin() + mid);
  return (lower + upper) / 2.0;
}

long ExactResidentKiB() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line))
    if (line.rfind("Rss:", 0) == 0) return std::stol(line.substr(4));
  return -1;
}

}  // namespace rwbench
