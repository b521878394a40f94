// The application interface in use: what an advance costs with four
// attached objects and eight events, and that neither it nor Draw then
// allocates.
#include <algorithm>
#include <string>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/bone_attachment.h"
#include "engine/movable.h"
#include "host/scf_impl.h"
#include "irigweavestate.h"

namespace rwbench {
namespace {

// Counts what it hears; allocates nothing.
class CountingListener : public scfImplementation<CountingListener, iRigweaveEventListener> {
 public:
  void OnRigweaveEvent(iRigweaveState*, const csRigweaveEvent&) override { heard++; }
  long heard = 0;
};

constexpr int kBatch = 50;

// Median thread CPU time of one Advance(kFrameSeconds), from batches.
double AdvanceUs(iRigweaveState& state, int batches) {
  std::vector<double> samples;
  for (int b = 0; b < batches; b++) {
    Stopwatch watch;
    for (int i = 0; i < kBatch; i++) state.Advance(kFrameSeconds);
    samples.push_back(watch.CpuUs() / kBatch);
  }
  return Median(samples);
}

}  // namespace

void MeasureApplication(Session& session, rwengine::Stage& stage, int frames) {
  csRef<iMeshObject> mesh = NewWalker(session, stage, session.sample.c_str());
  csRef<iMeshObject> plain = NewWalker(session, stage, session.sample.c_str());
  if (!mesh || !plain) return session.Fail("cannot load the sample");
  auto state = csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh.get()));
  auto plainState = csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(plain.get()));
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  auto listener = csRef<CountingListener>::Adopt(new CountingListener);
  // Eight moments spread over the cycle it walks, four props.
  int walk = -1;
  for (int i = 0; i < state->GetAnimationCount() && walk < 0; i++)
    if (state->IsPlaying(i)) walk = i;
  for (int i = 0; i < 8; i++) {
    const int animation = walk;
    const float at = state->GetAnimationDuration(animation) * static_cast<float>(i) / 8;
    if (state->AddEvent(animation, at, "moment", i, listener.get()) < 0)
      return session.Fail("cannot register an event");
  }
  std::vector<csRef<rwengine::Movable>> props;
  for (int i = 0; i < 4; i++) {
    props.push_back(csRef<rwengine::Movable>::Adopt(new rwengine::Movable));
    const int bone = (state->GetBoneCount() - 1) * i / 3;
    if (rwengine::AttachToBone(*props.back(), movable.get(), state.get(), state->GetBoneName(bone),
                               csReversibleTransform()) < 0)
      return session.Fail("cannot attach a prop");
  }
  state->SetDrawAdvances(false);
  iRenderView* view = stage.GetView();
  rwengine::Graphics3D* graphics = stage.GetGraphics();
  unsigned long long allocations = 0;
  for (int frame = 0; frame <= frames; frame++) {
    session.ticks += kTicksPerFrame;
    graphics->BeginDraw();
    const unsigned long long start = rigweave_bench_allocations();
    state->Advance(kFrameSeconds);
    mesh->DrawTest(view, movable.get());
    mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    const unsigned long long after = rigweave_bench_allocations();
    graphics->FinishDraw();
    if (frame > 0) allocations += after - start;  // the first Draw makes the buffers
  }
  const int batches = std::max(5, frames / kBatch);
  const double withUs = AdvanceUs(*state, batches), plainUs = AdvanceUs(*plainState, batches);
  if (listener->heard == 0) return session.Fail("no event fired");
  session.Add("frame_allocations_app", static_cast<double>(allocations), 0, "= 0", allocations == 0,
              "heap allocations inside Advance + DrawTest + Draw of the walking sample with 8 "
              "events and 4 attached movables, over " +
                  std::to_string(frames) + " frames after the first (" +
                  std::to_string(listener->heard) + " events fired)");
  session.Add("advance_us_app", withUs, 2, "", true,
              "median Advance(16 ms) with 4 attached movables and 8 events, thread CPU time, "
              "batches of 50");
  session.Add("advance_us_plain", plainUs, 2, "", true,
              "the same without events or attachments (the Cal3D update alone)");
}

}  // namespace rwbench
