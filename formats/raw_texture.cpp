#include "formats/raw_texture.h"

#include <cstring>
#include <new>

namespace rigweave {
namespace {

int32_t ReadLE32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 |
                              static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

const char* RawTextureErrorText(RawTextureError error) {
  switch (error) {
    case RawTextureError::None:
      return "no error";
    case RawTextureError::ShortHeader:
      return "shorter than its 12-byte header";
    case RawTextureError::BadSize:
      return "width or height out of range";
    case RawTextureError::BadDepth:
      return "depth is not 3 or 4";
    case RawTextureError::Truncated:
      return "shorter than its header announces";
  }
  return "unknown error";
}

RawTextureError ParseRawTextureHeader(const uint8_t* data, size_t size, RawTextureHeader& header) {
  if (size < kRawHeaderSize) return RawTextureError::ShortHeader;
  header.width = ReadLE32(data);
  header.height = ReadLE32(data + 4);
  header.depth = ReadLE32(data + 8);
  if (header.width <= 0 || header.height <= 0 ||
      static_cast<int64_t>(header.width) * header.height > kMaxRawTexturePixels)
    return RawTextureError::BadSize;
  if (header.depth != 3 && header.depth != 4) return RawTextureError::BadDepth;
  return RawTextureError::None;
}

void ConvertRawTexturePixels(const RawTextureHeader& header, const uint8_t* rows,
                             csRGBpixel* pixels) {
  const size_t width = static_cast<size_t>(header.width);
  const size_t rowBytes = width * static_cast<size_t>(header.depth);
  const bool hasAlpha = header.depth == 4;
  for (int32_t row = 0; row < header.height; row++) {
    const uint8_t* src = rows + rowBytes * static_cast<size_t>(row);
    csRGBpixel* dst = pixels + width * static_cast<size_t>(header.height - 1 - row);
    for (size_t x = 0; x < width; x++, src += header.depth) {
      dst[x].red = src[0];
      dst[x].green = src[1];
      dst[x].blue = src[2];
      dst[x].alpha = hasAlpha ? src[3] : 255;
    }
  }
}

std::vector<uint8_t> EncodeRawTexture(const RawTextureHeader& header, const uint8_t* pixels,
                                      bool reverseRows) {
  std::vector<uint8_t> file;
  if (header.width <= 0 || header.height <= 0 ||
      static_cast<int64_t>(header.width) * header.height > kMaxRawTexturePixels ||
      (header.depth != 3 && header.depth != 4) || pixels == nullptr)
    return file;
  const size_t row = static_cast<size_t>(header.width) * static_cast<size_t>(header.depth);
  file.reserve(kRawHeaderSize + header.DataSize());
  for (int32_t value : {header.width, header.height, header.depth}) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) file.push_back(static_cast<uint8_t>(bits >> shift));
  }
  for (int32_t i = 0; i < header.height; i++) {
    const int32_t y = reverseRows ? header.height - 1 - i : i;
    const uint8_t* source = pixels + row * static_cast<size_t>(y);
    file.insert(file.end(), source, source + row);
  }
  return file;
}

RawTextureError DecodeRawTexture(const uint8_t* data, size_t size, RawTextureHeader& header,
                                 csRGBpixel*& pixels) {
  pixels = nullptr;
  RawTextureError error = ParseRawTextureHeader(data, size, header);
  if (error != RawTextureError::None) return error;
  if (size - kRawHeaderSize < header.DataSize()) return RawTextureError::Truncated;
  pixels = new (std::nothrow)
      csRGBpixel[static_cast<size_t>(header.width) * static_cast<size_t>(header.height)];
  if (pixels == nullptr) return RawTextureError::BadSize;
  ConvertRawTexturePixels(header, data + kRawHeaderSize, pixels);
  return RawTextureError::None;
}

}  // namespace rigweave
