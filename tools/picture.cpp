#include "tools/picture.h"

#include <stb_image.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "formats/raw_texture.h"

namespace rwtools {
namespace {

struct StbFree {
  void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

bool StartsWith(const uint8_t* data, size_t size, std::string_view magic) {
  return size >= magic.size() && std::memcmp(data, magic.data(), magic.size()) == 0;
}

// Formats stb_image recognises by their first bytes; TGA has no such mark
// and is what stb_image tries last.
bool HasKnownMagic(const uint8_t* data, size_t size) {
  for (std::string_view magic :
       {std::string_view("\x89PNG", 4), std::string_view("\xff\xd8", 2), std::string_view("BM"),
        std::string_view("GIF8"), std::string_view("8BPS"), std::string_view("#?RADIANCE"),
        std::string_view("P5"), std::string_view("P6")})
    if (StartsWith(data, size, magic)) return true;
  return false;
}

// The pixel data a TGA file must hold for stb_image to write every pixel of
// its picture: uncompressed, width x height pixels; run-length, packets that
// add up to that many. Null when the file holds them all (or is no TGA),
// else why not.
const char* MissingTgaPixels(const uint8_t* data, size_t size) {
  if (size < 18 || HasKnownMagic(data, size)) return nullptr;
  const int colormapType = data[1], imageType = data[2];
  const bool mapped = colormapType == 1 && (imageType == 1 || imageType == 9);
  const bool plain =
      colormapType == 0 && (imageType == 2 || imageType == 3 || imageType == 10 || imageType == 11);
  if (!mapped && !plain) return nullptr;
  const uint64_t width = data[12] | (data[13] << 8), height = data[14] | (data[15] << 8);
  const int bits = data[16];
  if (width == 0 || height == 0) return nullptr;
  const uint64_t pixelBytes = (static_cast<uint64_t>(bits) + 7) / 8;
  if (pixelBytes == 0 || pixelBytes > 4) return nullptr;
  uint64_t offset = 18 + static_cast<uint64_t>(data[0]);
  if (colormapType == 1) {
    const uint64_t entries = data[5] | (data[6] << 8);
    offset += entries * ((static_cast<uint64_t>(data[7]) + 7) / 8);
  }
  const uint64_t pixels = width * height;
  if (imageType < 8) return offset + pixels * pixelBytes <= size ? nullptr : "cut short";
  uint64_t done = 0, at = offset;
  while (done < pixels) {
    if (at >= size) return "cut short: fewer run-length packets than pixels";
    const uint8_t packet = data[at++];
    const uint64_t count = (packet & 0x7fu) + 1;
    const uint64_t bytes = (packet & 0x80u) != 0 ? pixelBytes : count * pixelBytes;
    if (at + bytes > size) return "cut short inside a run-length packet";
    at += bytes;
    done += count;
  }
  return nullptr;
}

}  // namespace

bool DecodePicture(const uint8_t* data, size_t size, int depth, DecodedPicture& picture,
                   std::string& error) {
  picture = DecodedPicture();
  if (size > kMaxPictureFileBytes || size > static_cast<size_t>(INT32_MAX)) {
    error = "larger than " + std::to_string(kMaxPictureFileBytes >> 20) + " MiB";
    return false;
  }
  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  // The header alone: a picture too large is refused before its pixels are decoded.
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) {
    // stb_image refuses a PNG header of more than 2^30 bytes of pixels
    // without saying why: its size is read here to say it.
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto big = [data](size_t at) {
      return uint64_t{data[at]} << 24 | uint64_t{data[at + 1]} << 16 | uint64_t{data[at + 2]} << 8 |
             data[at + 3];
    };
    if (size >= 24 && std::memcmp(data, kPng, sizeof kPng) == 0 &&
        big(16) * big(20) > static_cast<uint64_t>(rigweave::kMaxRawTexturePixels)) {
      error = std::to_string(big(16)) + "x" + std::to_string(big(20)) +
              " is more than the module loads (" + std::to_string(rigweave::kMaxRawTexturePixels) +
              " pixels)";
    } else {
      error = "not a picture stb_image reads (TGA, PNG, JPEG, BMP)";
    }
    return false;
  }
  // A BMP stored top row first gives its height negated; stb_image reads it.
  if (height < 0 && height != INT32_MIN) height = -height;
  if (width <= 0 || height <= 0 ||
      static_cast<int64_t>(width) * height > rigweave::kMaxRawTexturePixels) {
    error = std::to_string(width) + "x" + std::to_string(height) +
            " is more than the module loads (" + std::to_string(rigweave::kMaxRawTexturePixels) +
            " pixels)";
    return false;
  }
  if (const char* missing = MissingTgaPixels(data, size)) {
    error = std::string("a TGA file ") + missing;
    return false;
  }
  picture.fileHasAlpha = channels == 2 || channels == 4;
  picture.depth = depth != 0 ? depth : picture.fileHasAlpha ? 4 : 3;
  int w = 0, h = 0, c = 0;
  // stb_image hands rows back top row first whatever order the file keeps them in.
  std::unique_ptr<unsigned char, StbFree> pixels(
      stbi_load_from_memory(data, length, &w, &h, &c, picture.depth));
  if (!pixels) {
    const char* reason = stbi_failure_reason();
    error = std::string("cannot be decoded (") +
            (reason != nullptr && *reason != '\0' ? reason : "damaged or cut short") + ")";
    return false;
  }
  if (w != width || h != height) {
    error = "cannot be decoded (its header and its pixels disagree)";
    return false;
  }
  picture.width = w;
  picture.height = h;
  const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * picture.depth;
  picture.pixels.assign(pixels.get(), pixels.get() + bytes);
  return true;
}

std::vector<uint8_t> RawTextureFile(const DecodedPicture& picture, bool topFirst) {
  // stb_image hands the picture's top row first; v = 0 reads the file's last row.
  return rigweave::EncodeRawTexture({picture.width, picture.height, picture.depth},
                                    picture.pixels.data(), !topFirst);
}

bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
  const std::string temporary = path + ".part" + std::to_string(getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot be written (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot be written (" + std::string(std::strerror(errno)) + ")";
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace rwtools
