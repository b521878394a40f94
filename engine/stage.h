// Everything needed to load a mesh object module and draw its objects, in one
// bundle for tests, benchmarks and the viewer.
//
// Only one Stage may exist at a time: it starts the process's component
// system. Release every mesh object and type taken from a Stage before the
// Stage goes: their code lives in the module, which the Stage unloads.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/backend.h"
#include "engine/camera.h"
#include "engine/component_system.h"
#include "engine/engine.h"
#include "engine/file_system.h"
#include "engine/graphics3d.h"
#include "engine/loader.h"
#include "engine/object_registry.h"
#include "engine/render_view.h"
#include "host/light.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "ical3dstate.h"

namespace rwengine {

class Stage {
 public:
  static constexpr const char* kRigweaveClass = kRigweaveClassId;

  // The backend is not owned and may be null (nothing drawn anywhere).
  // `root` is the folder that holds models/, where mesh objects read their
  // models (empty: the process's current folder).
  explicit Stage(RenderBackend* backend = nullptr, int width = 640, int height = 480,
                 const std::string& root = {});
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Registers the module's classes; false (see LastError) when it cannot be
  // loaded. A bare name ("rigweave.so") is found where the engine's modules
  // are installed (ComponentSystem::RegisterModule).
  bool LoadModule(const std::string& path);
  const std::string& LastError() const { return scf_->LastError(); }
  // A new, initialised mesh object type of that class, or null.
  csRef<iMeshObjectType> CreateType(const char* classId);
  // A new mesh object of that class from a factory the Stage keeps (one per
  // class), or null.
  csRef<iMeshObject> NewMeshObject(const char* classId = kRigweaveClass);
  // One frame: each object that passes DrawTest is drawn with CS_ZBUF_USE.
  // The projection follows the camera's field of view. With culling on, an
  // object whose box (GetObjectBoundingBox) lies wholly outside the view is
  // skipped before DrawTest; with lights, each object drawn is first given
  // them all through UpdateLighting.
  void DrawFrame(const std::vector<std::pair<iMeshObject*, iMovable*>>& objects);
  // Off by default.
  void SetCulling(bool culling) { culling_ = culling; }
  // Whether any part of `box` (in the object space `movable` places) is in
  // the camera's view.
  bool InView(const csBox3& box, iMovable* movable) const;
  // The lights DrawFrame passes on, with a reference each; none by default.
  void AddLight(iLight* light);
  void ClearLights();
  const std::vector<iLight*>& Lights() const { return lightList_; }

  void SetBackend(RenderBackend* backend) { graphics_->SetBackend(backend); }

  ComponentSystem* GetSCF() const { return scf_.get(); }
  ObjectRegistry* GetRegistry() const { return registry_.get(); }
  FileSystem* GetFileSystem() const { return fileSystem_.get(); }
  Engine* GetEngine() const { return engine_.get(); }
  Loader* GetLoader() const { return loader_.get(); }
  Graphics3D* GetGraphics() const { return graphics_.get(); }
  Camera* GetCamera() const { return camera_.get(); }
  RenderView* GetView() const { return view_.get(); }

 private:
  struct Kind {
    csRef<iMeshObjectType> type;
    csRef<iMeshObjectFactory> factory;
  };

  csRef<ComponentSystem> scf_;
  csRef<ObjectRegistry> registry_;
  csRef<FileSystem> fileSystem_;
  csRef<Engine> engine_;
  csRef<Loader> loader_;
  csRef<Graphics3D> graphics_;
  csRef<Camera> camera_;
  csRef<RenderView> view_;
  std::map<std::string, Kind> kinds_;
  bool culling_ = false;
  std::vector<csRef<iLight>> lights_;
  std::vector<iLight*> lightList_;
};

}  // namespace rwengine
