// An application that knows Rigweave only by its installed package: a
// component system of its own loads the module by its file and makes a mesh
// object by class id; an object registry, file system, loader and engine of
// its own (the least the module needs to load a model) let it load and
// steer a character.
//
//   rigweave-package-app ROOT    (ROOT holds models/hero.cfg)
#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/engine_loading.h"
#include "host/file_system.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "ical3dstate.h"

namespace {

constexpr const char* kClassId = kRigweaveClassId;

class ComponentSystem : public scfImplementation<ComponentSystem, iSCF> {
 public:
  ~ComponentSystem() override { UnloadUnusedModules(); }

  bool RegisterModule(const char* path) override {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return false;
    using Init = scfClassInfo* (*)(iSCF*);
    auto init = reinterpret_cast<Init>(dlsym(handle_, "rigweave_scfInitialize"));
    finalize_ = reinterpret_cast<void (*)()>(dlsym(handle_, "rigweave_scfFinalize"));
    if (init == nullptr || finalize_ == nullptr) return false;
    for (const scfClassInfo* entry = init(this); entry != nullptr && entry->classId != nullptr;
         entry++)
      classes_[entry->classId] = {entry->description, entry->factory};
    return true;
  }
  bool ClassRegistered(const char* classId) override { return classes_.count(classId) != 0; }
  iBase* CreateInstance(const char* classId) override {
    const auto found = classes_.find(classId);
    return found == classes_.end() ? nullptr : found->second.second(nullptr);
  }
  const char* GetClassDescription(const char* classId) override {
    const auto found = classes_.find(classId);
    return found == classes_.end() ? nullptr : found->second.first;
  }
  void UnloadUnusedModules() override {
    classes_.clear();
    if (finalize_ != nullptr) finalize_();
    if (handle_ != nullptr) dlclose(handle_);
    finalize_ = nullptr;
    handle_ = nullptr;
  }
  scfInterfaceID GetInterfaceID(const char* name) override {
    return ids_.emplace(name, static_cast<scfInterfaceID>(ids_.size() + 1)).first->second;
  }

 private:
  void* handle_ = nullptr;
  void (*finalize_)() = nullptr;
  std::map<std::string, std::pair<const char*, scfFactoryFunc>> classes_;
  std::map<std::string, scfInterfaceID> ids_;
};

class Registry : public scfImplementation<Registry, iObjectRegistry> {
 public:
  ~Registry() override { Clear(); }
  bool Register(iBase* object, const char* tag) override {
    object->IncRef();
    entries_.emplace_back(object, tag);
    return true;
  }
  void Unregister(iBase*, const char*) override {}
  iBase* Get(const char* tag) override {
    for (const auto& [object, name] : entries_)
      if (name == tag) return object;
    return nullptr;
  }
  void Clear() override {
    for (const auto& entry : entries_) entry.first->DecRef();
    entries_.clear();
  }

 private:
  std::vector<std::pair<iBase*, std::string>> entries_;
};

class FileSystem : public scfImplementation<FileSystem, iFileSystem> {
 public:
  explicit FileSystem(std::string root) : root_(std::move(root)) {}
  const char* GetRoot() override { return root_.c_str(); }

 private:
  std::string root_;
};

// Nothing to load textures from: every map is a line saying so, and
// sub-meshes would show no texture.
class Loader : public scfImplementation<Loader, iLoader> {
 public:
  iTextureWrapper* LoadTexture(const char*, const char*, int, iTextureManager*, bool) override {
    return nullptr;
  }
};

class TextureList : public scfImplementation<TextureList, iTextureList> {
 public:
  iTextureWrapper* NewTexture(iImage*) override { return nullptr; }
  int GetCount() override { return 0; }
  iTextureWrapper* Get(int) override { return nullptr; }
  iTextureWrapper* FindByName(const char*) override { return nullptr; }
};

class Engine : public scfImplementation<Engine, iEngine> {
 public:
  iMaterialWrapper* FindMaterial(const char*, iRegion*) override { return nullptr; }
  iTextureList* GetTextureList() override { return &textures_; }
  iMaterialWrapper* CreateMaterial(const char*, iTextureWrapper*) override { return nullptr; }

 private:
  TextureList textures_;
};

template <class I>
csRef<I> Query(iBase* object) {
  return csRef<I>::Adopt(scfQueryInterface<I>(object));
}

int Fail(const char* what) {
  std::fprintf(stderr, "rigweave-package-app: %s\n", what);
  return 1;
}

int Run(const std::string& root) {
  auto scf = csRef<ComponentSystem>::Adopt(new ComponentSystem);
  iSCF::SCF = scf.get();
  if (!scf->RegisterModule(RIGWEAVE_MODULE_FILE)) return Fail("cannot load the module");
  if (!scf->ClassRegistered(kClassId)) return Fail("the module has no class of that id");
  {
    auto registry = csRef<Registry>::Adopt(new Registry);
    auto fileSystem = csRef<FileSystem>::Adopt(new FileSystem(root));
    registry->Register(fileSystem.get(), kFileSystemTag);
    auto type = Query<iMeshObjectType>(csRef<iBase>::Adopt(scf->CreateInstance(kClassId)).get());
    auto component = Query<iComponent>(type.get());
    if (!type || !component || !component->Initialize(registry.get()))
      return Fail("the module's type cannot be initialised");
    auto factory = csRef<iMeshObjectFactory>::Adopt(type->NewFactory());
    auto mesh = factory ? csRef<iMeshObject>::Adopt(factory->NewInstance()) : csRef<iMeshObject>();
    auto state = Query<iCal3DState>(mesh.get());
    if (!state) return Fail("the module made no mesh object to steer");

    auto loader = csRef<Loader>::Adopt(new Loader);
    auto engine = csRef<Engine>::Adopt(new Engine);
    std::fflush(stdout);
    if (!state->LoadModel("hero.cfg", loader.get(), engine.get()))
      return Fail("hero.cfg does not load");
    if (!state->SetCycle("walk", 0.0f, 0.3f, 1.0f)) return Fail("hero.cfg has no walk");
    auto box = Query<iPolygonMesh>(mesh.get());
    if (!box || box->GetVertexCount() != 8) return Fail("no box mesh");
    const float height = box->GetVertices()[7].y - box->GetVertices()[0].y;
    if (!(height > 0.0f)) return Fail("the character has no height");
    std::printf("loaded hero.cfg (%s, %.2f units tall) from module %s\n",
                scf->GetClassDescription(kClassId), height, RIGWEAVE_MODULE_FILE);
  }
  // The module's objects are gone; its code may go.
  scf->UnloadUnusedModules();
  iSCF::SCF = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rigweave-package-app ROOT\n");
    return 2;
  }
  return Run(argv[1]);
}
