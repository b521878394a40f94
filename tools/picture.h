// Pictures (TGA, PNG, JPEG, BMP) decoded by stb_image into the module's raw
// texture format, for rigweave-raw and rigweave-import. Decoding is pure so
// that tests call it on bytes; the size is checked from the file's header
// before a pixel is decoded, and a file must hold every pixel it announces:
// stb_image leaves the rest of its buffer unwritten, or reads zeros past the
// end, and calls the result a picture. The other formats stb_image knows
// (GIF, PSD, PIC, PNM, HDR) are refused by their first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rwtools {

// Picture files are read whole: an uncompressed 4096 x 4096 RGBA TGA or BMP,
// the largest the module loads, is 64 MiB.
constexpr uint64_t kMaxPictureFileBytes = 256u << 20;

struct DecodedPicture {
  int width = 0;
  int height = 0;
  int depth = 0;                // bytes a pixel in `pixels`: 3 or 4
  bool fileHasAlpha = false;    // the file keeps an alpha channel
  std::vector<uint8_t> pixels;  // top row first
};

// Why the bytes are not a whole TGA, PNG, JPEG or BMP file, or empty when
// nothing is missing: a TGA's pixels or run-length packets, a BMP's rows, a
// JPEG's end-of-image marker, a PNG's chunks up to IEND and pixel data that
// inflates to exactly what its header allows (inflated into a counter, never
// further than that). Other formats are refused by name.
std::string CheckPictureData(const uint8_t* data, size_t size);

// `depth` 3 or 4 asks for that many channels; 0 takes 4 when the file has
// alpha, else 3. False, with the reason in `error`, for anything that is not
// a whole picture of at most rigweave::kMaxRawTexturePixels pixels.
bool DecodePicture(const uint8_t* data, size_t size, int depth, DecodedPicture& picture,
                   std::string& error);

// The bytes of a raw texture file, whose last row is the one v = 0 reads:
// the picture's top row last (Cal3D's exporters count v from the top), or
// with `topFirst` its bottom row last (v growing upwards).
std::vector<uint8_t> RawTextureFile(const DecodedPicture& picture, bool topFirst);

// Writes `bytes` to a new file beside `path` (created exclusively, never
// through a symbolic link), flushes it to the disk, checks its size and
// renames it over `path`, so that a failure, a full disk included, leaves no
// half-written file. False, with the reason.
bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace rwtools
