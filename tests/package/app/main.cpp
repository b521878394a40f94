// A host of its own for Rigweave, written from the README's "Writing a host"
// and the installed headers alone: a component system that loads the module
// by its file, an object registry, a file system, a loader, an engine and
// the view, camera, movable and graphics a frame needs. It loads the
// installed sample, walks it for a second of frames and checks what the
// module handed over against what that section promises.
//
//   rigweave-package-app ROOT    (ROOT holds models/hero.cfg)
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/clock.h"
#include "host/engine_loading.h"
#include "host/file_system.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "host/view.h"
#include "ical3dstate.h"
#include "rigweave_module.h"

namespace {

class ComponentSystem : public scfImplementation<ComponentSystem, iSCF> {
 public:
  ~ComponentSystem() override { UnloadUnusedModules(); }
  bool RegisterModule(const char* path) override {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return false;
    auto init = reinterpret_cast<RigweaveInitializeFunc>(dlsym(handle_, kRigweaveInitializeSymbol));
    finalize_ = reinterpret_cast<RigweaveFinalizeFunc>(dlsym(handle_, kRigweaveFinalizeSymbol));
    if (init == nullptr || finalize_ == nullptr) return false;
    for (const scfClassInfo* row = init(this); row != nullptr && row->classId != nullptr; row++)
      classes_[row->classId] = {row->description, row->factory};
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
  // One table of names for the process: the module's queries and ours agree.
  scfInterfaceID GetInterfaceID(const char* name) override {
    return ids_.emplace(name, static_cast<scfInterfaceID>(ids_.size() + 1)).first->second;
  }

 private:
  void* handle_ = nullptr;
  RigweaveFinalizeFunc finalize_ = nullptr;
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
    asked.push_back(tag);
    for (const auto& [object, name] : entries_)
      if (name == tag) return object;
    return nullptr;
  }
  void Clear() override {
    for (const auto& entry : entries_) entry.first->DecRef();
    entries_.clear();
  }
  std::vector<std::string> asked;

 private:
  std::vector<std::pair<iBase*, std::string>> entries_;
};

class FileSystem : public scfImplementation<FileSystem, iFileSystem> {
 public:
  explicit FileSystem(std::string root) : root_(std::move(root)) {}
  const char* GetRoot() override {
    rootReads++;
    return root_.c_str();
  }
  int rootReads = 0;

 private:
  std::string root_;
};

// A material is a name and a handle; the texture behind it is not needed to
// count triangles.
class Material : public scfImplementation<Material, iMaterialWrapper> {
 public:
  explicit Material(std::string name) : name_(std::move(name)) {}
  const char* GetName() override { return name_.c_str(); }
  iMaterialHandle* GetMaterialHandle() override { return &handle_; }
  void Visit() override {}

 private:
  struct Handle : scfImplementation<Handle, iMaterialHandle> {
    iTextureHandle* GetTexture() override { return nullptr; }
  };
  std::string name_;
  Handle handle_;
};

class Texture : public scfImplementation<Texture, iTextureWrapper> {
 public:
  explicit Texture(iImage* image) : image_(image) {}
  const char* GetName() override { return ""; }
  iImage* GetImage() override { return image_.get(); }
  iTextureHandle* GetTextureHandle() override { return nullptr; }

 private:
  csRef<iImage> image_;  // the module's object: released before its exit point
};

class Engine : public scfImplementation<Engine, iEngine> {
 public:
  // The loader makes the fallback material under the name it was asked for.
  void AddMaterial(const std::string& name) {
    materials_.push_back(csRef<Material>::Adopt(new Material(name)));
  }
  iMaterialWrapper* FindMaterial(const char* name, iRegion*) override {
    for (const auto& material : materials_)
      if (name == std::string(material->GetName())) return material.get();
    return nullptr;
  }
  iTextureList* GetTextureList() override { return &textures_; }
  iMaterialWrapper* CreateMaterial(const char* name, iTextureWrapper*) override {
    AddMaterial(name);
    return materials_.back().get();
  }

 private:
  struct TextureList : scfImplementation<TextureList, iTextureList> {
    iTextureWrapper* NewTexture(iImage* image) override {
      list.push_back(csRef<Texture>::Adopt(new Texture(image)));
      return list.back().get();
    }
    int GetCount() override { return static_cast<int>(list.size()); }
    iTextureWrapper* Get(int i) override { return list[static_cast<size_t>(i)].get(); }
    iTextureWrapper* FindByName(const char*) override { return nullptr; }
    std::vector<csRef<Texture>> list;
  };
  std::vector<csRef<Material>> materials_;
  TextureList textures_;
};

class Loader : public scfImplementation<Loader, iLoader> {
 public:
  explicit Loader(Engine* engine) : engine_(engine) {}
  iTextureWrapper* LoadTexture(const char* name, const char* path, int flags, iTextureManager*,
                               bool) override {
    asked = path + std::string(" ") + std::to_string(flags);
    engine_->AddMaterial(name);
    return nullptr;
  }
  std::string asked;

 private:
  Engine* engine_;
};

class VertexBuffer : public scfImplementation<VertexBuffer, iVertexBuffer> {
 public:
  int32_t GetPriority() override { return 0; }
  bool IsLocked() override { return vertices != nullptr; }
  const csVector3* GetVertices(int) override { return vertices; }
  const csVector2* GetTexels() override { return nullptr; }
  const csColor* GetColors() override { return nullptr; }
  int32_t GetVertexCount() override { return count; }
  const csVector3* vertices = nullptr;
  int count = 0;
};

class BufferManager : public scfImplementation<BufferManager, iVertexBufferManager> {
 public:
  iVertexBuffer* CreateBuffer(int) override { return new VertexBuffer; }
  bool LockBuffer(iVertexBuffer* buffer, csVector3* vertices, csVector2*, csColor*, int count,
                  int) override {
    static_cast<VertexBuffer*>(buffer)->vertices = vertices;
    static_cast<VertexBuffer*>(buffer)->count = count;
    return true;
  }
  void UnlockBuffer(iVertexBuffer* buffer) override {
    static_cast<VertexBuffer*>(buffer)->vertices = nullptr;
  }
  void AddClient(iVertexBufferManagerClient*) override {}
  void RemoveClient(iVertexBufferManagerClient*) override {}
};

// Draws nothing: checks every index and measures the drawn vertices, in the
// object space they are given in.
class Graphics : public scfImplementation<Graphics, iGraphics3D> {
 public:
  bool Open() override { return true; }
  void Close() override {}
  bool BeginDraw() override { return true; }
  void FinishDraw() override {}
  int GetWidth() override { return 640; }
  int GetHeight() override { return 480; }
  void SetPerspectiveAspect(float) override {}
  void SetPerspectiveCenter(int, int) override {}
  void SetObjectToCamera(const csReversibleTransform& o2c) override {
    objectToCamera = o2c;
    transformsSet++;
  }
  const csReversibleTransform& GetObjectToCamera() override { return objectToCamera; }
  bool SetRenderState(G3D_RENDERSTATEOPTION, int32_t) override { return true; }
  int32_t GetRenderState(G3D_RENDERSTATEOPTION) override { return 0; }
  void DrawTriangleMesh(G3DTriangleMesh& mesh) override {
    auto* buffer = static_cast<VertexBuffer*>(mesh.buffers[0]);
    if (buffer == nullptr || buffer->vertices == nullptr || mesh.mat_handle == nullptr) {
      badDraws++;
      return;
    }
    for (int i = 0; i < mesh.num_triangles; i++) {
      const csTriangle& t = mesh.triangles[i];
      if (t.a < 0 || t.b < 0 || t.c < 0 || t.a >= buffer->count || t.b >= buffer->count ||
          t.c >= buffer->count) {
        badDraws++;
        return;
      }
      for (int corner : {t.a, t.b, t.c}) drawn.AddBoundingVertex(buffer->vertices[corner]);
    }
    triangles += mesh.num_triangles;
  }
  iVertexBufferManager* GetVertexBufferManager() override { return &buffers_; }

  csReversibleTransform objectToCamera;
  int transformsSet = 0;
  long triangles = 0;
  int badDraws = 0;
  csBox3 drawn;

 private:
  BufferManager buffers_;
};

class Camera : public scfImplementation<Camera, iCamera> {
 public:
  void SetTransform(const csOrthoTransform& t) override { transform_ = t; }
  float GetFOVAngle() override { return 60.0f; }
  void SetFOVAngle(float) override {}
  void SetMirrored(bool) override {}
  csOrthoTransform& GetTransform() override { return transform_; }
  bool IsMirrored() override { return false; }

 private:
  csOrthoTransform transform_;
};

class View : public scfImplementation<View, iRenderView> {
 public:
  View(iGraphics3D* g3d, iCamera* camera) : g3d_(g3d), camera_(camera) {}
  iGraphics3D* GetGraphics3D() override { return g3d_; }
  iCamera* GetCamera() override { return camera_; }
  void CalculateFogMesh(const csReversibleTransform&, G3DTriangleMesh& mesh) override {
    mesh.do_fog = false;
  }
  bool ClipBBox(const csBox2&, const csBox3&, int& portal, int& plane, int& z) override {
    portal = plane = z = 0;
    return true;
  }

 private:
  iGraphics3D* g3d_;
  iCamera* camera_;
};

class Movable : public scfImplementation<Movable, iMovable> {
 public:
  void SetPosition(const csVector3& p) override { transform_.SetOrigin(p); }
  const csVector3& GetPosition() override { return transform_.GetOrigin(); }
  void SetTransform(const csReversibleTransform& t) override { transform_ = t; }
  csReversibleTransform& GetTransform() override { return transform_; }
  void UpdateMove() override {}
  csReversibleTransform GetFullTransform() override { return transform_; }

 private:
  csReversibleTransform transform_;
};

template <class I>
csRef<I> Query(iBase* object) {
  return csRef<I>::Adopt(scfQueryInterface<I>(object));
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "rigweave-package-app: %s\n", what.c_str());
  return 1;
}

csTicks ticks = 0;
csTicks Ticks(void*) {
  return ticks;
}

// Everything the module made is released when this returns: the engine's
// objects are made first, so that they go last.
int LoadAndDraw(ComponentSystem& scf, const std::string& root) {
  auto graphics = csRef<Graphics>::Adopt(new Graphics);
  auto camera = csRef<Camera>::Adopt(new Camera);
  auto view = csRef<View>::Adopt(new View(graphics.get(), camera.get()));
  auto movable = csRef<Movable>::Adopt(new Movable);
  auto engine = csRef<Engine>::Adopt(new Engine);
  auto loader = csRef<Loader>::Adopt(new Loader(engine.get()));
  auto registry = csRef<Registry>::Adopt(new Registry);
  auto fileSystem = csRef<FileSystem>::Adopt(new FileSystem(root));
  registry->Register(fileSystem.get(), kFileSystemTag);
  auto type =
      Query<iMeshObjectType>(csRef<iBase>::Adopt(scf.CreateInstance(kRigweaveClassId)).get());
  auto component = Query<iComponent>(type.get());
  if (!type || !component || !component->Initialize(registry.get()))
    return Fail("the module's type cannot be initialised");
  auto factory = csRef<iMeshObjectFactory>::Adopt(type->NewFactory());
  auto mesh = factory ? csRef<iMeshObject>::Adopt(factory->NewInstance()) : csRef<iMeshObject>();
  auto state = Query<iCal3DState>(mesh.get());
  if (!state) return Fail("the module made no mesh object to steer");
  if (registry->asked != std::vector<std::string>{kFileSystemTag})
    return Fail("the mesh object did not ask the registry for the file system alone");
  if (fileSystem->rootReads != 0) return Fail("the root was read before LoadModel");

  std::fflush(stdout);
  if (!state->LoadModel("hero.cfg", loader.get(), engine.get()))
    return Fail("hero.cfg does not load");
  if (fileSystem->rootReads != 1) return Fail("LoadModel did not read the root once");
  if (loader->asked !=
      kRigweaveFallbackTexture + std::string(" ") + std::to_string(kRigweaveFallbackTextureFlags))
    return Fail("the fallback texture asked for was " + loader->asked);
  if (engine->GetTextureList()->GetCount() == 0) return Fail("no raw texture was handed over");
  if (!state->SetCycle("walk", 0.0f, 0.3f, 1.0f)) return Fail("hero.cfg has no walk");

  for (int frame = 0; frame < 24; frame++) {
    ticks += 1000 / 24;
    if (!mesh->DrawTest(view.get(), movable.get())) return Fail("DrawTest answered false");
    if (!mesh->Draw(view.get(), movable.get(), CS_ZBUF_USE)) return Fail("Draw answered false");
  }
  if (graphics->transformsSet != 24) return Fail("DrawTest did not set the transform each frame");
  if (graphics->badDraws != 0 || graphics->triangles == 0) return Fail("bad or no triangles");

  // Drawn in object space, engine units, standing along +y: about 2 tall.
  const csBox3& drawn = graphics->drawn;
  const csVector3 size = drawn.Max() - drawn.Min();
  if (!(size.y > 1.8f && size.y < 2.3f && size.y > size.x && size.y > size.z))
    return Fail("the drawn character is " + std::to_string(size.y) + " tall");
  csBox3 bounds;
  mesh->GetObjectBoundingBox(bounds, 0);
  if (bounds.Min().x != -1 || bounds.Min().y != -1 || bounds.Min().z != 0 || bounds.Max().x != 1 ||
      bounds.Max().y != 1 || bounds.Max().z != 0)
    return Fail("the bounding box is not the fixed one");
  auto box = Query<iPolygonMesh>(mesh.get());
  if (!box || box->GetVertexCount() != 8 || box->GetPolygonCount() != 6) return Fail("no box mesh");
  const float boxHeight = box->GetVertices()[7].y - box->GetVertices()[0].y;
  if (std::fabs(boxHeight * 2 - size.y) > 0.2f * size.y)
    return Fail("the box mesh is not half the drawn size");
  std::printf("drew hero.cfg (%s): %ld triangles in 24 frames, %.2f units tall, box %.2f\n",
              scf.GetClassDescription(kRigweaveClassId), graphics->triangles, size.y, boxHeight);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rigweave-package-app ROOT\n");
    return 2;
  }
  csSetTickSource(&Ticks, nullptr);
  auto scf = csRef<ComponentSystem>::Adopt(new ComponentSystem);
  iSCF::SCF = scf.get();
  if (!scf->RegisterModule(RIGWEAVE_MODULE_FILE)) return Fail("cannot load the module");
  if (!scf->ClassRegistered(kRigweaveClassId)) return Fail("the module has no class of that id");
  const int status = LoadAndDraw(*scf, argv[1]);
  scf->UnloadUnusedModules();
  iSCF::SCF = nullptr;
  if (status == 0) std::printf("module %s\n", RIGWEAVE_MODULE_FILE);
  return status;
}
