// Writes the module's raw texture format: little-endian int32 width, height
// and depth (bytes per pixel), then `height` rows of width * depth bytes,
// top row first.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

inline bool WriteRawTexture(const std::string& path, int width, int height, int depth,
                            const uint8_t* pixels) {
  if (width <= 0 || height <= 0 || depth <= 0 || pixels == nullptr) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (int32_t value : {width, height, depth}) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const char bytes[4] = {static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                           static_cast<char>((bits >> 16) & 0xff),
                           static_cast<char>((bits >> 24) & 0xff)};
    out.write(bytes, 4);
  }
  const size_t size =
      static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(depth);
  out.write(reinterpret_cast<const char*>(pixels), static_cast<std::streamsize>(size));
  return static_cast<bool>(out.flush());
}
