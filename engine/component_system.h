// The engine's component system: hands out interface ids, loads modules from
// their shared-library files and creates instances of their classes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/scf.h"
#include "host/scf_impl.h"

namespace rwengine {

class ComponentSystem : public scfImplementation<ComponentSystem, iSCF> {
 public:
  ComponentSystem();
  ~ComponentSystem() override;

  // Makes this the component system of the running binary (iSCF::SCF) and
  // returns it with one reference for the caller.
  static ComponentSystem* Start();

  // Loads a module by its file. A bare name ("rigweave.so") is looked for
  // in the folders the engine's modules are installed in (the rigweave/
  // folder beside the clock library, then that library's own folder, which
  // is where a build puts them), then where the dynamic loader looks.
  bool RegisterModule(const char* path) override;
  bool ClassRegistered(const char* classId) override;
  iBase* CreateInstance(const char* classId) override;
  const char* GetClassDescription(const char* classId) override;
  // Unloads every module: calls its exit function, then closes it.
  void UnloadUnusedModules() override;
  // Ids are the same in every component system of the process: each binary
  // caches the ids it looks up for good, so a component system started after
  // an earlier one must hand out the same ones.
  scfInterfaceID GetInterfaceID(const char* name) override;

  // Why the last RegisterModule failed.
  const std::string& LastError() const { return lastError_; }
  int ModuleCount() const { return static_cast<int>(modules_.size()); }

 private:
  struct Module {
    std::string name;
    void* handle;
    void (*finalize)();
  };
  struct ClassEntry {
    std::string description;
    scfFactoryFunc factory;
    size_t module;
  };

  std::vector<Module> modules_;
  std::map<std::string, ClassEntry> classes_;
  std::string lastError_;
};

}  // namespace rwengine
