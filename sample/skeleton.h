// The sample characters' bone table and rest pose.
//
// Model space is Z-up like the files 3ds Max exporters write: the character
// stands on z = 0, faces -Y and is about 100 units tall, so its left side is
// +X. Each bone's local x axis runs along the bone towards its tip, with
// local y pointing forward (up, for the feet); this gives every bone a
// non-trivial rest rotation, as exported rigs have.
#pragma once

#include <cal3d/coreskeleton.h>

#include <array>

#include "sample/rig_math.h"

namespace rwsample {

enum Bone {
  kHips,
  kSpine,
  kChest,
  kNeck,
  kHead,
  kUpperArmL,
  kForearmL,
  kHandL,
  kUpperArmR,
  kForearmR,
  kHandR,
  kThighL,
  kShinL,
  kFootL,
  kThighR,
  kShinR,
  kFootR,
  kBoneCount
};

struct BoneDef {
  const char* name;
  int parent;   // -1 for the root
  Vec3 origin;  // the joint, in model space
  Vec3 tip;     // where the bone points to
};

// Joint positions the geometry is fitted around; side is +1 for the
// character's left, -1 for its right.
namespace joints {
Vec3 Shoulder(double side);
Vec3 ArmDirection(double side);
Vec3 Elbow(double side);
Vec3 Wrist(double side);
Vec3 HandTip(double side);
Vec3 Hip(double side);
Vec3 Knee(double side);
Vec3 Ankle(double side);
Vec3 Toe(double side);
}  // namespace joints

const std::array<BoneDef, kBoneCount>& BoneTable();

// Rest transforms, relative to the parent bone as Cal3D stores them, plus
// the absolute rotations the animation helpers need to express turns about
// model axes.
struct Rig {
  std::array<CalQuaternion, kBoneCount> rotation;
  std::array<CalVector, kBoneCount> translation;
  std::array<CalQuaternion, kBoneCount> absoluteRotation;
};

CalCoreSkeletonPtr BuildSkeleton(Rig& rig);

}  // namespace rwsample
