#include "viewer/animated_output.h"

#include <gif_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace rwview {
namespace {

// The browsers' loop extension: play the frames over and over.
bool PutLoop(GifFileType* gif) {
  static const unsigned char kApplication[] = "NETSCAPE2.0";
  static const unsigned char kForever[] = {1, 0, 0};
  return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, kApplication) == GIF_OK &&
         EGifPutExtensionBlock(gif, 3, kForever) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
}

}  // namespace

int AnimatedGif::Put(GifFileType* gif, const unsigned char* bytes, int count) {
  AnimatedGif& self = *static_cast<AnimatedGif*>(gif->UserData);
  if (self.writeError_ != 0) return 0;
  if (std::fwrite(bytes, 1, static_cast<size_t>(count), self.file_) != static_cast<size_t>(count)) {
    self.writeError_ = errno != 0 ? errno : EIO;
    return 0;
  }
  return count;
}

AnimatedGif::~AnimatedGif() {
  Discard();
}

void AnimatedGif::Discard() {
  if (gif_ != nullptr) {
    int ignored = 0;
    EGifCloseFile(gif_, &ignored);
    gif_ = nullptr;
  }
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!aside_.empty()) unlink(aside_.c_str());
  aside_.clear();
}

bool AnimatedGif::Open(const std::string& path, int width, int height, std::string& error) {
  const std::filesystem::path target(path);
  aside_ = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(aside_.data());
  if (fd < 0) {
    error = path + ": cannot be written (" + std::strerror(errno) + ")";
    aside_.clear();
    return false;
  }
  // As a file made by open() would be, not mkstemp's owner-only.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) close(fd);
  path_ = path;
  width_ = width;
  height_ = height;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  red_.resize(pixels);
  green_.resize(pixels);
  blue_.resize(pixels);
  indices_.resize(pixels);
  int status = 0;
  gif_ = file_ != nullptr ? EGifOpen(this, &AnimatedGif::Put, &status) : nullptr;
  if (gif_ != nullptr) {
    EGifSetGifVersion(gif_, true);
    if (EGifPutScreenDesc(gif_, width, height, 8, 0, nullptr) == GIF_OK && PutLoop(gif_))
      return true;
  }
  error = path + ": cannot be written (" +
          (writeError_ != 0 ? std::strerror(writeError_) : "the GIF could not be started") + ")";
  Discard();
  return false;
}

bool AnimatedGif::Add(const Picture& picture, int centiseconds, std::string& error) {
  const size_t pixels = indices_.size();
  for (size_t i = 0; i < pixels; i++) {
    red_[i] = picture.rgb[3 * i];
    green_[i] = picture.rgb[3 * i + 1];
    blue_[i] = picture.rgb[3 * i + 2];
  }
  GifColorType colours[256];
  int colourCount = 256;
  const unsigned char control[4] = {0, static_cast<unsigned char>(centiseconds & 0xff),
                                    static_cast<unsigned char>((centiseconds >> 8) & 0xff), 0};
  ColorMapObject palette{};
  bool ok = GifQuantizeBuffer(static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                              &colourCount, red_.data(), green_.data(), blue_.data(),
                              indices_.data(), colours) == GIF_OK;
  palette.ColorCount = 256;  // GIF palettes hold a power of two; the rest go unused
  palette.BitsPerPixel = 8;
  palette.Colors = colours;
  for (int c = colourCount; c < 256; c++) colours[c] = {0, 0, 0};
  ok = ok && EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK &&
       EGifPutImageDesc(gif_, 0, 0, width_, height_, false, &palette) == GIF_OK;
  for (int y = 0; ok && y < height_; y++)
    ok = EGifPutLine(gif_, indices_.data() + static_cast<size_t>(y) * width_, width_) == GIF_OK;
  if (!ok) {
    error = path_ + ": cannot be written (" +
            (writeError_ != 0 ? std::strerror(writeError_) : "giflib refused a frame") + ")";
    return false;
  }
  frames_++;
  return true;
}

bool AnimatedGif::Finish(std::string& error) {
  int status = 0;
  const bool closed = EGifCloseFile(gif_, &status) == GIF_OK;
  gif_ = nullptr;
  int failure = writeError_;
  if (std::fflush(file_) != 0 && failure == 0) failure = errno;
  if (std::fclose(file_) != 0 && failure == 0) failure = errno;
  file_ = nullptr;
  if (failure == 0 && !closed) failure = EIO;
  if (failure == 0 && std::rename(aside_.c_str(), path_.c_str()) != 0) failure = errno;
  if (failure != 0) {
    error = path_ + ": cannot be written (" + std::strerror(failure) + ")";
    Discard();
    return false;
  }
  aside_.clear();
  return true;
}

}  // namespace rwview
