#include "support/programs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/files.h"

namespace rwtest {

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "rigweave-view-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

RunResult Run(const std::string& command) {
  TempDir capture;
  const std::string line =
      command + " >" + (capture / "out") + " 2>" + (capture / "err") + " </dev/null";
  const int raw = std::system(line.c_str());
  RunResult result;
  result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadFile(capture / "out");
  result.err = ReadFile(capture / "err");
  return result;
}

RunResult RunView(const std::string& arguments) {
  return Run(std::string(RIGWEAVE_VIEW) + " --root " + RIGWEAVE_BUILD_DIR + " " + arguments);
}

rwview::Picture LoadPicture(const std::string& path) {
  rwview::Picture picture;
  std::string error;
  if (!rwview::ReadPng(path, picture, &error)) throw std::runtime_error(error);
  return picture;
}

Rgb PixelAt(const rwview::Picture& picture, int x, int y) {
  const uint8_t* p = picture.At(x, y);
  return {p[0], p[1], p[2]};
}

int Distance(const uint8_t* pixel, Rgb colour) {
  return std::max({std::abs(pixel[0] - colour.r), std::abs(pixel[1] - colour.g),
                   std::abs(pixel[2] - colour.b)});
}

double ShareNear(const rwview::Picture& picture, Rgb colour, int tolerance) {
  const size_t pixels = picture.rgb.size() / 3;
  size_t near = 0;
  for (size_t i = 0; i < pixels; i++) near += Distance(&picture.rgb[3 * i], colour) <= tolerance;
  return pixels == 0 ? 0.0 : static_cast<double>(near) / pixels;
}

double ShareAwayFrom(const rwview::Picture& picture, Rgb colour, int tolerance) {
  return picture.rgb.empty() ? 0.0 : 1.0 - ShareNear(picture, colour, tolerance);
}

double ShareDiffering(const rwview::Picture& a, const rwview::Picture& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) return 1.0;
  const size_t pixels = a.rgb.size() / 3;
  size_t differing = 0;
  for (size_t i = 0; i < pixels; i++) {
    const uint8_t* p = &b.rgb[3 * i];
    differing += Distance(&a.rgb[3 * i], {p[0], p[1], p[2]}) > tolerance;
  }
  return pixels == 0 ? 0.0 : static_cast<double>(differing) / pixels;
}

rwview::Picture FlippedLeftRight(const rwview::Picture& picture) {
  rwview::Picture flipped = picture;
  for (int y = 0; y < picture.height; y++)
    for (int x = 0; x < picture.width; x++)
      std::copy_n(picture.At(picture.width - 1 - x, y), 3, flipped.At(x, y));
  return flipped;
}

}  // namespace rwtest
