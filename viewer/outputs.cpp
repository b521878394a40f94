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
  if (screenshot_.empty()) return;
  std::error_code error;
  if (fs::is_directory(screenshot_, error))
    throw Failure{"cannot write " + screenshot_ + " (a folder has that name)"};
  const fs::path parent = fs::path(screenshot_).parent_path();
  if (!CanWriteInto(parent.empty() ? "." : parent.string(), reason))
    throw Failure{"cannot write " + screenshot_ + " (" + reason + ")"};
  if (access(screenshot_.c_str(), F_OK) == 0 && access(screenshot_.c_str(), W_OK) != 0)
    throw Failure{"cannot write " + screenshot_ + " (" + std::strerror(errno) + ")"};
}

void Outputs::Write(const std::string& path, const Picture& picture) {
  std::string error;
  if (!WritePng(path, picture, &error)) throw Failure{error};
  written_.push_back(path);
}

}  // namespace rwview
