#include "bench/direct.h"

#include <cal3d/coretrack.h>

#include <algorithm>
#include <iostream>

#include "formats/config.h"
#include "formats/raw_texture.h"
#include "formats/whole_file.h"
#include "render/engine_space.h"
#include "render/face_reversal.h"

namespace rwbench {
int CharacterFiles::AnimationId(const std::string& name) const {
  // The module's own naming, so that both sides mean the same animation.
  for (size_t i = 0; i < animations.size(); i++)
    if (rigweave::AnimationNameFromFile(animations[i]) == name) return static_cast<int>(i);
  return -1;
}

bool ReadCharacterFiles(const std::string& folder, const std::string& config,
                        CharacterFiles& files) {
  std::vector<uint8_t> bytes;
  const rigweave::FileError error =
      rigweave::ReadWholeFile(folder + config, rigweave::kMaxConfigBytes, bytes);
  if (error != rigweave::FileError::None) {
    std::cerr << "cannot read " << folder << config << " (" << rigweave::FileErrorText(error)
              << ")\n";
    return false;
  }
  files = CharacterFiles();
  for (const rigweave::ConfigEntry& entry : rigweave::ParseConfig(bytes).entries) {
    switch (entry.key) {
      case rigweave::ConfigKey::Scale:
        files.scale = rigweave::ReadScale(entry.value).scale;
        break;
      case rigweave::ConfigKey::Skeleton:
        files.skeleton = entry.value;
        break;
      case rigweave::ConfigKey::Animation:
        files.animations.push_back(entry.value);
        break;
      case rigweave::ConfigKey::Mesh:
        files.meshes.push_back(entry.value);
        break;
      case rigweave::ConfigKey::Material:
        files.materials.push_back(entry.value);
        break;
      case rigweave::ConfigKey::Other:
        break;
    }
  }
  if (files.skeleton.empty()) std::cerr << folder << config << " names no skeleton\n";
  return !files.skeleton.empty();
}

void FrameBuffers::FitTo(CalModel& model) {
  CalRenderer* renderer = model.getRenderer();
  if (!renderer->beginRendering()) return;
  size_t maxVertices = 0, maxFaces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      maxVertices = std::max(maxVertices, static_cast<size_t>(renderer->getVertexCount()));
      maxFaces = std::max(maxFaces, static_cast<size_t>(renderer->getFaceCount()));
    }
  }
  renderer->endRendering();
  vertices.resize(std::max(vertices.size(), maxVertices * 3));
  texels.resize(std::max(texels.size(), maxVertices * 2));
  faces.resize(std::max(faces.size(), maxFaces * 3));
  reversed.resize(faces.size());
}

DirectCharacter::~DirectCharacter() {
  Release();
}

void DirectCharacter::Release() {
  model_.reset();
  core_.reset();
}

namespace {

// Cal3D 0.11 frees an animation without its tracks; free them as the
// module does, so that repeated loads do not grow the process.
void FreeCore(CalCoreModel* core) {
  for (int i = 0; i < core->getCoreAnimationCount(); i++) {
    CalCoreAnimation* animation = core->getCoreAnimation(i);
    if (animation == nullptr) continue;
    for (CalCoreTrack* track : animation->getListCoreTrack()) {
      track->destroy();
      delete track;
    }
    animation->getListCoreTrack().clear();
  }
  delete core;
}

}  // namespace

bool DirectCharacter::Load(const std::string& folder, const CharacterFiles& files) {
  Release();
  core_ = std::shared_ptr<CalCoreModel>(new CalCoreModel("avatar"), FreeCore);
  scale_ = files.scale;
  if (!core_->loadCoreSkeleton(folder + files.skeleton)) return false;
  for (const std::string& name : files.animations)
    if (core_->loadCoreAnimation(folder + name) == -1) return false;
  for (const std::string& name : files.meshes)
    if (core_->loadCoreMesh(folder + name) == -1) return false;
  for (const std::string& name : files.materials)
    if (core_->loadCoreMaterial(folder + name) == -1) return false;
  for (int i = 0; i < core_->getCoreMaterialCount(); i++) {
    core_->createCoreMaterialThread(i);
    core_->setCoreMaterialId(i, 0, i);
  }
  model_ = std::make_unique<CalModel>(core_.get());
  for (int i = 0; i < core_->getCoreMeshCount(); i++)
    if (!model_->attachMesh(i)) return false;
  model_->setMaterialSet(0);
  return true;
}

bool DirectCharacter::Share(const DirectCharacter& loaded) {
  Release();
  if (!loaded.core_) return false;
  core_ = loaded.core_;
  scale_ = loaded.scale_;
  model_ = std::make_unique<CalModel>(core_.get());
  for (int i = 0; i < core_->getCoreMeshCount(); i++)
    if (!model_->attachMesh(i)) return false;
  model_->setMaterialSet(0);
  return true;
}

bool DirectCharacter::ReadTextures(const std::string& folder,
                                   std::vector<std::vector<uint8_t>>& into) {
  for (int i = 0; i < core_->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = core_->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      into.emplace_back();
      if (rigweave::ReadWholeFile(folder + material->getMapFilename(j),
                                  rigweave::kMaxRawTextureFileBytes,
                                  into.back()) != rigweave::FileError::None)
        return false;
    }
  }
  return true;
}

bool DirectCharacter::Walk(int animationId, float clearDelay, float blendDelay, float weight) {
  CalMixer* mixer = model_->getMixer();
  mixer->clearCycle(0, clearDelay);
  return mixer->blendCycle(animationId, weight, blendDelay);
}

int DirectCharacter::FetchFaces(FrameBuffers& buffers) {
  CalRenderer* renderer = model_->getRenderer();
  if (!renderer->beginRendering()) return 0;
  int faces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      faces += renderer->getFaces(buffers.faces.data());
    }
  }
  renderer->endRendering();
  return faces;
}

int DirectCharacter::Frame(float seconds, FrameBuffers& buffers) {
  static_assert(sizeof(csTriangle) == 3 * sizeof(CalIndex), "faces are read as triangles");
  rigweave::EngineSpaceJob turn;
  turn.scale = static_cast<float>(scale_ * rigweave::kDrawnUnitsPerModelUnit);
  rigweave::FaceReversalJob reversal;
  model_->update(seconds);
  CalRenderer* renderer = model_->getRenderer();
  if (!renderer->beginRendering()) return 0;
  int faces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      const int vertices = renderer->getVertices(buffers.vertices.data());
      turn.input = {reinterpret_cast<const csVector3*>(buffers.vertices.data()),
                    static_cast<size_t>(vertices)};
      turn.output = {reinterpret_cast<csVector3*>(buffers.vertices.data()),
                     static_cast<size_t>(vertices)};
      turn.Run();
      renderer->getTextureCoordinates(0, buffers.texels.data());
      const int count = renderer->getFaces(buffers.faces.data());
      reversal.input = {reinterpret_cast<const csTriangle*>(buffers.faces.data()),
                        static_cast<size_t>(count)};
      reversal.output = {reinterpret_cast<csTriangle*>(buffers.reversed.data()),
                         static_cast<size_t>(count)};
      reversal.Run();
      faces += count;
    }
  }
  renderer->endRendering();
  return faces;
}

}  // namespace rwbench
