#include "engine/stage.h"

#include <new>

namespace rwengine {

Stage::Stage(RenderBackend* backend, int width, int height, const std::string& root)
    : scf_(csRef<ComponentSystem>::Adopt(ComponentSystem::Start())),
      registry_(csRef<ObjectRegistry>::Adopt(new ObjectRegistry)),
      fileSystem_(csRef<FileSystem>::Adopt(new FileSystem(root))),
      engine_(csRef<Engine>::Adopt(new Engine)),
      loader_(csRef<Loader>::Adopt(new Loader(engine_.get()))),
      graphics_(csRef<Graphics3D>::Adopt(new Graphics3D(width, height))),
      camera_(csRef<Camera>::Adopt(new Camera)),
      view_(csRef<RenderView>::Adopt(new RenderView(graphics_.get(), camera_.get()))) {
  graphics_->SetBackend(backend);
  graphics_->SetPerspectiveAspect(camera_->FocalLength(width));
  registry_->Register(static_cast<iSCF*>(scf_.get()), "iSCF");
  registry_->Register(static_cast<iFileSystem*>(fileSystem_.get()), kFileSystemTag);
  registry_->Register(static_cast<iEngine*>(engine_.get()), "iEngine");
  registry_->Register(static_cast<iLoader*>(loader_.get()), "iLoader");
  registry_->Register(static_cast<iGraphics3D*>(graphics_.get()), "iGraphics3D");
}

Stage::~Stage() {
  // Module objects first, while their code is still loaded; then whatever
  // the registry holds (module objects may be among it).
  kinds_.clear();
  registry_->Clear();
  // The renderer tells any mesh object still alive that its buffers are gone.
  view_.reset();
  camera_.reset();
  graphics_.reset();
  // Before the unload: the texture list holds images the module made, whose
  // code is the module's.
  loader_.reset();
  engine_.reset();
  fileSystem_.reset();
  registry_.reset();
  scf_->UnloadUnusedModules();
  scf_.reset();
}

bool Stage::LoadModule(const std::string& path) {
  return scf_->RegisterModule(path.c_str());
}

csRef<iMeshObjectType> Stage::CreateType(const char* classId) {
  csRef<iBase> instance = csRef<iBase>::Adopt(scf_->CreateInstance(classId));
  if (!instance) return nullptr;
  auto type = csRef<iMeshObjectType>::Adopt(scfQueryInterface<iMeshObjectType>(instance.get()));
  auto component = csRef<iComponent>::Adopt(scfQueryInterface<iComponent>(instance.get()));
  if (!type || !component || !component->Initialize(registry_.get())) return nullptr;
  return type;
}

csRef<iMeshObject> Stage::NewMeshObject(const char* classId) {
  if (classId == nullptr) return nullptr;
  auto it = kinds_.find(classId);
  if (it == kinds_.end()) {
    Kind kind;
    kind.type = CreateType(classId);
    if (!kind.type) return nullptr;
    kind.factory = csRef<iMeshObjectFactory>::Adopt(kind.type->NewFactory());
    if (!kind.factory) return nullptr;
    it = kinds_.emplace(classId, std::move(kind)).first;
  }
  return csRef<iMeshObject>::Adopt(it->second.factory->NewInstance());
}

void Stage::DrawFrame(const std::vector<std::pair<iMeshObject*, iMovable*>>& objects) {
  graphics_->SetPerspectiveAspect(camera_->FocalLength(graphics_->GetWidth()));
  if (!graphics_->BeginDraw()) return;
  for (const auto& [mesh, movable] : objects) {
    if (mesh == nullptr || movable == nullptr) continue;
    if (culling_) {
      csBox3 box;
      mesh->GetObjectBoundingBox(box, 0);
      if (!InView(box, movable)) continue;
    }
    if (!mesh->DrawTest(view_.get(), movable)) continue;
    if (!lightList_.empty())
      mesh->UpdateLighting(lightList_.data(), static_cast<int>(lightList_.size()), movable);
    mesh->Draw(view_.get(), movable, CS_ZBUF_USE);
  }
  graphics_->FinishDraw();
}

bool Stage::InView(const csBox3& box, iMovable* movable) const {
  const float focal = camera_->FocalLength(graphics_->GetWidth());
  const float halfWidth = 0.5f * static_cast<float>(graphics_->GetWidth()) / focal;
  const float halfHeight = 0.5f * static_cast<float>(graphics_->GetHeight()) / focal;
  const csReversibleTransform toWorld = movable->GetFullTransform();
  // Outside when every corner is beyond one of the five planes (near, left,
  // right, bottom, top); planes are x = +-halfWidth z and y = +-halfHeight z.
  int outside[5] = {0, 0, 0, 0, 0};
  for (int i = 0; i < 8; i++) {
    const csVector3 p = camera_->GetTransform().Other2This(toWorld.This2Other(box.GetCorner(i)));
    outside[0] += p.z <= 0.0f;
    outside[1] += p.x < -halfWidth * p.z;
    outside[2] += p.x > halfWidth * p.z;
    outside[3] += p.y < -halfHeight * p.z;
    outside[4] += p.y > halfHeight * p.z;
  }
  for (int plane : outside)
    if (plane == 8) return false;
  return true;
}

void Stage::AddLight(iLight* light) {
  lights_.emplace_back(light);
  lightList_.push_back(light);
}

void Stage::ClearLights() {
  lights_.clear();
  lightList_.clear();
}

}  // namespace rwengine
