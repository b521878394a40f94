#include "sample/animations.h"

#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>

#include <iterator>

namespace rwsample {
namespace {

const Vec3 kX{1, 0, 0}, kY{0, 1, 0}, kZ{0, 0, 1};

constexpr double kIdleSeconds = 2.0, kWalkSeconds = 1.0, kWaveSeconds = 1.5, kJumpSeconds = 1.2;

// Breathing and a slow weight shift; the thighs undo the hip roll so the
// feet stay put.
Pose Idle(double t) {
  const double w = 2 * kPi * t / kIdleSeconds;
  Pose p;
  p.hipsOffset = {0, 0, -0.3 * (1 - std::cos(w)) / 2};
  p.Turn(kHips, kY, 1.2 * std::sin(w));
  p.Turn(kThighL, kY, -1.2 * std::sin(w));
  p.Turn(kThighR, kY, -1.2 * std::sin(w));
  p.Turn(kSpine, kX, 1.0 + 0.8 * std::sin(w));
  p.Turn(kSpine, kY, -1.2 * std::sin(w));
  p.Turn(kChest, kX, -1.0 * std::cos(w));
  p.Turn(kNeck, kZ, 3 * std::sin(w + 0.6));
  p.Turn(kHead, kX, 1.5 * std::sin(w + 1.2));
  for (double side : {1.0, -1.0}) {
    const int upper = side > 0 ? kUpperArmL : kUpperArmR;
    p.Turn(upper, kY, -side * 1.2 * (1 + std::sin(w)));
    p.Turn(upper, kX, 2.5 * std::sin(w + 0.4));
    p.Turn(upper + 1, kX, -(6 + 3 * std::sin(w + 0.8)));
  }
  return p;
}

// Two steps a cycle, in place: legs swing, knees bend through the swing,
// hips bob and twist, arms counter-swing.
Pose Walk(double t) {
  const double phase = 2 * kPi * t / kWalkSeconds;
  Pose p;
  p.hipsOffset = {0, 0, -2.0 * (1 - std::cos(2 * phase)) / 2};
  p.Turn(kHips, kZ, -5 * std::sin(phase));
  p.Turn(kSpine, kX, 4 + std::cos(2 * phase));
  p.Turn(kSpine, kZ, 3 * std::sin(phase));
  p.Turn(kChest, kZ, 4 * std::sin(phase));
  p.Turn(kHead, kX, -2 - 0.5 * std::cos(2 * phase));
  p.Turn(kHead, kZ, -std::sin(phase));
  for (double side : {1.0, -1.0}) {
    // The left leg is furthest forward a quarter into the cycle, the right
    // one half a cycle later.
    const double leg = side > 0 ? phase : phase + kPi;
    const double thigh = -24 * std::sin(leg);
    const double knee = 5 + 58 * std::pow((1 + std::cos(leg + 0.35)) / 2, 3);
    const int thighBone = side > 0 ? kThighL : kThighR;
    p.Turn(thighBone, kX, thigh);
    p.Turn(thighBone + 1, kX, knee);
    p.Turn(thighBone + 2, kX, -0.8 * (thigh + knee));  // keep the sole near level

    const int upper = side > 0 ? kUpperArmL : kUpperArmR;
    p.Turn(upper, kY, 5 * side);
    p.Turn(upper, kX, 20 * std::sin(leg));
    p.Turn(upper + 1, kX, -(12 + 14 * std::max(0.0, -std::sin(leg))));
  }
  return p;
}

// Right arm up, forearm waving twice with the palm turned forwards.
Pose Wave(double t) {
  const double raise = 0.35, period = 0.4;
  const double up = Smoothstep(t / raise) * (1 - Smoothstep((t - kWaveSeconds + raise) / raise));
  const double waving = std::sin(2 * kPi * (t - raise) / period);
  Pose p;
  p.Turn(kUpperArmR, kY, 120 * up);
  p.Turn(kUpperArmR, kX, -12 * up);
  p.Turn(kForearmR, kY, (35 + 25 * waving) * up);
  p.Turn(kHandR, joints::ArmDirection(-1), 90 * up);
  p.Turn(kChest, kY, 4 * up);
  p.Turn(kHead, kZ, -8 * up);
  return p;
}

struct JumpKey {
  double time;
  double crouch;  // thigh forward, knee twice as much, foot back: feet stay under the hips
  double lift;    // hips above where the crouch alone puts them
  double tuck;    // knees drawn up in the air
  double toes;
  double lean;
  double arms;  // negative swings them forwards and up
  double forearms;
};

const JumpKey kJump[] = {
    {0.00, 0, 0, 0, 0, 0, 0, 0},         {0.30, 40, 0, 0, 0, 22, 50, -15},
    {0.48, 0, 3, 0, 30, -4, -150, -10},  {0.66, 0, 22, 25, 15, 0, -165, -15},
    {0.84, 8, 1, 0, 5, 6, -70, -15},     {1.00, 34, 0, 0, 0, 18, 15, -20},
    {kJumpSeconds, 0, 0, 0, 0, 0, 0, 0},
};

Pose Jump(double t) {
  size_t k = 0;
  while (k + 2 < std::size(kJump) && kJump[k + 1].time <= t) k++;
  const JumpKey &a = kJump[k], &b = kJump[k + 1];
  const double f = Smoothstep((t - a.time) / (b.time - a.time));
  auto mix = [&](double JumpKey::*field) { return Lerp(a.*field, b.*field, f); };
  const double crouch = mix(&JumpKey::crouch), tuck = mix(&JumpKey::tuck);
  const double lean = mix(&JumpKey::lean);
  // Thigh and shin are equally long, so a leg folded by the crouch angle
  // spans legLength * cos(crouch): the hips come down by the difference.
  const double legLength = Length(joints::Hip(1) - joints::Ankle(1));
  Pose p;
  p.hipsOffset = {0, 0, mix(&JumpKey::lift) - legLength * (1 - std::cos(Radians(crouch)))};
  p.Turn(kSpine, kX, 0.6 * lean);
  p.Turn(kChest, kX, 0.4 * lean);
  p.Turn(kHead, kX, -0.5 * lean);
  for (int thigh : {kThighL, kThighR}) {
    p.Turn(thigh, kX, -(crouch + tuck));
    p.Turn(thigh + 1, kX, 2 * crouch + 1.6 * tuck);
    p.Turn(thigh + 2, kX, -crouch - 0.6 * tuck + mix(&JumpKey::toes));
  }
  for (int upper : {kUpperArmL, kUpperArmR}) {
    p.Turn(upper, kX, mix(&JumpKey::arms));
    p.Turn(upper + 1, kX, mix(&JumpKey::forearms));
  }
  return p;
}

bool IsRest(const CalQuaternion& q) {
  return std::abs(q.w) > std::cos(Radians(0.01) / 2);
}

}  // namespace

const std::vector<AnimationDef>& Animations() {
  static const std::vector<AnimationDef> list = {
      {"idle.caf", kIdleSeconds, 16, true, Idle},
      {"walk.caf", kWalkSeconds, 16, true, Walk},
      {"wave.caf", kWaveSeconds, 30, false, Wave},
      {"jump.caf", kJumpSeconds, 24, false, Jump},
  };
  return list;
}

CalCoreAnimationPtr BuildAnimation(const Rig& rig, const AnimationDef& def) {
  std::vector<Pose> poses;
  std::vector<float> times;
  for (int k = 0; k <= def.intervals; k++) {
    const double time = def.duration * k / def.intervals;
    poses.push_back(def.pose(def.loops && k == def.intervals ? 0.0 : time));
    times.push_back(static_cast<float>(time));
  }

  CalCoreAnimationPtr animation = new CalCoreAnimation();
  animation->setDuration(static_cast<float>(def.duration));
  animation->setName(def.file.substr(0, def.file.rfind('.')));
  const auto& bones = BoneTable();
  for (int bone = 0; bone < kBoneCount; bone++) {
    bool moves = false;
    for (const Pose& pose : poses)
      moves = moves || !IsRest(pose.turn[bone]) || (bone == kHips && Length(pose.hipsOffset) > 0);
    if (!moves) continue;

    auto* track = new CalCoreTrack();
    track->create();
    track->setCoreBoneId(bone);
    // A turn about model axes at rest becomes, in the parent's frame,
    // parentRest * turn * parentRest^-1, and acts after the rest rotation.
    const int parent = bones[bone].parent;
    const CalQuaternion parentRest = parent >= 0 ? rig.absoluteRotation[parent] : CalQuaternion();
    for (size_t k = 0; k < poses.size(); k++) {
      const CalQuaternion inParent =
          Then(Then(parentRest, poses[k].turn[bone]), Conjugate(parentRest));
      CalVector translation = rig.translation[bone];
      if (bone == kHips) translation += ToCal(poses[k].hipsOffset);
      auto* key = new CalCoreKeyframe();
      key->create();
      key->setTime(times[k]);
      key->setTranslation(translation);
      key->setRotation(Then(rig.rotation[bone], inParent));
      track->addCoreKeyframe(key);
    }
    animation->addCoreTrack(track);
  }
  return animation;
}

void ReleaseTracks(CalCoreAnimation& animation) {
  for (CalCoreTrack* track : animation.getListCoreTrack()) {
    track->destroy();
    delete track;
  }
  animation.getListCoreTrack().clear();
}

}  // namespace rwsample
