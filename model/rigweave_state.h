// iRigweaveState: the mesh object's application interface for time,
// playback, events, bones and attachments, embedded in the object. It acts
// on the Cal3D model the object binds it to after a load and unbinds before
// the model goes.
#pragma once

#include <string>

#include "host/scf_impl.h"
#include "irigweavestate.h"
#include "model/attachments.h"
#include "model/events.h"
#include "model/morph.h"
#include "render/limits.h"

class CalAnimation;
class CalCoreAnimation;
class CalCoreModel;
class CalMixer;
class CalModel;

namespace rigweave {

class RigweaveState : public scfEmbedded<iBase, iRigweaveState> {
 public:
  // Sub-steps of the spring simulation are at most this long...
  static constexpr float kSpringStep = 1.0f / 60.0f;
  // ...and a longer step simulates only its last stretch of this length.
  static constexpr float kSpringSpan = 1.0f;

  // `owner` is the mesh object, whose count this interface shares.
  explicit RigweaveState(iBase* owner) : scfEmbedded(owner) {}
  ~RigweaveState();

  // The loaded model: its animations' module names (`count` of them, kept
  // by the caller while bound) and the factor from model units to the
  // object's.
  void Bind(CalCoreModel& core, CalModel& model, const std::string* names, int count, float factor);
  // The morph targets of the bound model's meshes and its morph
  // animations (kept by the caller while bound). May throw std::bad_alloc.
  void BindMorphs(const MorphWeights::TargetNames& targetNames,
                  const std::vector<MorphAnimation>& morphAnimations,
                  const std::vector<std::string>& morphAnimationNames) {
    morphs.Bind(*model, targetNames, morphAnimations, morphAnimationNames);
  }
  // Drops the model, every event and every attachment.
  void Unbind();
  // Draw's advance by the clock: nothing when Draw does not advance. False
  // when the object went meanwhile (a listener released it): the caller must
  // not touch it again.
  bool AdvanceForDraw(float seconds);

  // iRigweaveState
  bool Advance(float seconds) override;
  void SetDrawAdvances(bool on) override { drawAdvances = on; }
  bool GetDrawAdvances() override { return drawAdvances; }
  bool SetTimeScale(float scale) override;
  float GetTimeScale() override { return timeScale; }

  int GetAnimationCount() override { return model != nullptr ? animationCount : 0; }
  const char* GetAnimationName(int animation) override;
  const char* GetAnimationBaseName(int animation) override;
  int FindAnimation(const char* name) override;
  float GetAnimationDuration(int animation) override;
  bool AnimationMovesBones(int animation) override;
  bool BlendCycle(int animation, float weight, float fade) override;
  bool ClearCycle(int animation, float fade) override;
  bool PlayAction(int animation, float fadeIn, float fadeOut, float weight) override;
  bool StopAction(int animation) override;
  bool IsPlaying(int animation) override;
  bool GetAnimationTime(int animation, float& seconds) override;
  bool SetAnimationTime(int animation, float seconds) override;

  int AddEvent(int animation, float seconds, const char* name, int userId,
               iRigweaveEventListener* listener) override;
  int AddActionEnd(int animation, const char* name, int userId,
                   iRigweaveEventListener* listener) override;
  bool RemoveEvent(int handle) override { return events.Remove(handle); }

  int GetBoneCount() override;
  const char* GetBoneName(int bone) override;
  int FindBone(const char* name) override;
  int GetBoneParent(int bone) override;
  bool GetBoneTransform(int bone, csReversibleTransform& transform) override;

  int Attach(int bone, iBase* object, const csReversibleTransform& offset) override;
  bool Detach(int handle) override { return attachments.Remove(handle); }

  void SetSpringsEnabled(bool enabled) override { springsEnabled = enabled; }
  bool GetSpringsEnabled() override { return springsEnabled; }

  int GetMeshCount() override { return morphs.MeshCount(); }
  int GetSubmeshCount(int mesh) override { return morphs.SubmeshCount(mesh); }
  int GetMorphTargetCount(int mesh, int submesh) override {
    return morphs.TargetCount(mesh, submesh);
  }
  const char* GetMorphTargetName(int mesh, int submesh, int target) override {
    return morphs.TargetName(mesh, submesh, target);
  }
  int FindMorphTarget(int mesh, int submesh, const char* name) override {
    return morphs.FindTarget(mesh, submesh, name);
  }
  bool SetMorphTargetWeight(int mesh, int submesh, int target, float weight, float fade) override {
    return morphs.SetWeight(mesh, submesh, target, weight, fade);
  }
  bool GetMorphTargetWeight(int mesh, int submesh, int target, float& weight) override {
    return morphs.GetWeight(mesh, submesh, target, weight);
  }
  int GetMorphAnimationCount() override { return morphs.AnimationCount(); }
  const char* GetMorphAnimationName(int animation) override {
    return morphs.AnimationName(animation);
  }
  int FindMorphAnimation(const char* name) override { return morphs.FindAnimation(name); }
  float GetMorphAnimationDuration(int animation) override {
    return morphs.AnimationDuration(animation);
  }
  bool BlendMorphAnimation(int animation, float weight, float fade) override {
    return morphs.Blend(animation, weight, fade);
  }
  bool ClearMorphAnimation(int animation, float fade) override {
    return morphs.Clear(animation, fade);
  }
  bool IsMorphAnimationPlaying(int animation) override { return morphs.IsPlaying(animation); }
  bool GetMorphAnimationTime(int animation, float& seconds) override {
    return morphs.GetTime(animation, seconds);
  }

 private:
  bool Known(int animation) const {
    return model != nullptr && animation >= 0 && animation < animationCount;
  }
  int IdOf(CalCoreAnimation* animation) const;
  // A cycle's place in its loop from the mixer's common time.
  static float CycleTime(float mixerTime, float duration, float mixerDuration);
  // One step of `seconds` already scaled. False as AdvanceForDraw.
  bool Step(float seconds);
  // Where every playing animation is before the step; the spans' count.
  int Snapshot(CalMixer& mixer);
  // Where they are after it.
  void Complete(CalMixer& mixer, float seconds, int count);
  // The model's own update, with the springs in bounded sub-steps.
  void UpdateModel(float seconds);
  // Puts the vertices the springs own where their bones carry them.
  void HoldSpringsToBones();
  // Places the attachments and fires the events; false when the object went.
  bool Notify(int spanCount);

  CalCoreModel* core = nullptr;
  CalModel* model = nullptr;
  const std::string* names = nullptr;
  int animationCount = 0;
  float factor = 1.0f;
  bool hasSprings = false;
  CalCoreAnimation* coreAnimations[kMaxAnimations] = {};

  bool drawAdvances = true;
  float timeScale = 1.0f;
  bool springsEnabled = true;
  bool advancing = false;

  EventTable events;
  AttachmentList attachments;
  MorphWeights morphs;
  // The step under way: one span per playing animation instance.
  PlayingSpan spans[EventTable::kMaxSpans];
  CalAnimation* instances[EventTable::kMaxSpans] = {};
  float mixerTimeBefore = 0, mixerDurationBefore = 0;
};

}  // namespace rigweave
