// Where a character's bones are in the space its vertices are drawn in.
#pragma once

#include "host/math_types.h"

class CalBone;

namespace rigweave {

// The bone's pose of the last skeleton update as a transform from the
// character's object space (Cal3D's model space times `factor`, then turned
// as render/engine_space.h turns vertices) into the bone's space. The bone's
// space keeps the character's units: This2Other of a point `factor * p`,
// where p is a point in Cal3D's bone space, is that point drawn.
csReversibleTransform BoneInObjectSpace(CalBone& bone, float factor);

}  // namespace rigweave
