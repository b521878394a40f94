// The engine's file system: the folder every mesh object of the engine reads
// its model files from, models/ below a root unless a folder is named.
#pragma once

#include <string>

#include "engine/live_objects.h"
#include "host/file_system.h"
#include "host/scf_impl.h"

namespace rwengine {

class FileSystem : public scfImplementation<FileSystem, iFileSystem>,
                   private LiveCounted<FileSystem> {
 public:
  static constexpr const char kLiveName[] = "FileSystem";

  // An empty root is the process's current folder.
  explicit FileSystem(std::string root = {}) : root_(std::move(root)) {}

  const char* GetRoot() override { return root_.c_str(); }
  // Takes effect from the next model a mesh object loads.
  void SetRoot(const std::string& root) { root_ = root; }
  const char* GetModelFolder() override { return modelFolder_.c_str(); }
  // The folder model files are read from instead of the root's models/
  // (empty: the root's models/); takes effect from the next load.
  void SetModelFolder(const std::string& folder) { modelFolder_ = folder; }

 private:
  std::string root_;
  std::string modelFolder_;
};

}  // namespace rwengine
