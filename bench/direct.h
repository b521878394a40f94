// The baseline: the same Cal3D files loaded and animated by calling Cal3D
// directly, with nothing of the module or the engine in between.
#pragma once

#include <cal3d/cal3d.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rwbench {

// What a model configuration names, in file order, as paths from the
// folder the module loads from.
struct CharacterFiles {
  float scale = 1.0f;  // read as the module reads it
  std::string skeleton;
  std::vector<std::string> animations;
  std::vector<std::string> meshes;
  std::vector<std::string> materials;
  // Index of the animation named `name` (file name without extension), or -1.
  int AnimationId(const std::string& name) const;
};

// Read with the module's own line parser, so that a value means here what
// it means to the module. False (with a message on stderr) when the file
// cannot be read or names no skeleton.
bool ReadCharacterFiles(const std::string& folder, const std::string& config,
                        CharacterFiles& files);

// Plain buffers large enough for every sub-mesh of a character.
struct FrameBuffers {
  std::vector<float> vertices;
  std::vector<float> texels;
  std::vector<CalIndex> faces;
  std::vector<CalIndex> reversed;
  // Grows the buffers to fit the character's largest sub-mesh.
  void FitTo(CalModel& model);
};

class DirectCharacter {
 public:
  DirectCharacter() = default;
  ~DirectCharacter();
  DirectCharacter(const DirectCharacter&) = delete;
  DirectCharacter& operator=(const DirectCharacter&) = delete;

  // Core model (skeleton, animations, meshes, materials with one material
  // set), model instance with every mesh attached.
  bool Load(const std::string& folder, const CharacterFiles& files);
  // A model instance of the core model `loaded` holds, as Cal3D means one
  // core model to serve many characters: the idiomatic crowd.
  bool Share(const DirectCharacter& loaded);
  // Reads every texture file the materials name into memory, as the
  // module's load does before decoding them; false if one is missing.
  bool ReadTextures(const std::string& folder, std::vector<std::vector<uint8_t>>& into);
  // The same mixer calls as the module's SetCycle from its first animation.
  bool Walk(int animationId, float clearDelay, float blendDelay, float weight);
  // One frame of Cal3D work and what a renderer needs besides: update, then
  // every sub-mesh's vertices turned into engine space with the module's
  // scale, texture coordinates of map 0, and faces, also turned round for
  // the second draw. Returns the faces fetched.
  int Frame(float seconds, FrameBuffers& buffers);
  // The parts of a frame the module still leaves to Cal3D: the update, and
  // every sub-mesh's faces (returns how many).
  void Update(float seconds) { model_->update(seconds); }
  int FetchFaces(FrameBuffers& buffers);

  CalModel* Model() const { return model_.get(); }

 private:
  void Release();

  std::shared_ptr<CalCoreModel> core_;
  std::unique_ptr<CalModel> model_;
  float scale_ = 1.0f;
};

}  // namespace rwbench
