// Decodes the input as a raw texture file and checks the outcome against
// the bytes: the loader trusts a successful decode without looking again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "formats/raw_texture.h"

namespace {

using rigweave::RawTextureError;
using rigweave::RawTextureHeader;

[[noreturn]] void Fail(const char* what, size_t size) {
  std::fprintf(stderr, "raw texture invariant broken: %s (input of %zu bytes)\n", what, size);
  std::abort();
}

#define CHECK(cond)                 \
  do {                              \
    if (!(cond)) Fail(#cond, size); \
  } while (0)

int32_t LE32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 |
                              static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RawTextureHeader header;
  // Starts non-null so that a failure which leaves it untouched is seen.
  csRGBpixel sentinel;
  csRGBpixel* raw = &sentinel;
  const RawTextureError error = rigweave::DecodeRawTexture(data, size, header, raw);
  CHECK(raw != &sentinel);
  const std::unique_ptr<csRGBpixel[]> pixels(raw);
  CHECK(rigweave::RawTextureErrorText(error) != nullptr);

  // The header check alone must agree with the whole decode.
  RawTextureHeader alone;
  const RawTextureError headerError = rigweave::ParseRawTextureHeader(data, size, alone);

  if (error != RawTextureError::None) {
    CHECK(pixels == nullptr);
    if (size < rigweave::kRawHeaderSize) CHECK(error == RawTextureError::ShortHeader);
    if (error == RawTextureError::Truncated) {
      CHECK(headerError == RawTextureError::None);
      CHECK(size - rigweave::kRawHeaderSize < alone.DataSize());
    } else {
      CHECK(headerError == error ||
            (error == RawTextureError::BadSize && headerError == RawTextureError::None));
    }
    return 0;
  }

  CHECK(headerError == RawTextureError::None);
  CHECK(pixels != nullptr);
  CHECK(size >= rigweave::kRawHeaderSize);
  CHECK(header.width == LE32(data) && header.height == LE32(data + 4) &&
        header.depth == LE32(data + 8));
  CHECK(header.width > 0 && header.height > 0);
  CHECK(static_cast<int64_t>(header.width) * header.height <= rigweave::kMaxRawTexturePixels);
  CHECK(header.depth == 3 || header.depth == 4);
  CHECK(size - rigweave::kRawHeaderSize >= header.DataSize());

  // Every pixel, from the row the file keeps it in: the file's first row is
  // the picture's bottom row.
  const size_t width = static_cast<size_t>(header.width);
  const size_t height = static_cast<size_t>(header.height);
  const size_t depth = static_cast<size_t>(header.depth);
  for (size_t y = 0; y < height; y++) {
    const uint8_t* row = data + rigweave::kRawHeaderSize + (height - 1 - y) * width * depth;
    for (size_t x = 0; x < width; x++) {
      const csRGBpixel& p = pixels[y * width + x];
      const uint8_t* src = row + x * depth;
      CHECK(p.red == src[0] && p.green == src[1] && p.blue == src[2]);
      CHECK(p.alpha == (depth == 4 ? src[3] : 255));
    }
  }
  return 0;
}
