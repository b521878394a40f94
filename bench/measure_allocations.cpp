// Allocations: heap allocations inside Draw, DrawTest and the direct loop.
#include <string>

#include "bench/alloc_counter.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/light.h"
#include "engine/movable.h"
#include "irigweavestate.h"

namespace rwbench {

void MeasureAllocations(Session& session, rwengine::Stage& stage, int frames) {
  csRef<iMeshObject> mesh = NewWalker(session, stage, session.sample.c_str());
  csRef<iMeshObject> lit = NewWalker(session, stage, session.sample.c_str());
  Walker walker;
  if (!mesh || !lit || !ApplyDrawOptions(lit.get(), kDrawLit | kDrawBounds) ||
      !walker.Load(session, session.sample.c_str()))
    return session.Fail("cannot load the sample");
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  iRenderView* view = stage.GetView();
  rwengine::Graphics3D* graphics = stage.GetGraphics();
  csRef<rwengine::Light> light =
      csRef<rwengine::Light>::Adopt(new rwengine::Light(csVector3(2, 3, -4), csColor{1, 1, 1}));
  iLight* lights[] = {light.get()};
  unsigned long long inDraw = 0, inDrawTest = 0, inDirect = 0, inLit = 0;
  for (int frame = 0; frame <= frames; frame++) {
    session.ticks += kTicksPerFrame;
    graphics->BeginDraw();
    const unsigned long long start = rigweave_bench_allocations();
    mesh->DrawTest(view, movable.get());
    const unsigned long long afterTest = rigweave_bench_allocations();
    mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    const unsigned long long afterDraw = rigweave_bench_allocations();
    graphics->FinishDraw();
    walker.direct.Frame(kFrameSeconds, walker.buffers);
    const unsigned long long afterDirect = rigweave_bench_allocations();
    graphics->BeginDraw();
    lit->DrawTest(view, movable.get());
    lit->UpdateLighting(lights, 1, movable.get());
    lit->Draw(view, movable.get(), CS_ZBUF_USE);
    csBox3 box;
    lit->GetObjectBoundingBox(box, 0);
    graphics->FinishDraw();
    const unsigned long long afterLit = rigweave_bench_allocations();
    if (frame == 0) continue;  // the first Draw makes the buffers that the others reuse
    inDrawTest += afterTest - start;
    inDraw += afterDraw - afterTest;
    inDirect += afterDirect - afterDraw;
    inLit += afterLit - afterDirect;
  }
  // A counter that never moves would report zero for anything.
  const unsigned long long probe = rigweave_bench_allocations();
  delete new volatile int(0);
  if (rigweave_bench_allocations() == probe)
    return session.Fail("the allocation counter does not count");
  const std::string over = " over " + std::to_string(frames) + " frames after the first";
  session.Add(
      "frame_allocations", static_cast<double>(inDraw), 0, "= 0", inDraw == 0,
      "heap allocations (malloc family, any library) inside Draw of the walking sample" + over);
  session.Add("frame_allocations_drawtest", static_cast<double>(inDrawTest), 0, "", true,
              "the same inside DrawTest");
  session.Add("frame_allocations_lit", static_cast<double>(inLit), 0, "= 0", inLit == 0,
              "the same inside UpdateLighting + Draw + GetObjectBoundingBox of the sample with "
              "the following box and light on");
  session.Add("frame_allocations_direct", static_cast<double>(inDirect), 0, "", true,
              "the same in the direct Cal3D loop");
  MeasureMorphAllocations(session, stage, frames);
}

void MeasureMorphAllocations(Session& session, rwengine::Stage& stage, int frames) {
  // The face of newer-hero.cfg moves by its morph animation and a weight
  // fading in: Cal3D's renderer blends those sub-meshes every frame.
  csRef<iMeshObject> mesh = NewWalker(session, stage, "newer-hero.cfg");
  auto face = mesh ? csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh.get()))
                   : csRef<iRigweaveState>();
  bool fading = false;
  for (int m = 0; face && m < face->GetMeshCount(); m++)
    for (int s = 0; s < face->GetSubmeshCount(m) && !fading; s++)
      fading = face->SetMorphTargetWeight(m, s, face->GetMorphTargetCount(m, s) - 1, 1.0f, 2.0f);
  if (!fading || !face->BlendMorphAnimation(0, 1.0f, 0.5f))
    return session.Fail("cannot play newer-hero.cfg's face");
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  iRenderView* view = stage.GetView();
  rwengine::Graphics3D* graphics = stage.GetGraphics();
  unsigned long long inDraw = 0;
  for (int frame = 0; frame <= frames; frame++) {
    session.ticks += kTicksPerFrame;
    graphics->BeginDraw();
    mesh->DrawTest(view, movable.get());
    const unsigned long long start = rigweave_bench_allocations();
    mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    if (frame > 0) inDraw += rigweave_bench_allocations() - start;
    graphics->FinishDraw();
  }
  session.Add("frame_allocations_morph", static_cast<double>(inDraw), 0, "= 0", inDraw == 0,
              "heap allocations inside Draw of newer-hero.cfg walking with its face morph "
              "animation playing and a morph target fading in, over " +
                  std::to_string(frames) + " frames after the first");
}

}  // namespace rwbench
