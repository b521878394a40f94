// Running the programs and looking at their pictures.
#pragma once

#include <cstdint>
#include <string>

#include "viewer/png.h"

namespace rwtest {

// A fresh folder below the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int status = -1;  // the exit code; -1 when the program did not exit normally
  std::string out, err;
};

// Runs a shell command line, capturing both outputs.
RunResult Run(const std::string& command);
// rigweave-view with the build folder as its root, then `arguments`.
RunResult RunView(const std::string& arguments);

rwview::Picture LoadPicture(const std::string& path);

struct Rgb {
  int r, g, b;
};
Rgb PixelAt(const rwview::Picture& picture, int x, int y);
// Largest difference over the three channels.
int Distance(const uint8_t* pixel, Rgb colour);
// Share of pixels within `tolerance` of the colour.
double ShareNear(const rwview::Picture& picture, Rgb colour, int tolerance);
// Share of pixels farther than `tolerance` from the colour.
double ShareAwayFrom(const rwview::Picture& picture, Rgb colour, int tolerance);
// Share of pixels at the same place that differ by more than `tolerance`.
double ShareDiffering(const rwview::Picture& a, const rwview::Picture& b, int tolerance);
rwview::Picture FlippedLeftRight(const rwview::Picture& picture);

}  // namespace rwtest
