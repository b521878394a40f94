// Rigweave: what an application does with a loaded character beyond
// iCal3DState: drives its time, lists and plays its animations with control,
// hears named moments of them, reads its bones and hangs objects on them,
// weights its morph targets and plays its morph animations.
//
// Query a mesh object of class "crystalspace.mesh.object.rigweave" for
// iRigweaveState (as for iCal3DState) and load a model through iCal3DState.
// Everything here acts on the loaded model: before a load, and after a load
// that failed, every operation answers false, -1, 0 or null and changes
// nothing. A new LoadModel drops every event and attachment registered for
// the character it replaces.
//
// Ids: an animation's id is its place in the configuration (0 for the first
// "animation =" line), a bone's id its place in the skeleton file. An id out
// of range, or a name nothing has, answers false (or -1, or null) and changes
// nothing; so do times, weights and fades that are negative or not finite.
//
// Time: the character moves only when it is advanced, by Advance or, unless
// SetDrawAdvances(false), by Draw with the engine clock's ticks since its last
// Draw, as iCal3DState's characters always have. One advance moves the
// animations, poses the bones, places every attached object and then fires
// the events crossed, all before it returns; the frame's drawing shows that
// pose. An advance allocates no memory.
#pragma once

#include "host/math_types.h"
#include "host/scf.h"

struct iRigweaveState;

// What a listener hears: one crossing of an event's time, or the end of an
// action.
struct csRigweaveEvent {
  // The handle AddEvent or AddActionEnd gave.
  int handle;
  // The animation crossed or ended.
  int animation;
  // The event's time in seconds within the animation; for an action's end,
  // the animation's duration.
  float time;
  // The name and number given at registration (the name is "" when none was
  // given; it lives until the event is removed).
  const char* name;
  int userId;
  // True for the end of an action, false for a moment crossed.
  bool actionEnd;
};

// Where a beam meets a character (HitBeam).
struct csRigweaveHit {
  // The point met, in the character's object space (the drawn vertices').
  csVector3 point;
  // Where along the beam: 0 at its start, 1 at its end.
  float fraction;
  // The sub-mesh met, numbered across the meshes in their order (a mesh's
  // sub-meshes in order), as GetSubmeshCount counts them; the mesh it belongs
  // to; and the triangle's place in that sub-mesh's faces at the character's
  // level of detail.
  int submesh;
  int mesh;
  int triangle;
};

struct iRigweaveEventListener : iBase {
  SCF_INTERFACE(iRigweaveEventListener, 0, 0, 1)
  // Called from inside an advance (Advance, or Draw), once per crossing, in
  // the order in which the character's time crosses them within the step.
  // The listener may remove this or any other event, add new ones (they fire
  // from the next advance on), start and stop animations, attach and detach
  // (taking effect from the next advance), and release the character. It may
  // not advance the same character from inside the call (Advance answers
  // false), nor throw. The character's pose is already that of the end of
  // the step.
  virtual void OnRigweaveEvent(iRigweaveState* character, const csRigweaveEvent& event) = 0;

 protected:
  ~iRigweaveEventListener() = default;
};

// Any receiver of a bone's placement. An object attached with Attach that
// offers this interface is placed through it; one that offers only iMovable
// gets the transform as its movable's own transform (see Attach).
struct iRigweaveAttachment : iBase {
  SCF_INTERFACE(iRigweaveAttachment, 0, 0, 1)
  // `characterToObject` maps the character's object space (the space of its
  // drawn vertices) into the attached object's space: the bone's transform
  // followed by the offset given to Attach.
  virtual void PlaceOnBone(const csReversibleTransform& characterToObject) = 0;

 protected:
  ~iRigweaveAttachment() = default;
};

struct iRigweaveState : iBase {
  SCF_INTERFACE(iRigweaveState, 0, 1, 0)

  // --- Time -----------------------------------------------------------------

  // Advances the character by `seconds` times the time scale now: its
  // animations, the events they cross, its bones and its attached objects.
  // False, moving nothing, without a model, for a negative or non-finite
  // `seconds`, or when called from inside one of this character's listeners.
  virtual bool Advance(float seconds) = 0;
  // True (the default): Draw advances the character by the engine clock's
  // ticks since its last Draw, times the time scale. False: Draw moves
  // nothing and only Advance does (an application that drives time itself,
  // or an engine advancing characters that are out of view). Kept across
  // loads.
  virtual void SetDrawAdvances(bool drawAdvances) = 0;
  virtual bool GetDrawAdvances() = 0;
  // Multiplies the time of every advance, Draw's and Advance's; 0 pauses the
  // character, 1 (the default) is real time. False, keeping the scale, for a
  // negative or non-finite scale. Kept across loads.
  virtual bool SetTimeScale(float scale) = 0;
  virtual float GetTimeScale() = 0;

  // --- Animations -----------------------------------------------------------

  virtual int GetAnimationCount() = 0;
  // The module's name of an animation: the configuration's value without its
  // extension ("paladin/paladin_walk"). Null for an unknown id.
  virtual const char* GetAnimationName(int animation) = 0;
  // The file's base name: the module's name after its last '/'
  // ("paladin_walk"). Null for an unknown id.
  virtual const char* GetAnimationBaseName(int animation) = 0;
  // The id of the animation with that module's name or, when only one
  // animation has it, that base name; -1 otherwise (no name, or a base name
  // several share).
  virtual int FindAnimation(const char* name) = 0;
  // Seconds; -1 for an unknown id.
  virtual float GetAnimationDuration(int animation) = 0;
  // Whether any bone moves in the animation: some track holds two keyframes
  // that differ. False for an unknown id, and for an animation that holds
  // every bone still (a pose, or an export that lost its keys).
  virtual bool AnimationMovesBones(int animation) = 0;

  // Fades the cycle in to `weight` (0 to 1) over `fade` seconds; the others
  // play on. False for an unknown id or a bad weight or fade.
  virtual bool BlendCycle(int animation, float weight, float fade) = 0;
  // Fades the cycle out over `fade` seconds. False for an unknown id or a
  // bad fade; true for a cycle that was not playing (nothing to clear).
  virtual bool ClearCycle(int animation, float fade) = 0;
  // Plays the animation once over the cycles, fading in and out over the
  // given seconds, at `weight` (0 to 1). Its end is reported to the
  // AddActionEnd listeners when it has played out. False for an unknown id
  // or a bad fade or weight.
  virtual bool PlayAction(int animation, float fadeIn, float fadeOut, float weight) = 0;
  // Stops the newest playing action of that animation at once, without a
  // fade and without reporting an end. False when none plays or the id is
  // unknown.
  virtual bool StopAction(int animation) = 0;
  // True while the animation plays as a cycle (fading out included) or as
  // an action; false otherwise and for an unknown id.
  virtual bool IsPlaying(int animation) = 0;
  // The animation's time in seconds (0 to its duration): a cycle's place in
  // its loop, or the time since the start of its newest action. False,
  // leaving `seconds` alone, for an animation not playing or an unknown id.
  virtual bool GetAnimationTime(int animation, float& seconds) = 0;
  // Moves the animation to `seconds` (a cycle's time is taken modulo its
  // duration; cycles blended together keep their common phase, so the
  // others move with it). The jump fires no event; the pose shows it from
  // the next advance. False for an animation not playing, a cycle blended
  // in since the last advance (the mixer places it then), an unknown id or
  // a bad time.
  virtual bool SetAnimationTime(int animation, float seconds) = 0;

  // --- Events ---------------------------------------------------------------

  // Calls `listener` each time the animation's time crosses `seconds` (0 to
  // its duration), while it plays as a cycle or an action: once per
  // crossing whatever the step (a cycle advanced by twice its duration
  // crosses it twice), in the order of the crossings, whether the character
  // is drawn or only advanced. A time is crossed when a step moves from at
  // or before it to past it; an action's end crosses its duration. Holds a
  // reference on the listener until the event is removed or the character
  // goes. `name` (may be null) and `userId` are handed back as given. The
  // handle (>= 0), or -1 for an unknown animation, a bad time or a null
  // listener. At most 65536 crossings of one event are reported per
  // advance; a longer step reports that many and says so in one line.
  virtual int AddEvent(int animation, float seconds, const char* name, int userId,
                       iRigweaveEventListener* listener) = 0;
  // Calls `listener` once when an action of the animation (-1: of any
  // animation) has played out. Handle or -1 as AddEvent.
  virtual int AddActionEnd(int animation, const char* name, int userId,
                           iRigweaveEventListener* listener) = 0;
  // Removes an event or action end and releases its listener; from inside a
  // listener, it fires no more in the advance under way. False for a handle
  // that is not registered.
  virtual bool RemoveEvent(int handle) = 0;

  // --- Bones ----------------------------------------------------------------

  virtual int GetBoneCount() = 0;
  // Null for an unknown id.
  virtual const char* GetBoneName(int bone) = 0;
  // -1 when no bone has the name.
  virtual int FindBone(const char* name) = 0;
  // The parent's id; -1 for a root bone and for an unknown id.
  virtual int GetBoneParent(int bone) = 0;
  // The bone's transform in the pose of the last advance (the rest pose
  // before the first): it maps the character's object space, the space the
  // drawn vertices are in (after the model's scale and the turn that stands
  // Cal3D's Z-up models along +y), into the bone's space, scaled as the
  // character is. Its origin is the bone's position in object space, and
  // This2Other(p) of a point p given in the bone's space (in object units)
  // is where a vertex hanging on that bone alone at p is drawn. False,
  // leaving `transform` alone, for an unknown id.
  virtual bool GetBoneTransform(int bone, csReversibleTransform& transform) = 0;

  // --- Attachments ----------------------------------------------------------

  // Hangs `object` on the bone: from now on every advance gives it
  // `offset * bone transform` (the bone's transform, then the offset, which
  // maps the bone's space into the object's), at once for the current pose
  // too. An object offering iRigweaveAttachment is placed through it; else
  // one offering iMovable gets that transform as its own (SetTransform, then
  // UpdateMove), so its movable's parent must be the character's movable.
  // Several objects may hang on one bone, and one object on several bones
  // (the last placement wins). Holds a reference on the object until it is
  // detached or the character goes. The handle (>= 0), or -1 for an unknown
  // bone or an object offering neither interface.
  virtual int Attach(int bone, iBase* object, const csReversibleTransform& offset) = 0;
  // Releases the object; it keeps its last placement. False for a handle
  // that is not attached.
  virtual bool Detach(int handle) = 0;

  // --- Springs --------------------------------------------------------------

  // A character with springs (capes, hair) is advanced in sub-steps of at
  // most 1/60 s, bones and springs together, so a long step cannot fling
  // them; of a step longer than one second only the last second is
  // simulated so (the rest moves the animation alone). Steps of 1/60 s or
  // less, and characters without springs, are advanced as Cal3D does. False
  // turns the simulation off: those sub-meshes then follow their bones
  // rigidly, and start again from rest when it is turned back on. On by
  // default; kept across loads.
  virtual void SetSpringsEnabled(bool enabled) = 0;
  virtual bool GetSpringsEnabled() = 0;

  // --- Bounds and picking ---------------------------------------------------

  // The pose: the skinned vertices of the character's last advance, in its
  // object space, as Draw hands them to the renderer; hidden meshes are not
  // part of it. Draw keeps the pose it drew; a character advanced (or
  // changed) since is posed again on request, once.
  //
  // Off (the default): the engine's box and radius questions are answered
  // with the module's fixed values ((-1, -1, 0) to (1, 1, 0)) and both beam
  // tests of the mesh object answer no hit, as iCal3DState's characters
  // always have. On: GetObjectBoundingBox and GetRadius answer the pose's
  // box, and HitBeamOutline and HitBeamObject answer HitBeam's nearest hit
  // (its point, and its fraction in `pr`). Kept across loads.
  virtual void SetBoundsFollow(bool follow) = 0;
  virtual bool GetBoundsFollow() = 0;
  // The pose's box, whatever the option. False, leaving `box` alone, without
  // a model or when every mesh is hidden.
  virtual bool GetPoseBox(csBox3& box) = 0;
  // The nearest triangle of the pose the segment from `start` to `end`
  // (object space) meets, either face. False, leaving `hit` alone, when it
  // meets none, without a model, or for a segment of length 0.
  virtual bool HitBeam(const csVector3& start, const csVector3& end, csRigweaveHit& hit) = 0;

  // --- Outfits --------------------------------------------------------------

  // Meshes are numbered as the configuration's mesh lines; sub-meshes across
  // the meshes in order. Both changes are the character's own: other
  // characters of the same model draw as before. Kept until the next load.
  // 0 without a model.
  virtual int GetMeshCount() = 0;
  // Every mesh's sub-meshes together (GetSubmeshCount(mesh) below counts
  // one mesh's).
  virtual int GetSubmeshCount() = 0;
  // Hides or shows a mesh: a hidden mesh's triangles no longer reach the
  // renderer, its vertices are not skinned, and it is not part of the pose.
  // False for an unknown id.
  virtual bool SetMeshVisible(int mesh, bool visible) = 0;
  // False for an unknown id and for a hidden mesh.
  virtual bool IsMeshVisible(int mesh) = 0;
  // Switches every sub-mesh to its material in Cal3D's material set `set`
  // (the configuration makes set 0: material n for thread n); a sub-mesh
  // whose thread has no material in that set keeps its own. False, nothing
  // changed, for a set no sub-mesh has.
  virtual bool SetMaterialSet(int set) = 0;
  // Gives one sub-mesh the configuration's material `material` (its place
  // among the material lines). False, nothing changed, for an unknown
  // sub-mesh or material.
  virtual bool SetSubmeshMaterial(int submesh, int material) = 0;

  // --- Light ----------------------------------------------------------------

  // Off (the default): every vertex is white, as iCal3DState's characters
  // always have been, and no normal is computed. On: UpdateLighting takes
  // the lights the engine passes (their centres turned into object space by
  // the movable given), and Draw colours each vertex of the pose it draws:
  //   ambient * diffuse + sum over the lights of
  //     diffuse * light colour * max(0, n . l) * brightness(d)
  // where n is the vertex's skinned normal, l the unit direction to the
  // light, d its distance and brightness the light's attenuation
  // (host/light.h), diffuse the sub-mesh material's diffuse colour (white
  // without a material); colours are not clamped. At most kMaxLights lights
  // are kept, the first ones passed. Kept across loads.
  static constexpr int kMaxLights = 8;
  virtual void SetLighting(bool lit) = 0;
  virtual bool GetLighting() = 0;
  // The ambient light; black by default. False, keeping it, for a negative or
  // non-finite component.
  virtual bool SetAmbientLight(const csColor& ambient) = 0;

  // --- Morph targets and morph animations -----------------------------------

  // Meshes are numbered by the order of the configuration's "mesh =" lines
  // (from 0), sub-meshes by their order in the mesh file, and a sub-mesh's
  // morph targets in the order they were added: those a mesh file of
  // Cal3D's newer line holds, then one per "blendmesh =" line that names the
  // mesh. Weights belong to this character alone, also when other
  // characters share its model. A weight w of target t moves each vertex as
  // Cal3D 0.11 blends: (1 - sum of w) * base + sum of w * target.

  // GetMeshCount counts the meshes (Outfits above); this, the sub-meshes of
  // one mesh: -1 for an unknown mesh. The target operations answer -1 for
  // an unknown mesh or sub-mesh.
  virtual int GetSubmeshCount(int mesh) = 0;
  virtual int GetMorphTargetCount(int mesh, int submesh) = 0;
  // The target's name: the newer file's, or for a "blendmesh =" file its
  // name without folder and extension, less the mesh's own name and a '_'
  // when it starts with them ("face_smile.cmf" of "face.cmf": "smile").
  // "" when it has none; null for an unknown id.
  virtual const char* GetMorphTargetName(int mesh, int submesh, int target) = 0;
  // The first target of the sub-mesh with that name; -1 when none has it.
  virtual int FindMorphTarget(int mesh, int submesh, const char* name) = 0;
  // Moves the target's weight (0 upwards; 1 is the whole target) to
  // `weight` at once (`fade` 0) or linearly over `fade` seconds of the
  // character's time (its advances, by Draw or Advance). The next Draw
  // shows it, without an advance too. A morph animation that drives the
  // target overrides it while it plays. False, changing nothing, for an
  // unknown id or a bad weight or fade.
  virtual bool SetMorphTargetWeight(int mesh, int submesh, int target, float weight,
                                    float fade) = 0;
  // The weight drawn now: the playing animation's when one drives the
  // target, else the one set (part way through a fade). False, leaving
  // `weight` alone, for an unknown id.
  virtual bool GetMorphTargetWeight(int mesh, int submesh, int target, float& weight) = 0;

  // Morph animations, numbered by the order of the "morphanim =" lines.
  virtual int GetMorphAnimationCount() = 0;
  // The configuration's value without its extension ("newer/face"); null
  // for an unknown id.
  virtual const char* GetMorphAnimationName(int animation) = 0;
  // -1 when none has the name.
  virtual int FindMorphAnimation(const char* name) = 0;
  // Seconds; -1 for an unknown id.
  virtual float GetMorphAnimationDuration(int animation) = 0;
  // Plays the morph animation as a loop, fading its weight (0 to 1) in over
  // `fade` seconds; one already playing keeps its time and fades to the new
  // weight. Each track writes its target the weight linear between its
  // keyframes at the animation's time (0 before the first keyframe and from
  // the last one on), times the animation's weight; the time runs with the
  // character's advances and starts again from 0 at the duration. A target
  // two playing animations drive takes the later one's (by id). False for
  // an unknown id or a bad weight or fade.
  virtual bool BlendMorphAnimation(int animation, float weight, float fade) = 0;
  // Fades the morph animation out over `fade` seconds, then stops it; its
  // targets go back to the weights set. False for an unknown id or a bad
  // fade; true for one that was not playing.
  virtual bool ClearMorphAnimation(int animation, float fade) = 0;
  // True while it plays (fading out included); false for an unknown id.
  virtual bool IsMorphAnimationPlaying(int animation) = 0;
  // Its time in its loop (0 to its duration). False, leaving `seconds`
  // alone, for one not playing or an unknown id.
  virtual bool GetMorphAnimationTime(int animation, float& seconds) = 0;

 protected:
  ~iRigweaveState() = default;
};
