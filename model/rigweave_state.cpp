// Time, events, bones and attachments of iRigweaveState; the animation
// operations are in mesh_object_playback.cpp.
#include "model/rigweave_state.h"

#include <cal3d/cal3d.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "model/bones.h"
#include "model/diagnostics.h"
#include "model/submesh_walk.h"

namespace rigweave {

RigweaveState::~RigweaveState() = default;

void RigweaveState::Bind(CalCoreModel& coreModel, CalModel& calModel,
                         const std::string* animationNames, int count, float modelFactor) {
  Unbind();
  poseSerial++;
  core = &coreModel;
  model = &calModel;
  names = animationNames;
  animationCount = std::min(count, kMaxAnimations);
  factor = modelFactor;
  for (int i = 0; i < animationCount; i++) coreAnimations[i] = core->getCoreAnimation(i);
  hasSprings = false;
  ForEachSubmesh(*model, [this](const SubmeshVisit& visit) {
    hasSprings =
        visit.submesh.getCoreSubmesh()->getSpringCount() > 0 && visit.submesh.hasInternalData();
    return !hasSprings;
  });
}

void RigweaveState::Unbind() {
  core = nullptr;
  model = nullptr;
  names = nullptr;
  animationCount = 0;
  hasSprings = false;
  std::fill(std::begin(coreAnimations), std::end(coreAnimations), nullptr);
  events.Clear();
  attachments.Clear();
  morphs.Unbind();
}

bool RigweaveState::SetTimeScale(float scale) {
  if (!std::isfinite(scale) || scale < 0) return false;
  timeScale = scale;
  return true;
}

bool RigweaveState::Advance(float seconds) {
  if (model == nullptr || advancing || !std::isfinite(seconds) || seconds < 0) return false;
  // A step that lands on the object's last reference still happened.
  Step(seconds * timeScale);
  return true;
}

bool RigweaveState::AdvanceForDraw(float seconds) {
  if (model == nullptr || !drawAdvances || advancing) return true;
  return Step(seconds * timeScale);
}

bool RigweaveState::Step(float seconds) {
  advancing = true;
  poseSerial++;
  CalMixer& mixer = *model->getMixer();
  const bool listening = !events.Empty();
  const int count = listening ? Snapshot(mixer) : 0;
  UpdateModel(seconds);
  morphs.Advance(seconds);
  if (listening) Complete(mixer, seconds, count);
  if (events.Empty() && attachments.Empty()) {
    advancing = false;
    return true;
  }
  // The object lives through the calls out unless a listener or receiver
  // drops it, which Notify tells.
  if (!Notify(count)) return false;
  return true;
}

bool RigweaveState::Notify(int spanCount) {
  iBase* owner = scfOwner;
  owner->IncRef();
  bool alive = attachments.Place(*model->getSkeleton(), factor, owner);
  // A receiver may have loaded another model: its events are gone with it.
  if (alive && model != nullptr) alive = events.Fire(spans, spanCount, this, owner);
  if (!alive) {
    owner->DecRef();  // the last reference: the object, this included, is gone
    return false;
  }
  advancing = false;
  owner->DecRef();
  return true;
}

void RigweaveState::UpdateModel(float seconds) {
  if (!hasSprings || (springsEnabled && seconds <= kSpringStep)) {
    model->update(seconds);
    return;
  }
  if (!springsEnabled) {
    // What CalModel::update does, the springs apart.
    model->getAbstractMixer()->updateAnimation(seconds);
    model->getAbstractMixer()->updateSkeleton();
    model->getMorphTargetMixer()->update(seconds);
    model->getPhysique()->update();
    HoldSpringsToBones();
    return;
  }
  // A long step in one piece gives Verlet integration a jump of
  // g * step^2 and the bones' whole move at once, which the few constraint
  // passes cannot take back: the cloth flies off and swings for seconds.
  // Beyond its last stretch the step moves the animation alone.
  const float simulated = std::min(seconds, kSpringSpan);
  if (seconds > simulated) {
    model->getAbstractMixer()->updateAnimation(seconds - simulated);
    model->getMorphTargetMixer()->update(seconds - simulated);
  }
  const int steps = static_cast<int>(std::ceil(simulated / kSpringStep));
  const float each = simulated / static_cast<float>(steps);
  for (int i = 0; i < steps; i++) model->update(each);
}

void RigweaveState::HoldSpringsToBones() {
  // Cal3D's physique leaves the vertices the springs own where the springs
  // last put them; without springs they are skinned here, as the others
  // are, and put at rest, so that springs turned on again start still.
  std::vector<CalBone*>& bones = model->getSkeleton()->getVectorBone();
  ForEachSubmesh(*model, [&bones](const SubmeshVisit& visit) {
    CalSubmesh* submesh = &visit.submesh;
    CalCoreSubmesh* owned = submesh->getCoreSubmesh();
    if (owned->getSpringCount() == 0 || !submesh->hasInternalData()) return true;
    std::vector<CalCoreSubmesh::Vertex>& rest = owned->getVectorVertex();
    std::vector<CalVector>& vertices = submesh->getVectorVertex();
    std::vector<CalSubmesh::PhysicalProperty>& physical = submesh->getVectorPhysicalProperty();
    const size_t count = std::min({rest.size(), vertices.size(), physical.size()});
    for (size_t i = 0; i < count; i++) {
      CalVector skinned(0, 0, 0);
      for (const CalCoreSubmesh::Influence& influence : rest[i].vectorInfluence) {
        if (influence.boneId < 0 || static_cast<size_t>(influence.boneId) >= bones.size()) continue;
        CalBone& bone = *bones[static_cast<size_t>(influence.boneId)];
        CalVector v = rest[i].position;
        v *= bone.getTransformMatrix();
        v += bone.getTranslationBoneSpace();
        skinned += v * influence.weight;
      }
      if (rest[i].vectorInfluence.empty()) skinned = rest[i].position;
      vertices[i] = skinned;
      physical[i].position = skinned;
      physical[i].positionOld = skinned;
      physical[i].force.clear();
    }
    return true;
  });
}

int RigweaveState::IdOf(CalCoreAnimation* animation) const {
  for (int i = 0; i < animationCount; i++)
    if (coreAnimations[i] == animation) return i;
  return -1;
}

float RigweaveState::CycleTime(float mixerTime, float duration, float mixerDuration) {
  // The mixer keeps cycles in phase by one time over their weighted mean
  // duration; each cycle samples its own share of it.
  return mixerDuration > 0 ? mixerTime / mixerDuration * duration : 0.0f;
}

int RigweaveState::Snapshot(CalMixer& mixer) {
  mixerTimeBefore = mixer.getAnimationTime();
  mixerDurationBefore = mixer.getAnimationDuration();
  int count = 0;
  for (CalAnimationCycle* cycle : mixer.getAnimationCycle()) {
    const int id = IdOf(cycle->getCoreAnimation());
    if (id < 0 || count >= EventTable::kMaxSpans) continue;
    PlayingSpan& span = spans[count];
    span = PlayingSpan();
    span.animation = id;
    span.cycle = true;
    span.duration = cycle->getCoreAnimation()->getDuration();
    span.before = CycleTime(mixerTimeBefore, span.duration, mixerDurationBefore);
    instances[count++] = cycle;
  }
  for (CalAnimationAction* action : mixer.getAnimationActionList()) {
    const int id = IdOf(action->getCoreAnimation());
    if (id < 0 || count >= EventTable::kMaxSpans) continue;
    PlayingSpan& span = spans[count];
    span = PlayingSpan();
    span.animation = id;
    span.duration = action->getCoreAnimation()->getDuration();
    span.before = action->getTime();
    instances[count++] = action;
  }
  return count;
}

void RigweaveState::Complete(CalMixer& mixer, float seconds, int count) {
  // The wraps as the mixer counts them: its time plus the step, in floats,
  // taken modulo the duration it had before the step.
  int wraps = 0;
  const float reached = mixerTimeBefore + seconds * mixer.getTimeFactor();
  if (mixerDurationBefore > 0 && reached >= mixerDurationBefore) {
    const double loops = std::floor(static_cast<double>(reached) / mixerDurationBefore);
    if (loops > EventTable::kMaxWraps)
      Diagnose(": Step too long for its events; crossings dropped after ",
               std::to_string(EventTable::kMaxWraps));
    wraps = static_cast<int>(std::min(loops, static_cast<double>(EventTable::kMaxWraps)));
  }
  std::list<CalAnimationCycle*>& cycles = mixer.getAnimationCycle();
  std::list<CalAnimationAction*>& actions = mixer.getAnimationActionList();
  for (int i = 0; i < count; i++) {
    PlayingSpan& span = spans[i];
    if (span.cycle) {
      const bool playing = std::find(cycles.begin(), cycles.end(), instances[i]) != cycles.end();
      // A cycle faded out in this step fires nothing more.
      span.after =
          playing ? CycleTime(mixer.getAnimationTime(), span.duration, mixer.getAnimationDuration())
                  : span.before;
      span.wraps = playing ? wraps : 0;
      continue;
    }
    auto action = std::find(actions.begin(), actions.end(), instances[i]);
    if (action != actions.end()) {
      span.after = (*action)->getTime();
    } else {
      // It played out and Cal3D deleted it.
      span.ended = true;
      span.after = std::max(span.before + seconds, span.duration);
    }
  }
}

int RigweaveState::AddEvent(int animation, float seconds, const char* name, int userId,
                            iRigweaveEventListener* listener) {
  if (!Known(animation) || listener == nullptr || !std::isfinite(seconds) || seconds < 0 ||
      seconds > coreAnimations[animation]->getDuration())
    return -1;
  try {
    return events.AddMoment(animation, seconds, name, userId, listener);
  } catch (const std::bad_alloc&) {
    Diagnose(": Out of memory registering an event");
    return -1;
  }
}

int RigweaveState::AddActionEnd(int animation, const char* name, int userId,
                                iRigweaveEventListener* listener) {
  if (model == nullptr || listener == nullptr || (animation != -1 && !Known(animation))) return -1;
  try {
    return events.AddActionEnd(animation, name, userId, listener);
  } catch (const std::bad_alloc&) {
    Diagnose(": Out of memory registering an event");
    return -1;
  }
}

int RigweaveState::GetBoneCount() {
  if (model == nullptr) return 0;
  return static_cast<int>(model->getSkeleton()->getVectorBone().size());
}

const char* RigweaveState::GetBoneName(int bone) {
  if (bone < 0 || bone >= GetBoneCount()) return nullptr;
  return core->getCoreSkeleton()->getVectorCoreBone()[static_cast<size_t>(bone)]->getName().c_str();
}

int RigweaveState::FindBone(const char* name) {
  if (name == nullptr) return -1;
  const int count = GetBoneCount();
  for (int bone = 0; bone < count; bone++)
    if (std::strcmp(GetBoneName(bone), name) == 0) return bone;
  return -1;
}

int RigweaveState::GetBoneParent(int bone) {
  if (bone < 0 || bone >= GetBoneCount()) return -1;
  const int parent =
      core->getCoreSkeleton()->getVectorCoreBone()[static_cast<size_t>(bone)]->getParentId();
  return parent >= 0 && parent < GetBoneCount() ? parent : -1;
}

bool RigweaveState::GetBoneTransform(int bone, csReversibleTransform& transform) {
  if (bone < 0 || bone >= GetBoneCount()) return false;
  transform =
      BoneInObjectSpace(*model->getSkeleton()->getVectorBone()[static_cast<size_t>(bone)], factor);
  return true;
}

int RigweaveState::Attach(int bone, iBase* object, const csReversibleTransform& offset) {
  if (bone < 0 || bone >= GetBoneCount()) return -1;
  int handle = -1;
  try {
    handle = attachments.Add(bone, object, offset);
  } catch (const std::bad_alloc&) {
    Diagnose(": Out of memory attaching");
    return -1;
  }
  // Placed for the pose there is, so that it is right before any advance.
  if (handle >= 0) attachments.Place(*model->getSkeleton(), factor, nullptr, handle);
  return handle;
}

}  // namespace rigweave
