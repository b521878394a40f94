#include "bench/direct.h"

#include <cal3d/coretrack.h>

#include <algorithm>
#include <fstream>
#include <iostream>

namespace rwbench {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

int CharacterFiles::AnimationId(const std::string& name) const {
  for (size_t i = 0; i < animations.size(); i++) {
    const std::string& file = animations[i];
    const size_t slash = file.find_last_of('/');
    const std::string base = file.substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.substr(0, base.find_last_of('.')) == name) return static_cast<int>(i);
  }
  return -1;
}

bool ReadCharacterFiles(const std::string& folder, const std::string& config,
                        CharacterFiles& files) {
  std::ifstream file(folder + config);
  if (!file) {
    std::cerr << "cannot read " << folder << config << "\n";
    return false;
  }
  files = CharacterFiles();
  std::string line;
  while (std::getline(file, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trimmed(line.substr(0, equals));
    const std::string value = Trimmed(line.substr(equals + 1));
    if (key == "skeleton") files.skeleton = value;
    if (key == "animation") files.animations.push_back(value);
    if (key == "mesh") files.meshes.push_back(value);
    if (key == "material") files.materials.push_back(value);
  }
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
}

DirectCharacter::~DirectCharacter() {
  Release();
}

void DirectCharacter::Release() {
  model_.reset();
  if (!core_) return;
  // Cal3D 0.11 frees an animation without its tracks; free them as the
  // module does, so that repeated loads do not grow the process.
  for (int i = 0; i < core_->getCoreAnimationCount(); i++) {
    CalCoreAnimation* animation = core_->getCoreAnimation(i);
    if (animation == nullptr) continue;
    for (CalCoreTrack* track : animation->getListCoreTrack()) {
      track->destroy();
      delete track;
    }
    animation->getListCoreTrack().clear();
  }
  core_.reset();
}

bool DirectCharacter::Load(const std::string& folder, const CharacterFiles& files) {
  Release();
  core_ = std::make_unique<CalCoreModel>("avatar");
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

bool DirectCharacter::ReadTextures(const std::string& folder,
                                   std::vector<std::vector<char>>& into) {
  for (int i = 0; i < core_->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = core_->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      std::ifstream file(folder + material->getMapFilename(j), std::ios::in | std::ios::binary);
      if (!file) return false;
      file.seekg(0, std::ios::end);
      const std::streamsize size = file.tellg();
      file.seekg(0, std::ios::beg);
      std::vector<char> bytes(static_cast<size_t>(size));
      if (!file.read(bytes.data(), size)) return false;
      into.push_back(std::move(bytes));
    }
  }
  return true;
}

bool DirectCharacter::Walk(int animationId, float clearDelay, float blendDelay, float weight) {
  CalMixer* mixer = model_->getMixer();
  mixer->clearCycle(0, clearDelay);
  return mixer->blendCycle(animationId, weight, blendDelay);
}

int DirectCharacter::Frame(float seconds, FrameBuffers& buffers) {
  model_->update(seconds);
  CalRenderer* renderer = model_->getRenderer();
  if (!renderer->beginRendering()) return 0;
  int faces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      renderer->getVertices(buffers.vertices.data());
      renderer->getTextureCoordinates(0, buffers.texels.data());
      faces += renderer->getFaces(buffers.faces.data());
    }
  }
  renderer->endRendering();
  return faces;
}

}  // namespace rwbench
