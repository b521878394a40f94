#include "viewer/outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "viewer/failure.h"

namespace rwview {
namespace {

namespace fs = std::filesystem;

// Whether a file can be made in `folder` (tried, then removed): permissions
// alone do not tell, for root or on a read-only file system.
bool CanWriteInto(const std::string& folder, std::string& reason) {
  const std::string probe =
      (fs::path(folder) / (".rigweave-view-" + std::to_string(getpid()))).string();
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

}  // namespace

Outputs::~Outputs() {
  if (kept_) return;
  std::error_code error;
  for (const std::string& file : written_) fs::remove(file, error);
  // Innermost first; a folder something else has put a file into stays.
  for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) fs::remove(*folder, error);
}

std::string Outputs::FramePath(int index) const {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%04d.png", index);
  return (fs::path(out_) / name).string();
}

std::string Outputs::SheetPath() const {
  return (fs::path(out_) / "sheet.png").string();
}

// Each missing folder from the outermost down, so that a run that does not
// finish can remove exactly those.
void Outputs::MakeOutFolder() {
  fs::path folder(out_);
  if (!folder.has_filename()) folder = folder.parent_path();
  std::vector<fs::path> missing;
  std::error_code error;
  for (fs::path p = folder; !p.empty() && !fs::exists(fs::symlink_status(p, error));
       p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto p = missing.rbegin(); p != missing.rend() && !error; ++p)
    if (fs::create_directory(*p, error)) made_.push_back(*p);
  if (error || !fs::is_directory(out_, error))
    throw Failure{"cannot make the folder " + out_ +
                  (error ? " (" + error.message() + ")" : " (a file has that name)")};
}

void Outputs::Check() {
  std::string reason;
  if (!out_.empty()) {
    MakeOutFolder();
    if (!CanWriteInto(out_, reason))
      throw Failure{"cannot write into " + out_ + " (" + reason + ")"};
  }
  if (!screenshot_.empty()) CheckFile(screenshot_);
  if (!gif_.empty()) CheckFile(gif_);
}

void Outputs::CheckFile(const std::string& path) {
  std::string reason;
  std::error_code error;
  if (fs::is_directory(path, error))
    throw Failure{"cannot write " + path + " (a folder has that name)"};
  const fs::path parent = fs::path(path).parent_path();
  if (!CanWriteInto(parent.empty() ? "." : parent.string(), reason))
    throw Failure{"cannot write " + path + " (" + reason + ")"};
  if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0)
    throw Failure{"cannot write " + path + " (" + std::strerror(errno) + ")"};
}

void Outputs::AddGifFrame(const Picture& picture, int centiseconds) {
  std::string error;
  if (!animation_.IsOpen() && !animation_.Open(gif_, picture.width, picture.height, error))
    throw Failure{error};
  if (!animation_.Add(picture, centiseconds, error)) throw Failure{error};
}

void Outputs::FinishGif() {
  std::string error;
  if (!animation_.IsOpen()) return;
  if (!animation_.Finish(error)) throw Failure{error};
  written_.push_back(gif_);
}

std::vector<std::string> Outputs::Written(int frames) const {
  std::vector<std::string> lines;
  const auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  if (KeepsFrames())
    lines.push_back("images: " + count(frames, "frame", "frames") + ", " + FramePath(0) +
                    (frames > 1 ? " .. " + FramePath(frames - 1) : std::string()) +
                    ", contact sheet " + SheetPath());
  if (TakesScreenshot()) lines.push_back("screenshot: " + screenshot_);
  if (WritesGif()) {
    std::error_code error;
    const auto bytes = fs::file_size(gif_, error);
    lines.push_back(
        "animation: " + gif_ + " (" + count(animation_.Frames(), "frame", "frames") +
        (error ? std::string() : ", " + std::to_string((bytes + 1023) / 1024) + " KiB") + ")");
  }
  return lines;
}

void Outputs::Write(const std::string& path, const Picture& picture) {
  std::string error;
  if (!WritePng(path, picture, &error)) throw Failure{error};
  written_.push_back(path);
}

}  // namespace rwview
