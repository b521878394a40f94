#include "model/bones.h"

#include <cal3d/cal3d.h>

#include "render/engine_space.h"

namespace rigweave {

namespace {

csVector3 Turned(const CalVector& v, float factor) {
  const AxisTurn& turn = GetAxisTurn();
  const float x = v.x * factor, y = v.y * factor, z = v.z * factor;
  return {x, turn.cosine * y - turn.sine * z, turn.sine * y + turn.cosine * z};
}

}  // namespace

csReversibleTransform BoneInObjectSpace(CalBone& bone, float factor) {
  // The bone's axes as Cal3D rotates points (vector *= quaternion), so that
  // the convention cannot differ from the one its skinning uses.
  const CalQuaternion& rotation = bone.getRotationAbsolute();
  CalVector axes[3] = {CalVector(1, 0, 0), CalVector(0, 1, 0), CalVector(0, 0, 1)};
  csVector3 turned[3];
  for (int i = 0; i < 3; i++) {
    axes[i] *= rotation;
    turned[i] = Turned(axes[i], 1.0f);
  }
  // This2Other applies the transpose: its columns are the turned axes.
  const csMatrix3 objectToBone(turned[0].x, turned[0].y, turned[0].z, turned[1].x, turned[1].y,
                               turned[1].z, turned[2].x, turned[2].y, turned[2].z);
  return csReversibleTransform(objectToBone, Turned(bone.getTranslationAbsolute(), factor));
}

}  // namespace rigweave
