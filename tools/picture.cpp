#include "tools/picture.h"

#include <fcntl.h>
#include <stb_image.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
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

uint32_t Big32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint32_t Little32(const uint8_t* p) {
  return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[1]) << 8 | p[0];
}
uint32_t Little16(const uint8_t* p) {
  return static_cast<uint32_t>(p[1]) << 8 | p[0];
}

enum class Format { Tga, Png, Jpeg, Bmp, Other };

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

// What stb_image would take the bytes for, told as it tells them: by their
// first bytes, TGA (which has no mark) last. The formats with a mark that the
// programs do not take (GIF, PSD, PIC, PNM, Radiance HDR) come back as Other
// with their name, so that they are refused before stb_image sees them: its
// readers of those leave pixels unwritten when the data ends early.
Format FormatOf(const uint8_t* data, size_t size, const char*& name) {
  name = nullptr;
  if (StartsWith(data, size, kPngSignature)) return Format::Png;
  if (StartsWith(data, size, std::string_view("\xff\xd8", 2))) return Format::Jpeg;
  if (StartsWith(data, size, "BM")) return Format::Bmp;
  struct Refused {
    std::string_view magic;
    const char* name;
  };
  for (const Refused& refused :
       {Refused{"GIF8", "a GIF picture"}, Refused{"8BPS", "a Photoshop picture"},
        Refused{std::string_view("\x53\x80\xf6\x34", 4), "a Softimage PIC picture"},
        Refused{"P5", "a PNM picture"}, Refused{"P6", "a PNM picture"},
        Refused{"#?RADIANCE", "a Radiance HDR picture"},
        Refused{"#?RGBE", "a Radiance HDR picture"}})
    if (StartsWith(data, size, refused.magic)) {
      name = refused.name;
      return Format::Other;
    }
  return Format::Tga;
}

// The pixel data a TGA file must hold for stb_image to write every pixel of
// its picture: uncompressed, width x height pixels; run-length, packets that
// add up to that many. Null when the file holds them all (or is no TGA),
// else why not.
const char* MissingTgaPixels(const uint8_t* data, size_t size) {
  if (size < 18) return nullptr;
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

// A BMP file must hold every row its header announces, after the offset it
// gives them at (or after the header and masks, should the offset point
// inside them); stb_image reads zeros past the end and calls it a picture.
const char* MissingBmpRows(const uint8_t* data, size_t size) {
  if (size < 30) return "cut short inside its header";
  const uint64_t offset = Little32(data + 10), headerSize = Little32(data + 14);
  uint64_t width, height, bits, compression = 0;
  if (headerSize == 12) {
    width = Little16(data + 18);
    height = Little16(data + 20);
    bits = Little16(data + 24);
  } else {
    if (size < 34) return "cut short inside its header";
    const int64_t w = static_cast<int32_t>(Little32(data + 18));
    const int64_t h = static_cast<int32_t>(Little32(data + 22));
    width = static_cast<uint64_t>(w < 0 ? -w : w);
    height = static_cast<uint64_t>(h < 0 ? -h : h);
    bits = Little16(data + 28);
    compression = Little32(data + 30);
  }
  // Run-length and embedded JPEG or PNG rows, and sizes beyond 2^24 each
  // way: stb_image refuses those itself.
  if ((compression != 0 && compression != 3) || width > (1u << 24) || height > (1u << 24))
    return nullptr;
  const uint64_t masks = headerSize == 40 && compression == 3 ? 12 : 0;
  const uint64_t start = std::max(offset, 14 + headerSize + masks);
  const uint64_t stride = (width * bits + 31) / 32 * 4;
  return start + stride * height <= size ? nullptr : "cut short";
}

// A JPEG file must reach its end-of-image marker: stb_image decodes a file
// cut inside its compressed data as if zeros followed. Markers are walked
// segment by segment; inside a scan only a marker ends the data (an 0xff byte
// of data is followed by 0x00, a restart marker belongs to the scan).
const char* MissingJpegEnd(const uint8_t* data, size_t size) {
  size_t at = 2;
  bool inScan = false;
  while (at + 1 < size) {
    if (inScan) {
      const uint8_t next = data[at + 1];
      if (data[at] != 0xff || next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
        at += data[at] == 0xff ? 2 : 1;
        continue;
      }
      if (next == 0xff) {
        at++;
        continue;
      }
      inScan = false;
    }
    if (data[at] != 0xff) return nullptr;  // not a marker: damaged, stb_image says how
    const uint8_t marker = data[at + 1];
    if (marker == 0xff) {  // fill byte
      at++;
      continue;
    }
    if (marker == 0xd9) return nullptr;
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {
      at += 2;
      continue;
    }
    if (at + 4 > size) break;
    const size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
    if (length < 2) return nullptr;
    at += 2 + length;
    if (marker == 0xda) inScan = true;
  }
  return "cut short: no end-of-image marker";
}

// Bytes of filtered rows a PNG's pixel data must inflate to: a filter byte
// and the packed pixels of each row, for each of the seven passes when
// interlaced.
uint64_t PngRowBytes(uint64_t width, uint64_t height, uint64_t bitsPerPixel, bool interlaced) {
  if (!interlaced) return height * (1 + (width * bitsPerPixel + 7) / 8);
  static const int kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
  static const int kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
  uint64_t total = 0;
  for (int pass = 0; pass < 7; pass++) {
    const uint64_t w = width > static_cast<uint64_t>(kX0[pass])
                           ? (width - kX0[pass] + kDx[pass] - 1) / kDx[pass]
                           : 0;
    const uint64_t h = height > static_cast<uint64_t>(kY0[pass])
                           ? (height - kY0[pass] + kDy[pass] - 1) / kDy[pass]
                           : 0;
    if (w != 0 && h != 0) total += h * (1 + (w * bitsPerPixel + 7) / 8);
  }
  return total;
}

// Bits a pixel of a PNG's colour type and bit depth takes, 0 for a
// combination the format does not have.
uint64_t PngBitsPerPixel(int colourType, int bitDepth) {
  if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8 && bitDepth != 16) return 0;
  switch (colourType) {
    case 0:
    case 3:
      return static_cast<uint64_t>(bitDepth);
    case 2:
      return 3u * bitDepth;
    case 4:
      return 2u * bitDepth;
    case 6:
      return 4u * bitDepth;
    default:
      return 0;
  }
}

// Walks the chunks up to IEND and inflates the IDAT data into a small
// buffer that is only counted: the work stops as soon as it passes
// `expected`, whatever the compressed stream claims. Empty when the data
// inflates to exactly `expected` bytes.
std::string CheckPngPixelData(const uint8_t* data, size_t size, uint64_t expected,
                              const std::string& header) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return "cannot be decoded (no memory to inflate)";
  std::unique_ptr<z_stream, int (*)(z_stream*)> owner(&stream, inflateEnd);
  static thread_local uint8_t sink[64 << 10];
  uint64_t inflated = 0;
  bool ended = false;
  for (size_t at = 8;;) {
    if (size - at < 12) return "cut short";
    const uint64_t length = Big32(data + at);
    if (length > size - at - 12) return "cut short";
    const uint8_t* type = data + at + 4;
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IDAT", 4) == 0 && !ended) {
      stream.next_in = const_cast<uint8_t*>(data + at + 8);
      stream.avail_in = static_cast<uInt>(length);
      while (stream.avail_in > 0 && !ended) {
        stream.next_out = sink;
        stream.avail_out = sizeof sink;
        const uInt before = stream.avail_in;
        const int result = inflate(&stream, Z_NO_FLUSH);
        const uInt produced = static_cast<uInt>(sizeof sink) - stream.avail_out;
        inflated += produced;
        if (inflated > expected)
          return "its pixel data inflates to more than its " + header + " header allows";
        if (result == Z_STREAM_END)
          ended = true;
        else if (result != Z_OK &&
                 (result != Z_BUF_ERROR || (produced == 0 && stream.avail_in == before)))
          return "damaged pixel data";
      }
    }
    at += 12 + length;
  }
  if (!ended) return "cut short: its pixel data ends early";
  if (inflated < expected) return "its pixel data ends before the " + header + " picture";
  return std::string();
}

std::string CheckPngData(const uint8_t* data, size_t size) {
  if (size < 8 + 12 + 13 || Big32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
    return "a PNG file without its header";
  const uint64_t width = Big32(data + 16), height = Big32(data + 20);
  const std::string header = std::to_string(width) + "x" + std::to_string(height);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    return header + " is not a picture size";
  if (width * height > static_cast<uint64_t>(rigweave::kMaxRawTexturePixels))
    return header + " is more than the module loads (" +
           std::to_string(rigweave::kMaxRawTexturePixels) + " pixels)";
  const uint64_t bitsPerPixel = PngBitsPerPixel(data[25], data[24]);
  if (bitsPerPixel == 0) return "a PNG file of an unknown colour type or bit depth";
  return CheckPngPixelData(data, size, PngRowBytes(width, height, bitsPerPixel, data[28] == 1),
                           header);
}

}  // namespace

std::string CheckPictureData(const uint8_t* data, size_t size) {
  const char* refused = nullptr;
  const char* missing = nullptr;
  switch (FormatOf(data, size, refused)) {
    case Format::Other:
      return std::string(refused) + ", not TGA, PNG, JPEG or BMP";
    case Format::Png:
      return CheckPngData(data, size);
    case Format::Jpeg:
      missing = MissingJpegEnd(data, size);
      if (missing != nullptr) return std::string("a JPEG file ") + missing;
      break;
    case Format::Bmp:
      missing = MissingBmpRows(data, size);
      if (missing != nullptr) return std::string("a BMP file ") + missing;
      break;
    case Format::Tga:
      missing = MissingTgaPixels(data, size);
      if (missing != nullptr) return std::string("a TGA file ") + missing;
      break;
  }
  return std::string();
}

bool DecodePicture(const uint8_t* data, size_t size, int depth, DecodedPicture& picture,
                   std::string& error) {
  picture = DecodedPicture();
  if (size > kMaxPictureFileBytes || size > static_cast<size_t>(INT32_MAX)) {
    error = "larger than " + std::to_string(kMaxPictureFileBytes >> 20) + " MiB";
    return false;
  }
  const char* refused = nullptr;
  const Format format = FormatOf(data, size, refused);
  // A PNG's own header is read first: stb_image's refuses sizes it does not
  // handle without saying so.
  if (format == Format::Png || format == Format::Other) {
    error = CheckPictureData(data, size);
    if (!error.empty()) return false;
  }
  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  // The header alone: a picture too large is refused before its pixels are decoded.
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) {
    error = "not a picture stb_image reads (TGA, PNG, JPEG, BMP)";
    return false;
  }
  // A BMP keeps its rows top first when its height is negative; stb_image
  // tells that height as it is, and turns the rows round itself.
  if (format == Format::Bmp && height < 0 && height != INT32_MIN) height = -height;
  if (width <= 0 || height <= 0 ||
      static_cast<int64_t>(width) * height > rigweave::kMaxRawTexturePixels) {
    error = std::to_string(width) + "x" + std::to_string(height) +
            " is more than the module loads (" + std::to_string(rigweave::kMaxRawTexturePixels) +
            " pixels)";
    return false;
  }
  if (format != Format::Png) {
    error = CheckPictureData(data, size);
    if (!error.empty()) return false;
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

namespace {

// A name beside `path` that no file has: created here, never opened through a
// link or over someone else's file, so that a link planted at a name it could
// have cannot redirect the write.
int CreateAside(const std::string& path, std::string& temporary) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    temporary = path + ".part" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
  std::string temporary;
  const int fd = CreateAside(path, temporary);
  if (fd < 0) {
    error = "cannot be written (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  // A full disk may only say so when the data reaches it: at fsync or close.
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  struct stat status {};
  if (ok && (stat(temporary.c_str(), &status) != 0 ||
             static_cast<uint64_t>(status.st_size) != bytes.size())) {
    ok = false;
    saved = EIO;
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    error = "cannot be written (" + std::string(std::strerror(saved)) + ")";
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace rwtools
