// Whole files as tests read them: through the module's one reader, empty
// when the file is missing or cannot be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/whole_file.h"

namespace rwtest {

// Far above anything a test writes or the build generates.
constexpr size_t kMaxTestFileBytes = size_t{1} << 30;

inline std::string ReadFile(const std::string& path) {
  std::string bytes;
  rigweave::ReadWholeFile(path, kMaxTestFileBytes, bytes);
  return bytes;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  rigweave::ReadWholeFile(path, kMaxTestFileBytes, bytes);
  return bytes;
}

}  // namespace rwtest
