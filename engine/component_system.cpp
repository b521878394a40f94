#include "engine/component_system.h"

#include <dlfcn.h>

#include <map>
#include <string>

#include "host/clock.h"

namespace rwengine {
namespace {

// The folder of the clock library this binary shares with its modules:
// modules are built beside it and installed in its rigweave/ folder.
std::string ClockFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&csGetTicks), &info) == 0 || info.dli_fname == nullptr)
    return {};
  const std::string file = info.dli_fname;
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// A path is opened as given; a bare name ("rigweave.so") is looked for where
// the engine's modules are installed, then where the dynamic loader looks.
void* OpenModule(const std::string& path) {
  if (path.find('/') == std::string::npos) {
    const std::string folder = ClockFolder();
    if (!folder.empty()) {
      for (const std::string& candidate : {folder + "rigweave/" + path, folder + path}) {
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
      }
    }
  }
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// "dir/rigweave.so" -> "rigweave": the prefix of the module's entry functions.
std::string ModuleName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.find('.');
  if (dot != std::string::npos) base.resize(dot);
  if (base.compare(0, 3, "lib") == 0) base.erase(0, 3);
  return base;
}

}  // namespace

ComponentSystem::ComponentSystem() = default;

ComponentSystem::~ComponentSystem() {
  UnloadUnusedModules();
  if (iSCF::SCF == this) iSCF::SCF = nullptr;
}

ComponentSystem* ComponentSystem::Start() {
  auto* scf = new ComponentSystem;
  iSCF::SCF = scf;
  return scf;
}

bool ComponentSystem::RegisterModule(const char* path) {
  if (path == nullptr) {
    lastError_ = "no module path";
    return false;
  }
  void* handle = OpenModule(path);
  if (handle == nullptr) {
    lastError_ = dlerror();
    return false;
  }
  const std::string name = ModuleName(path);
  using InitFunc = scfClassInfo* (*)(iSCF*);
  auto init = reinterpret_cast<InitFunc>(dlsym(handle, (name + "_scfInitialize").c_str()));
  auto fini = reinterpret_cast<void (*)()>(dlsym(handle, (name + "_scfFinalize").c_str()));
  if (init == nullptr || fini == nullptr) {
    lastError_ = path + std::string(": no ") + name + "_scfInitialize/_scfFinalize";
    dlclose(handle);
    return false;
  }
  modules_.push_back({name, handle, fini});
  const scfClassInfo* table = init(this);
  for (; table != nullptr && table->classId != nullptr; table++)
    classes_[table->classId] = {table->description ? table->description : "", table->factory,
                                modules_.size() - 1};
  return true;
}

bool ComponentSystem::ClassRegistered(const char* classId) {
  return classId != nullptr && classes_.count(classId) != 0;
}

iBase* ComponentSystem::CreateInstance(const char* classId) {
  if (classId == nullptr) return nullptr;
  auto it = classes_.find(classId);
  if (it == classes_.end() || it->second.factory == nullptr) return nullptr;
  return it->second.factory(nullptr);
}

const char* ComponentSystem::GetClassDescription(const char* classId) {
  if (classId == nullptr) return nullptr;
  auto it = classes_.find(classId);
  return it == classes_.end() ? nullptr : it->second.description.c_str();
}

void ComponentSystem::UnloadUnusedModules() {
  classes_.clear();
  for (auto it = modules_.rbegin(); it != modules_.rend(); ++it) {
    it->finalize();
    dlclose(it->handle);
  }
  modules_.clear();
}

scfInterfaceID ComponentSystem::GetInterfaceID(const char* name) {
  if (name == nullptr) return -1;
  static std::map<std::string, scfInterfaceID> ids;
  auto [it, added] = ids.emplace(name, static_cast<scfInterfaceID>(ids.size() + 1));
  (void)added;
  return it->second;
}

}  // namespace rwengine
