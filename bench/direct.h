// The baseline: the same Cal3D files loaded and animated by calling Cal3D
// directly, with nothing of the module or the engine in between.
#pragma once

#include <cal3d/cal3d.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/cal3d_character.h"

namespace rwbench {

using rwsupport::CharacterFiles;
using rwsupport::ReadCharacterFiles;

// Plain buffers large enough for every sub-mesh of a character.
struct FrameBuffers {
  std::vector<float> vertices;
  std::vector<float> texels;
  std::vector<CalIndex> faces;
  std::vector<CalIndex> reversed;
  // Grows the buffers to fit the character's largest sub-mesh.
  void FitTo(CalModel& model);
};

// The Cal3D character with the frame work the benchmark times on it.
class DirectCharacter : public rwsupport::Cal3DCharacter {
 public:
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
  void Update(float seconds) { Model()->update(seconds); }
  int FetchFaces(FrameBuffers& buffers);
};

}  // namespace rwbench
