// iRigweaveState: the mesh object's application interface for time,
// playback, events, bones and attachments, embedded in the object. It acts
// on the Cal3D model the object binds it to after a load and unbinds before
// the model goes.
#pragma once

#include <cstdint>
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

// The operations of iRigweaveState that act on the character's geometry
// (bounds, picking, outfits, light), which the mesh object that embeds the
// interface answers.
class CharacterGeometry {
 public:
  virtual void SetBoundsFollow(bool follow) = 0;
  virtual bool GetBoundsFollow() = 0;
  virtual bool GetPoseBox(csBox3& box) = 0;
  virtual bool HitBeam(const csVector3& start, const csVector3& end, csRigweaveHit& hit) = 0;
  virtual int GetMeshCount() = 0;
  virtual int GetSubmeshCount() = 0;
  virtual bool SetMeshVisible(int mesh, bool visible) = 0;
  virtual bool IsMeshVisible(int mesh) = 0;
  virtual bool SetMaterialSet(int set) = 0;
  virtual bool SetSubmeshMaterial(int submesh, int material) = 0;
  virtual void SetLighting(bool lit) = 0;
  virtual bool GetLighting() = 0;
  virtual bool SetAmbientLight(const csColor& ambient) = 0;

 protected:
  ~CharacterGeometry() = default;
};

class RigweaveState : public scfEmbedded<iBase, iRigweaveState> {
 public:
  // Sub-steps of the spring simulation are at most this long...
  static constexpr float kSpringStep = 1.0f / 60.0f;
  // ...and a longer step simulates only its last stretch of this length.
  static constexpr float kSpringSpan = 1.0f;

  // `owner` is the mesh object, whose count this interface shares.
  // `geometry` answers the geometric operations; the mesh object too.
  RigweaveState(iBase* owner, CharacterGeometry* answering)
      : scfEmbedded(owner), geometry(answering) {}
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
  // Counts the poses: changes with every advance and every bind, so that a
  // pose kept with one count is the skeleton's as long as it is unchanged.
  uint64_t PoseSerial() const { return poseSerial; }

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

  void SetBoundsFollow(bool follow) override { geometry->SetBoundsFollow(follow); }
  bool GetBoundsFollow() override { return geometry->GetBoundsFollow(); }
  bool GetPoseBox(csBox3& box) override { return geometry->GetPoseBox(box); }
  bool HitBeam(const csVector3& start, const csVector3& end, csRigweaveHit& hit) override {
    return geometry->HitBeam(start, end, hit);
  }
  int GetMeshCount() override { return geometry->GetMeshCount(); }
  int GetSubmeshCount() override { return geometry->GetSubmeshCount(); }
  bool SetMeshVisible(int mesh, bool visible) override {
    return geometry->SetMeshVisible(mesh, visible);
  }
  bool IsMeshVisible(int mesh) override { return geometry->IsMeshVisible(mesh); }
  bool SetMaterialSet(int set) override { return geometry->SetMaterialSet(set); }
  bool SetSubmeshMaterial(int submesh, int material) override {
    return geometry->SetSubmeshMaterial(submesh, material);
  }
  void SetLighting(bool lit) override { geometry->SetLighting(lit); }
  bool GetLighting() override { return geometry->GetLighting(); }
  bool SetAmbientLight(const csColor& ambient) override {
    return geometry->SetAmbientLight(ambient);
  }
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

  CharacterGeometry* geometry;
  uint64_t poseSerial = 0;
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
