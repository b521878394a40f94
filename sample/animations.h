// The sample characters' animations, written as turns about model-space
// axes at each joint; BuildAnimation turns them into Cal3D keyframes.
//
// Right-handed turns, with the character facing -Y and its left at +X:
// +X swings a hanging limb backwards and leans the spine forwards, +Y lifts
// the right arm sideways, +Z turns the left side backwards.
#pragma once

#include <cal3d/coreanimation.h>

#include <functional>
#include <string>
#include <vector>

#include "sample/skeleton.h"

namespace rwsample {

struct Pose {
  std::array<CalQuaternion, kBoneCount> turn;  // identity: as at rest
  Vec3 hipsOffset;

  void Turn(int bone, Vec3 axis, double degrees) {
    turn[bone] = Then(turn[bone], AxisAngle(axis, degrees));
  }
};

struct AnimationDef {
  std::string file;  // its name up to the '.' is the animation's name
  double duration;
  int intervals;  // keyframes are evenly spaced, intervals + 1 of them
  bool loops;     // cycles end on exactly their first keyframe
  std::function<Pose(double time)> pose;
};

const std::vector<AnimationDef>& Animations();

CalCoreAnimationPtr BuildAnimation(const Rig& rig, const AnimationDef& def);

// Cal3D 0.11's CalCoreAnimation never frees its tracks, and a track must be
// destroy()ed before it is deleted; call this before dropping an animation.
void ReleaseTracks(CalCoreAnimation& animation);

}  // namespace rwsample
