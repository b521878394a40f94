#include "viewer/png.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <cstring>
#include <memory>

#include "formats/whole_file.h"

namespace rwview {
namespace {

// Far above the largest picture the viewer writes (8192 x 8192 pixels).
constexpr size_t kMaxPngBytes = size_t{1} << 30;

struct StbFree {
  void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

bool WritePng(const std::string& path, const Picture& picture, std::string* error) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    SetError(error, path + ": no picture to write");
    return false;
  }
  if (stbi_write_png(path.c_str(), picture.width, picture.height, 3, picture.rgb.data(),
                     picture.width * 3) == 0) {
    SetError(error, path + ": cannot be written");
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, Picture& picture, std::string* error) {
  std::vector<uint8_t> bytes;
  const rigweave::FileError read = rigweave::ReadWholeFile(path, kMaxPngBytes, bytes);
  if (read != rigweave::FileError::None) {
    SetError(error, path + ": " + rigweave::FileErrorText(read));
    return false;
  }
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) {
    SetError(error, path + ": not a PNG file");
    return false;
  }
  int width = 0, height = 0, channels = 0;
  // Grey, palette, 16-bit and alpha pictures all come back as 8-bit RGB.
  std::unique_ptr<unsigned char, StbFree> pixels(stbi_load_from_memory(
      bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, 3));
  if (!pixels) {
    const char* reason = stbi_failure_reason();
    SetError(error, path + ": " + (reason != nullptr ? reason : "cannot be decoded"));
    return false;
  }
  picture.width = width;
  picture.height = height;
  picture.rgb.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 3);
  return true;
}

}  // namespace rwview
