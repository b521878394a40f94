// PNG files of 8-bit RGB pictures, top row first: written through
// stb_image_write, read through stb_image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rwview {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes, top row first

  const uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
  }
  uint8_t* At(int x, int y) {
    return rgb.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
  }
};

// Writes aside in the same folder and renames into place, every write and
// the close checked: false, with the reason in `error`, when the file cannot
// be written whole, and then `path` is as it was.
bool WritePng(const std::string& path, const Picture& picture, std::string* error = nullptr);
// Any PNG: grey, palette, 16-bit and alpha channels are turned into 8-bit
// RGB (alpha dropped). False, with the reason in `error`, when it cannot be read.
bool ReadPng(const std::string& path, Picture& picture, std::string* error = nullptr);

}  // namespace rwview
