#include "engine/bone_attachment.h"

namespace rwengine {

int AttachToBone(Movable& prop, iMovable* character, iRigweaveState* state, const char* bone,
                 const csReversibleTransform& offset) {
  if (state == nullptr || character == nullptr) return -1;
  const int id = state->FindBone(bone);
  if (id < 0) return -1;
  iMovable* before = prop.GetParent();
  prop.SetParent(character);
  // A character hung below its own prop would make a loop, which the
  // movable refuses by keeping its parent.
  if (prop.GetParent() != character) return -1;
  const int handle = state->Attach(id, &prop, offset);
  if (handle < 0) prop.SetParent(before);
  return handle;
}

}  // namespace rwengine
