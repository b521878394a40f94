#include "support/cal3d_character.h"

#include <cal3d/coretrack.h>

#include <iostream>

#include "formats/config.h"
#include "formats/whole_file.h"

namespace rwsupport {

int CharacterFiles::AnimationId(const std::string& name) const {
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
      case rigweave::ConfigKey::BlendMesh:
        files.blendMeshes.push_back(entry.value);
        break;
      case rigweave::ConfigKey::MorphAnimation:
      case rigweave::ConfigKey::Other:
        break;
    }
  }
  if (files.skeleton.empty()) std::cerr << folder << config << " names no skeleton\n";
  return !files.skeleton.empty();
}

Cal3DCharacter::~Cal3DCharacter() {
  Release();
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

void Cal3DCharacter::Release() {
  model_.reset();
  core_.reset();
}

bool Cal3DCharacter::Load(const std::string& folder, const CharacterFiles& files, bool materials) {
  Release();
  core_ = std::shared_ptr<CalCoreModel>(new CalCoreModel("cal3d"), FreeCore);
  scale_ = files.scale;
  if (!core_->loadCoreSkeleton(folder + files.skeleton)) return false;
  for (const std::string& name : files.animations)
    if (core_->loadCoreAnimation(folder + name) == -1) return false;
  for (const std::string& name : files.meshes)
    if (core_->loadCoreMesh(folder + name) == -1) return false;
  for (const std::string& name : files.blendMeshes) {
    CalCoreMesh* base = nullptr;
    for (size_t m = 0; m < files.meshes.size() && base == nullptr; m++) {
      const std::string& line = files.meshes[m];
      if (line.size() > 4 && name.find(line.substr(0, line.size() - 4)) != std::string::npos)
        base = core_->getCoreMesh(static_cast<int>(m));
    }
    CalCoreMeshPtr target = CalLoader::loadCoreMesh(folder + name);
    if (base == nullptr || !target || base->addAsMorphTarget(target.get()) < 0) return false;
  }
  if (materials) {
    for (const std::string& name : files.materials)
      if (core_->loadCoreMaterial(folder + name) == -1) return false;
    for (int i = 0; i < core_->getCoreMaterialCount(); i++) {
      core_->createCoreMaterialThread(i);
      core_->setCoreMaterialId(i, 0, i);
    }
  }
  return MakeInstance(materials);
}

bool Cal3DCharacter::Share(const Cal3DCharacter& loaded) {
  Release();
  if (!loaded.core_) return false;
  core_ = loaded.core_;
  scale_ = loaded.scale_;
  return MakeInstance(core_->getCoreMaterialCount() > 0);
}

bool Cal3DCharacter::MakeInstance(bool materials) {
  model_ = std::make_unique<CalModel>(core_.get());
  for (int i = 0; i < core_->getCoreMeshCount(); i++)
    if (!model_->attachMesh(i)) return false;
  if (materials) model_->setMaterialSet(0);
  model_->getSkeleton()->calculateState();
  return true;
}

}  // namespace rwsupport
