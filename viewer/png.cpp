#include "viewer/png.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// stb_image_write hands the encoded file over in pieces; the first piece
// that does not go in is remembered, the rest are dropped.
struct Sink {
  std::FILE* file = nullptr;
  int error = 0;
};

void Put(void* context, void* data, int size) {
  Sink& sink = *static_cast<Sink*>(context);
  if (sink.error == 0 && size > 0 &&
      std::fwrite(data, 1, static_cast<size_t>(size), sink.file) != static_cast<size_t>(size))
    sink.error = errno != 0 ? errno : EIO;
}

// Encodes into the open file `fd`; 0, or the errno of the first failure
// (the close included: a full disk may only show there).
int EncodeInto(int fd, const Picture& picture) {
  Sink sink;
  sink.file = fdopen(fd, "wb");
  if (sink.file == nullptr) {
    const int error = errno;
    close(fd);
    return error;
  }
  errno = 0;
  if (stbi_write_png_to_func(&Put, &sink, picture.width, picture.height, 3, picture.rgb.data(),
                             picture.width * 3) == 0 &&
      sink.error == 0)
    sink.error = ENOMEM;
  if (std::fflush(sink.file) != 0 && sink.error == 0) sink.error = errno;
  if (std::fclose(sink.file) != 0 && sink.error == 0) sink.error = errno;
  return sink.error;
}

}  // namespace

bool WritePng(const std::string& path, const Picture& picture, std::string* error) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    SetError(error, path + ": no picture to write");
    return false;
  }
  // Written aside in the same folder and renamed into place, so that no
  // half-written picture ever has the name.
  const std::filesystem::path target(path);
  std::string aside =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(aside.data());
  if (fd < 0) {
    SetError(error, path + ": cannot be written (" + std::strerror(errno) + ")");
    return false;
  }
  // As a file made by open() would be, not mkstemp's owner-only.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  int failure = EncodeInto(fd, picture);
  if (failure == 0 && std::rename(aside.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    unlink(aside.c_str());
    SetError(error, path + ": cannot be written (" + std::strerror(failure) + ")");
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
