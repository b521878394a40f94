// The frames of a run as one animated GIF (through giflib), written as they
// are rendered: each frame gets a palette of its own, quantised from its
// pixels, and shows for its share of the run's time. Like every picture of
// the viewer it is written aside and renamed into place only when whole.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "viewer/png.h"

struct GifFileType;

namespace rwview {

// What a GIF may hold in all, width x height x frames: every pixel is a
// palette index before compression, so the file stays below about that many
// bytes (320x240 frames: 3495 of them, a little over two minutes at 24 fps).
constexpr double kMaxGifPixels = 256.0 * 1024 * 1024;

class AnimatedGif {
 public:
  AnimatedGif() = default;
  ~AnimatedGif();  // a GIF never finished is removed
  AnimatedGif(const AnimatedGif&) = delete;
  AnimatedGif& operator=(const AnimatedGif&) = delete;

  // Starts the file aside `path`; false, with the reason in `error`.
  bool Open(const std::string& path, int width, int height, std::string& error);
  // Adds a frame shown for `centiseconds`; false, with the reason.
  bool Add(const Picture& picture, int centiseconds, std::string& error);
  // Ends the file and renames it into place; false, with the reason.
  bool Finish(std::string& error);

  bool IsOpen() const { return gif_ != nullptr; }
  int Frames() const { return frames_; }

 private:
  void Discard();
  // giflib's output: into the file, the first failure remembered.
  static int Put(GifFileType* gif, const unsigned char* bytes, int count);

  std::string path_, aside_;
  std::FILE* file_ = nullptr;
  GifFileType* gif_ = nullptr;
  int width_ = 0, height_ = 0, frames_ = 0;
  int writeError_ = 0;  // errno of the first write that failed
  std::vector<unsigned char> red_, green_, blue_, indices_;
};

}  // namespace rwview
