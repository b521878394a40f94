#include "engine/crowd.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <time.h>

#include <algorithm>
#include <thread>

namespace rwengine {

struct CrowdRenderer::Arena {
  explicit Arena(int threads) : arena(threads) {}
  tbb::task_arena arena;
};

namespace {

double ThreadCpuUs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

}  // namespace

void DeferredBackend::ReplayInto(RenderBackend& target) {
  for (RecordedCall& call : const_cast<std::vector<RecordedCall>&>(Calls())) {
    switch (call.kind) {
      case RecordedCall::RenderState:
        target.SetRenderState(call.op, call.value);
        break;
      case RecordedCall::ObjectToCamera:
        target.SetObjectToCamera(call.transform);
        break;
      case RecordedCall::Draw: {
        G3DTriangleMesh record = call.record;
        record.triangles = call.triangles.data();
        record.vertex_fog = call.fog.empty() ? nullptr : call.fog.data();
        DrawGeometry geometry;
        geometry.vertices = call.vertices.data();
        geometry.texels = call.texels.empty() ? nullptr : call.texels.data();
        geometry.colors = call.colors.empty() ? nullptr : call.colors.data();
        geometry.count = call.count;
        geometry.projection = call.projection;
        geometry.objectToCamera = call.transform;
        geometry.zbufMode = call.zbufMode;
        target.DrawTriangleMesh(record, geometry);
        break;
      }
      default:
        break;
    }
  }
  Clear();
}

CrowdRenderer::CrowdRenderer(Stage& stage, int threads, int shares,
                             const std::function<RenderBackend*(int)>& backendFor)
    : stage_(stage) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  threads_ = threads > 0 ? threads : (cores > 0 ? cores : 1);
  if (shares < threads_) shares = threads_;
  Graphics3D* main = stage.GetGraphics();
  RenderView* mainView = stage.GetView();
  for (int k = 0; k < shares; k++) {
    ShareContext context;
    context.graphics =
        csRef<Graphics3D>::Adopt(new Graphics3D(main->GetWidth(), main->GetHeight()));
    context.graphics->SetBackend(backendFor ? backendFor(k) : nullptr);
    context.view =
        csRef<RenderView>::Adopt(new RenderView(context.graphics.get(), stage.GetCamera()));
    if (mainView->HasFog()) context.view->SetFog(mainView->FogColor(), mainView->FogDensity());
    contexts_.push_back(std::move(context));
  }
  arena_ = std::make_unique<Arena>(threads_);
  threadTimes_.resize(static_cast<size_t>(std::max(arena_->arena.max_concurrency(), 1)));
}

CrowdRenderer::~CrowdRenderer() = default;

void CrowdRenderer::DrawShare(int share, const Objects& objects) {
  ShareContext& context = contexts_[static_cast<size_t>(share)];
  Graphics3D* graphics = context.graphics.get();
  graphics->SetPerspectiveAspect(stage_.GetCamera()->FocalLength(graphics->GetWidth()));
  if (!graphics->BeginDraw()) return;
  const size_t n = objects.size();
  const size_t shares = contexts_.size();
  const size_t first = n * static_cast<size_t>(share) / shares;
  const size_t last = n * (static_cast<size_t>(share) + 1) / shares;
  for (size_t i = first; i < last; i++) {
    const auto& [mesh, movable] = objects[i];
    if (mesh == nullptr || movable == nullptr) continue;
    if (!mesh->DrawTest(context.view.get(), movable)) continue;
    // The stage's lights, as Stage::DrawFrame gives them.
    const std::vector<iLight*>& lights = stage_.Lights();
    if (!lights.empty())
      mesh->UpdateLighting(const_cast<iLight**>(lights.data()), static_cast<int>(lights.size()),
                           movable);
    mesh->Draw(context.view.get(), movable, CS_ZBUF_USE);
  }
  graphics->FinishDraw();
}

void CrowdRenderer::DrawFrame(const Objects& objects) {
  const int shares = Shares();
  for (ThreadTime& time : threadTimes_) time.us = 0.0;
  framesStarted_.fetch_add(1, std::memory_order_release);
  arena_->arena.execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<int>(0, shares, 1),
        [&](const tbb::blocked_range<int>& range) {
          framesStarted_.load(std::memory_order_acquire);
          const double start = ThreadCpuUs();
          for (int share = range.begin(); share != range.end(); ++share) DrawShare(share, objects);
          // The arena numbers its threads from 0; a thread has one number
          // while it works in the arena, so no slot has two writers at once.
          const int thread = tbb::this_task_arena::current_thread_index();
          if (thread >= 0 && static_cast<size_t>(thread) < threadTimes_.size())
            threadTimes_[static_cast<size_t>(thread)].us += ThreadCpuUs() - start;
          sharesDone_.fetch_add(1, std::memory_order_acq_rel);
        },
        tbb::simple_partitioner());
  });
  sharesDone_.load(std::memory_order_acquire);
}

double CrowdRenderer::BusiestThreadUs() const {
  double busiest = 0.0;
  for (const ThreadTime& time : threadTimes_) busiest = std::max(busiest, time.us);
  return busiest;
}

}  // namespace rwengine
