// Rigweave: steering an animated character from an application.
//
// Query a mesh object of class kRigweaveClassId (below) for this
// interface, load a model configuration below "models/" with LoadModel, then
// start, blend and clear animations by the names the configuration gives them
// (an "animation = walk.caf" line names the animation "walk").
#pragma once

#include "host/engine_loading.h"
#include "host/scf.h"

// The class id the module registers its mesh object type under, and heads
// its diagnostic lines with.
constexpr char kRigweaveClassId[] = "crystalspace.mesh.object.rigweave";

struct iCal3DState : iBase {
  SCF_INTERFACE(iCal3DState, 0, 0, 1)

  // Loads "models/" + modelName and everything it names. False when the
  // configuration or a Cal3D file it names cannot be loaded.
  virtual bool LoadModel(const char* modelName, iLoader* loader, iEngine* engine) = 0;
  // Fades out the animation started last over clearDelay seconds and fades
  // the named cycle in to `weight` over blendDelay seconds.
  virtual bool SetCycle(const char* name, float clearDelay, float blendDelay, float weight) = 0;
  // Plays the named animation once, fading in and out over the given seconds.
  virtual bool ExecuteAction(const char* name, float delayIn, float delayOut) = 0;
  // Fades the named cycle in to `weight` over `delay` seconds, keeping the others.
  virtual bool BlendCycle(const char* name, float delay, float weight) = 0;
  // Fades the named cycle out over `delay` seconds.
  virtual bool ClearCycle(const char* name, float delay) = 0;
  // Stops every cycle of the model at once. An action that is running plays
  // on to its end.
  virtual void ClearAllCycles() = 0;
  // Level of detail handed to Cal3D, 1.0 being full detail.
  virtual void SetLodLevel(float level) = 0;

 protected:
  ~iCal3DState() = default;
};
