// The engine's file system as a mesh object reads its model files: paths
// below models/ start from one root folder that the engine chooses.
#pragma once

#include "host/scf.h"

// The object registry's tag for the engine's file system.
constexpr const char kFileSystemTag[] = "iFileSystem";

struct iFileSystem : iBase {
  SCF_INTERFACE(iFileSystem, 0, 0, 1)
  // 4. The folder that holds models/, as a path of the operating system;
  // empty for the process's current folder. Never null.
  virtual const char* GetRoot() = 0;

 protected:
  ~iFileSystem() = default;
};
