// The module's raw texture format: little-endian 32-bit width, height and
// depth (bytes per pixel: 3 for RGB, 4 for RGBA), then `height` rows of
// width * depth bytes. The file's last row is the one texture coordinate
// v = 0 reads: decoding turns the rows over, and the renderer puts image row
// 0 at v = 0. Writers choose their row order by that rule alone. Encoding
// and decoding are pure so that tests and fuzzers can call them on bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/engine_loading.h"

namespace rigweave {

struct RawTextureHeader {
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 0;
  // Bytes of pixel data that follow the header.
  size_t DataSize() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(depth);
  }
};

constexpr size_t kRawHeaderSize = 12;
// Large enough for any texture a character uses, small enough that a corrupt
// header cannot ask for gigabytes.
constexpr int64_t kMaxRawTexturePixels = 4096 * 4096;
// The largest raw texture file worth reading: the largest picture at four
// bytes a pixel, with room for bytes an exporter leaves after the rows.
constexpr size_t kMaxRawTextureFileBytes = kRawHeaderSize + kMaxRawTexturePixels * 4 + (1 << 20);

enum class RawTextureError {
  None,
  ShortHeader,  // fewer than 12 bytes
  BadSize,      // width or height not positive, or too many pixels
  BadDepth,     // depth other than 3 or 4
  Truncated,    // fewer pixel bytes than the header announces
};

const char* RawTextureErrorText(RawTextureError error);

// Reads and validates the 12-byte header.
RawTextureError ParseRawTextureHeader(const uint8_t* data, size_t size, RawTextureHeader& header);

// Turns the pixel rows that follow a valid header into width × height pixels,
// reversing the row order. `rows` holds header.DataSize() bytes.
void ConvertRawTexturePixels(const RawTextureHeader& header, const uint8_t* rows,
                             csRGBpixel* pixels);

// The bytes of a raw texture file: the header, then `height` rows of
// `pixels` (width * depth bytes each, first row first in memory), in that
// order or, with `reverseRows`, last row first. Empty for a size or depth the
// decoder would refuse.
std::vector<uint8_t> EncodeRawTexture(const RawTextureHeader& header, const uint8_t* pixels,
                                      bool reverseRows);

// Decodes a whole file held in memory. On success `pixels` is a new[] array
// of width × height pixels owned by the caller; otherwise it is null.
RawTextureError DecodeRawTexture(const uint8_t* data, size_t size, RawTextureHeader& header,
                                 csRGBpixel*& pixels);

}  // namespace rigweave
