#include "sample/skeleton.h"

#include <cal3d/corebone.h>

namespace rwsample {
namespace joints {

constexpr double kUpperArm = 18, kForearm = 16, kHand = 9;

Vec3 Shoulder(double side) {
  return {11 * side, 0, 79.5};
}
// Arms hang slightly away from the body (an A pose), which keeps the
// sleeves clear of the torso and skins better than arms held straight down.
Vec3 ArmDirection(double side) {
  return {std::sin(Radians(14)) * side, 0, -std::cos(Radians(14))};
}
Vec3 Elbow(double side) {
  return Shoulder(side) + kUpperArm * ArmDirection(side);
}
Vec3 Wrist(double side) {
  return Elbow(side) + kForearm * ArmDirection(side);
}
Vec3 HandTip(double side) {
  return Wrist(side) + kHand * ArmDirection(side);
}
Vec3 Hip(double side) {
  return {5 * side, 0, 49};
}
Vec3 Knee(double side) {
  return {5 * side, 0, 27};
}
Vec3 Ankle(double side) {
  return {5 * side, 0, 5};
}
Vec3 Toe(double side) {
  return {5 * side, -10, 1};
}

}  // namespace joints

const std::array<BoneDef, kBoneCount>& BoneTable() {
  using namespace joints;
  static const std::array<BoneDef, kBoneCount> table = {{
      {"hips", -1, {0, 0, 52}, {0, 0, 58}},
      {"spine", kHips, {0, 0, 58}, {0, 0, 68}},
      {"chest", kSpine, {0, 0, 68}, {0, 0, 83}},
      {"neck", kChest, {0, 0, 83}, {0, 0, 88}},
      {"head", kNeck, {0, 0, 88}, {0, 0, 100}},
      {"upperarm_l", kChest, Shoulder(1), Elbow(1)},
      {"forearm_l", kUpperArmL, Elbow(1), Wrist(1)},
      {"hand_l", kForearmL, Wrist(1), HandTip(1)},
      {"upperarm_r", kChest, Shoulder(-1), Elbow(-1)},
      {"forearm_r", kUpperArmR, Elbow(-1), Wrist(-1)},
      {"hand_r", kForearmR, Wrist(-1), HandTip(-1)},
      {"thigh_l", kHips, Hip(1), Knee(1)},
      {"shin_l", kThighL, Knee(1), Ankle(1)},
      {"foot_l", kShinL, Ankle(1), Toe(1)},
      {"thigh_r", kHips, Hip(-1), Knee(-1)},
      {"shin_r", kThighR, Knee(-1), Ankle(-1)},
      {"foot_r", kShinR, Ankle(-1), Toe(-1)},
  }};
  return table;
}

namespace {

CalQuaternion AbsoluteRestRotation(const BoneDef& bone, bool isFoot) {
  const Vec3 x = Normalized(bone.tip - bone.origin);
  const Vec3 hint = isFoot ? Vec3{0, 0, 1} : Vec3{0, -1, 0};
  const Vec3 y = Normalized(hint - Dot(hint, x) * x);
  return FrameRotation(x, y, Cross(x, y));
}

}  // namespace

CalCoreSkeletonPtr BuildSkeleton(Rig& rig) {
  CalCoreSkeletonPtr skeleton = new CalCoreSkeleton();
  const auto& table = BoneTable();
  std::array<CalQuaternion, kBoneCount> wanted;
  for (int id = 0; id < kBoneCount; id++) {
    const BoneDef& def = table[id];
    wanted[id] = AbsoluteRestRotation(def, id == kFootL || id == kFootR);

    CalQuaternion rotation = wanted[id];
    CalVector translation = ToCal(def.origin);
    if (def.parent >= 0) {
      const CalQuaternion toParent = Conjugate(wanted[def.parent]);
      rotation = Then(rotation, toParent);
      translation = Rotate(ToCal(def.origin - table[def.parent].origin), toParent);
    }
    rig.rotation[id] = rotation;
    rig.translation[id] = translation;

    CalCoreBone* bone = new CalCoreBone(def.name);
    bone->setParentId(def.parent);
    bone->setCoreSkeleton(skeleton.get());
    bone->setTranslation(translation);
    bone->setRotation(rotation);
    // addCoreBone files the bone as a root only if its parent is already set.
    skeleton->addCoreBone(bone);
    if (def.parent >= 0) skeleton->getCoreBone(def.parent)->addChildId(id);
  }

  // The bone-space transform is the inverse of the absolute rest transform,
  // so that skinning a vertex with the rest pose leaves it where it is. Take
  // the absolutes from Cal3D itself to match its rounding.
  skeleton->calculateState();
  for (int id = 0; id < kBoneCount; id++) {
    CalCoreBone* bone = skeleton->getCoreBone(id);
    const CalQuaternion inverse = Conjugate(bone->getRotationAbsolute());
    CalVector translation = bone->getTranslationAbsolute();
    translation *= -1.0f;
    bone->setRotationBoneSpace(inverse);
    bone->setTranslationBoneSpace(Rotate(translation, inverse));
    rig.absoluteRotation[id] = bone->getRotationAbsolute();
  }
  return skeleton;
}

}  // namespace rwsample
