// Steering the animation by name. Time does not move here: the next Draw
// applies what these calls set up.
#include <cal3d/cal3d.h>

#include <cmath>
#include <new>

#include "model/diagnostics.h"
#include "model/mesh_object.h"
#include "model/shared_model.h"

namespace {

// Cal3D's mixer allocates each cycle and action it starts; running out of
// memory answers false, as the memory rule has it, and changes nothing more.
template <class Call>
bool StartingAnimation(Call call) {
  try {
    call();
    return true;
  } catch (const std::bad_alloc&) {
    rigweave::Diagnose(": Out of memory starting an animation");
    return false;
  }
}

}  // namespace

int csCal3DMeshObject::FindAnimation(const char* name) const {
  // Without a model instance there is nothing a name could act on.
  if (name == nullptr || !calModel) return -1;
  for (int i = 0; i < animationCount; i++)
    if (animationNames[i] == name) return i;
  return -1;
}

bool csCal3DMeshObject::SetCycle(const char* name, float clearDelay, float blendDelay,
                                 float weight) {
  const int id = FindAnimation(name);
  if (id < 0) return false;
  CalMixer* mixer = calModel->getMixer();
  mixer->clearCycle(currentAnimation, clearDelay);
  if (!StartingAnimation([&] { mixer->blendCycle(id, weight, blendDelay); })) return false;
  currentAnimation = id;
  return true;
}

bool csCal3DMeshObject::ExecuteAction(const char* name, float delayIn, float delayOut) {
  const int id = FindAnimation(name);
  if (id < 0) return false;
  CalMixer* mixer = calModel->getMixer();
  if (!StartingAnimation([&] { mixer->executeAction(id, delayIn, delayOut); })) return false;
  currentAnimation = id;
  return true;
}

bool csCal3DMeshObject::BlendCycle(const char* name, float delay, float weight) {
  const int id = FindAnimation(name);
  if (id < 0) return false;
  CalMixer* mixer = calModel->getMixer();
  if (!StartingAnimation([&] { mixer->blendCycle(id, weight, delay); })) return false;
  currentAnimation = id;
  return true;
}

bool csCal3DMeshObject::ClearCycle(const char* name, float delay) {
  const int id = FindAnimation(name);
  if (id < 0) return false;
  calModel->getMixer()->clearCycle(id, delay);
  return true;
}

void csCal3DMeshObject::ClearAllCycles() {
  if (!calModel) return;
  for (int id = 0; id < animationCount; id++) calModel->getMixer()->clearCycle(id, 0.0f);
}

void csCal3DMeshObject::SetLodLevel(float level) {
  // Cal3D clamps the level with comparisons a NaN passes, then indexes its
  // vertices with what the NaN makes: a NaN leaves the level as it was.
  if (!calModel || std::isnan(level)) return;
  try {
    // The faces of the new level come from those the model's characters share.
    shared->SetLodLevel(*calModel, level, faceLevels);
    geometryChanges++;
  } catch (const std::bad_alloc&) {
    rigweave::Diagnose(": Out of memory setting the level of detail");
  }
}
