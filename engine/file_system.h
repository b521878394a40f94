// The engine's file system: the folder that holds models/, which every mesh
// object of the engine reads its model files below.
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

 private:
  std::string root_;
};

}  // namespace rwengine
