// A character loaded by Cal3D alone, through Cal3D's own file readers, from
// the files a configuration names, with nothing of the module or the engine
// in between: what the tests hold the module's drawing against, and what the
// benchmark measures the module against.
#pragma once

#include <cal3d/cal3d.h>

#include <memory>
#include <string>
#include <vector>

namespace rwsupport {

// What a model configuration names, in file order, as paths from the
// folder the module loads from.
struct CharacterFiles {
  float scale = 1.0f;  // read as the module reads it
  std::string skeleton;
  std::vector<std::string> animations;
  std::vector<std::string> meshes;
  std::vector<std::string> materials;
  // Whole meshes added as morph targets to the first mesh whose value, less
  // its last four characters, their name contains (Cal3D's viewers' rule).
  std::vector<std::string> blendMeshes;
  // Index of the animation the module calls `name` (its file name up to the
  // last '.'): the first of equal names, as the module's table finds them;
  // -1 when there is none.
  int AnimationId(const std::string& name) const;
};

// Read with the module's own line parser, so that a value means here what
// it means to the module. `folder` ends in '/'. False (with a line on
// stderr) when the file cannot be read or names no skeleton.
bool ReadCharacterFiles(const std::string& folder, const std::string& config,
                        CharacterFiles& files);

class Cal3DCharacter {
 public:
  Cal3DCharacter() = default;
  ~Cal3DCharacter();
  Cal3DCharacter(const Cal3DCharacter&) = delete;
  Cal3DCharacter& operator=(const Cal3DCharacter&) = delete;

  // The core model (skeleton, animations, meshes and, with `materials`, the
  // materials, each the only thread of material set 0) and an instance with
  // every mesh attached, its skeleton in the rest pose the module's load
  // leaves it in. False when Cal3D does not load the files.
  bool Load(const std::string& folder, const CharacterFiles& files, bool materials = true);
  // An instance of the core model `loaded` holds, as Cal3D means one core
  // model to serve many characters: the idiomatic crowd. The core model
  // goes with the last character holding it.
  bool Share(const Cal3DCharacter& loaded);

  CalModel* Model() const { return model_.get(); }
  CalCoreModel* Core() const { return core_.get(); }
  // The configuration's scale.
  float Scale() const { return scale_; }

 private:
  void Release();
  bool MakeInstance(bool materials);

  std::shared_ptr<CalCoreModel> core_;
  std::unique_ptr<CalModel> model_;
  float scale_ = 1.0f;
};

}  // namespace rwsupport
