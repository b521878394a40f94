// An application on the installed engine: loads the module by name, makes a
// walking character, draws a second of frames and says how tall it stood.
//
//   rigweave-example ROOT    (ROOT holds models/hero.cfg, e.g. PREFIX/share/rigweave)
#include <cstdio>

#include "engine/backend_bounds.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "ical3dstate.h"

int Fail(const char* what) {
  std::fprintf(stderr, "rigweave-example: %s\n", what);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: rigweave-example ROOT");
  rwengine::BoundsBackend backend;  // measures what is drawn; any RenderBackend will do
  rwengine::Stage stage(&backend, 640, 480, argv[1]);  // argv[1]: the folder that holds models/
  if (!stage.LoadModule("rigweave.so")) return Fail(stage.LastError().c_str());
  csRef<iMeshObject> mesh = stage.NewMeshObject(kRigweaveClassId);
  if (!mesh) return Fail("the module makes no mesh object");
  auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh.get()));
  if (!state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()))
    return Fail("hero.cfg does not load");
  if (!state->SetCycle("walk", 0.0f, 0.3f, 1.0f))  // fade out the last, fade walk in
    return Fail("no walk");
  if (!state->ExecuteAction("wave", 0.3f, 0.3f)) return Fail("no wave");  // once, over the cycle
  if (!state->BlendCycle("idle", 0.5f, 0.4f)) return Fail("no idle");     // mix in another cycle
  if (!state->ClearCycle("idle", 0.5f)) return Fail("idle not cleared");
  state->SetLodLevel(0.5f);

  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  movable->SetPosition(csVector3(0, -1, 4));  // 4 ahead of the camera; it stands along +y
  for (int frame = 0; frame < 24; frame++)    // animation follows the engine clock, csGetTicks()
    stage.DrawFrame({{mesh.get(), movable.get()}});
  if (backend.Empty()) return Fail("nothing was drawn");
  std::printf("hero.cfg walks, %.2f units tall\n", backend.Max().y - backend.Min().y);
  return 0;  // mesh, state and movable go before the Stage, which unloads their code
}
