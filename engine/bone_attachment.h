// Parenting a movable to a character's bone: the engine's side of
// iRigweaveState::Attach.
#pragma once

#include "engine/movable.h"
#include "irigweavestate.h"

namespace rwengine {

// Makes `prop` a child of the character's movable and hangs it on the named
// bone with `offset` (bone space to the prop's space): from then on every
// advance of the character sets the prop's transform relative to the
// character, so its full transform follows the bone in the world in the
// same step. The attachment's handle (for iRigweaveState::Detach), or -1 for
// an unknown bone, with the prop left as it was.
int AttachToBone(Movable& prop, iMovable* character, iRigweaveState* state, const char* bone,
                 const csReversibleTransform& offset);

}  // namespace rwengine
