// The engine's file system as a mesh object reads its model files: the
// folder the configuration format's paths start from, by default models/
// below one root folder that the engine chooses.
#pragma once

#include "host/scf.h"

// The object registry's tag for the engine's file system.
constexpr const char kFileSystemTag[] = "iFileSystem";

struct iFileSystem : iBase {
  SCF_INTERFACE(iFileSystem, 0, 1, 0)
  // 4. The folder that holds models/, as a path of the operating system;
  // empty for the process's current folder. Never null.
  virtual const char* GetRoot() = 0;
  // 5. The folder model files are read from, as a path of the operating
  // system; empty (the default) for models/ below GetRoot(). Never null. An
  // engine that shows a configuration where an exporter left it names that
  // configuration's folder here.
  virtual const char* GetModelFolder() { return ""; }

 protected:
  ~iFileSystem() = default;
};
