// The animations of iRigweaveState: listed, found, played with control and
// their times read and set. Time does not move here.
#include <cal3d/cal3d.h>
#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>

#include <cmath>
#include <cstring>
#include <new>

#include "model/diagnostics.h"
#include "model/rigweave_state.h"

namespace rigweave {

namespace {

bool Finite(float value) {
  return std::isfinite(value) && value >= 0;
}

bool Same(const CalVector& a, const CalVector& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

bool Same(const CalQuaternion& a, const CalQuaternion& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

CalAnimationCycle* CycleOf(CalMixer& mixer, CalCoreAnimation* animation) {
  for (CalAnimationCycle* cycle : mixer.getAnimationCycle())
    if (cycle->getCoreAnimation() == animation) return cycle;
  return nullptr;
}

// Cal3D's mixer allocates each cycle and action it starts: running out
// answers false, as everywhere in the module, and changes nothing more.
template <class Call>
bool StartingAnimation(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    Diagnose(": Out of memory starting an animation");
    return false;
  }
}

// The newest action of the animation: Cal3D puts each new one first.
CalAnimationAction* ActionOf(CalMixer& mixer, CalCoreAnimation* animation) {
  for (CalAnimationAction* action : mixer.getAnimationActionList())
    if (action->getCoreAnimation() == animation) return action;
  return nullptr;
}

}  // namespace

const char* RigweaveState::GetAnimationName(int animation) {
  return Known(animation) ? names[animation].c_str() : nullptr;
}

const char* RigweaveState::GetAnimationBaseName(int animation) {
  if (!Known(animation)) return nullptr;
  const std::string& name = names[animation];
  const size_t slash = name.rfind('/');
  return name.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

int RigweaveState::FindAnimation(const char* name) {
  if (name == nullptr || model == nullptr) return -1;
  for (int i = 0; i < animationCount; i++)
    if (names[i] == name) return i;
  int found = -1;
  for (int i = 0; i < animationCount; i++) {
    if (std::strcmp(GetAnimationBaseName(i), name) != 0) continue;
    if (found >= 0) return -1;  // shared: the name says no single animation
    found = i;
  }
  return found;
}

float RigweaveState::GetAnimationDuration(int animation) {
  return Known(animation) ? coreAnimations[animation]->getDuration() : -1.0f;
}

bool RigweaveState::AnimationMovesBones(int animation) {
  if (!Known(animation)) return false;
  for (CalCoreTrack* track : coreAnimations[animation]->getListCoreTrack()) {
    const int keys = track->getCoreKeyframeCount();
    if (keys < 2) continue;
    CalCoreKeyframe* first = track->getCoreKeyframe(0);
    for (int k = 1; k < keys; k++) {
      CalCoreKeyframe* key = track->getCoreKeyframe(k);
      if (!Same(key->getTranslation(), first->getTranslation()) ||
          !Same(key->getRotation(), first->getRotation()))
        return true;
    }
  }
  return false;
}

bool RigweaveState::BlendCycle(int animation, float weight, float fade) {
  if (!Known(animation) || !Finite(weight) || !Finite(fade)) return false;
  return StartingAnimation([&] { return model->getMixer()->blendCycle(animation, weight, fade); });
}

bool RigweaveState::ClearCycle(int animation, float fade) {
  if (!Known(animation) || !Finite(fade)) return false;
  return model->getMixer()->clearCycle(animation, fade);
}

bool RigweaveState::PlayAction(int animation, float fadeIn, float fadeOut, float weight) {
  if (!Known(animation) || !Finite(fadeIn) || !Finite(fadeOut) || !Finite(weight)) return false;
  return StartingAnimation(
      [&] { return model->getMixer()->executeAction(animation, fadeIn, fadeOut, weight, false); });
}

bool RigweaveState::StopAction(int animation) {
  if (!Known(animation)) return false;
  return model->getMixer()->removeAction(animation);
}

bool RigweaveState::IsPlaying(int animation) {
  if (!Known(animation)) return false;
  CalMixer& mixer = *model->getMixer();
  return CycleOf(mixer, coreAnimations[animation]) != nullptr ||
         ActionOf(mixer, coreAnimations[animation]) != nullptr;
}

bool RigweaveState::GetAnimationTime(int animation, float& seconds) {
  if (!Known(animation)) return false;
  CalMixer& mixer = *model->getMixer();
  CalCoreAnimation* played = coreAnimations[animation];
  if (CycleOf(mixer, played) != nullptr) {
    seconds =
        CycleTime(mixer.getAnimationTime(), played->getDuration(), mixer.getAnimationDuration());
    return true;
  }
  if (CalAnimationAction* action = ActionOf(mixer, played)) {
    seconds = action->getTime();
    return true;
  }
  return false;
}

bool RigweaveState::SetAnimationTime(int animation, float seconds) {
  if (!Known(animation) || !Finite(seconds)) return false;
  CalMixer& mixer = *model->getMixer();
  CalCoreAnimation* played = coreAnimations[animation];
  const float duration = played->getDuration();
  if (CycleOf(mixer, played) != nullptr) {
    const float common = mixer.getAnimationDuration();
    // Until its first advance the mixer has no common duration to place it in.
    if (common <= 0 || duration <= 0) return false;
    mixer.setAnimationTime(std::fmod(seconds, duration) / duration * common);
    return true;
  }
  if (CalAnimationAction* action = ActionOf(mixer, played)) {
    action->setTime(std::min(seconds, duration));
    return true;
  }
  return false;
}

}  // namespace rigweave
