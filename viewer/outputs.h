// Where the pictures go: the --out folder (made, with any folders above it,
// and checked before anything is rendered) and the --screenshot file. A run
// that does not finish leaves nothing behind: the files it wrote and the
// folders it made are removed, unless the run is kept.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "viewer/animated_output.h"
#include "viewer/png.h"

namespace rwview {

class Outputs {
 public:
  Outputs(std::string out, std::string screenshot, std::string gif = {})
      : out_(std::move(out)), screenshot_(std::move(screenshot)), gif_(std::move(gif)) {}
  ~Outputs();
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  // Makes the --out folder and checks that both outputs can be written;
  // throws Failure.
  void Check();

  bool KeepsFrames() const { return !out_.empty(); }
  bool TakesScreenshot() const { return !screenshot_.empty(); }
  std::string FramePath(int index) const;
  std::string SheetPath() const;
  const std::string& ScreenshotPath() const { return screenshot_; }
  bool WritesGif() const { return !gif_.empty(); }
  const std::string& GifPath() const { return gif_; }
  // What the run wrote, for its summary: one line per kind, "" for none.
  std::vector<std::string> Written(int frames) const;

  // Each writes aside and renames into place; throws Failure.
  void WriteFrame(int index, const Picture& picture) { Write(FramePath(index), picture); }
  void WriteSheet(const Picture& picture) { Write(SheetPath(), picture); }
  void WriteScreenshot(const Picture& picture) { Write(screenshot_, picture); }
  // The animated GIF, a frame at a time (shown for `centiseconds`), then
  // ended and renamed into place; each throws Failure.
  void AddGifFrame(const Picture& picture, int centiseconds);
  void FinishGif();

  // The run finished: what it wrote stays.
  void Keep() { kept_ = true; }

 private:
  void MakeOutFolder();
  void Write(const std::string& path, const Picture& picture);
  static void CheckFile(const std::string& path);

  std::string out_, screenshot_, gif_;
  AnimatedGif animation_;
  std::vector<std::filesystem::path> made_;  // folders this run made, outermost first
  std::vector<std::string> written_;
  bool kept_ = false;
};

}  // namespace rwview
