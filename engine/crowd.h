// Drawing a crowd on every core. The objects are cut into shares, each drawn
// by a renderer context of its own (a Graphics3D and a RenderView on the
// Stage's camera, fog and size) into a backend of its own, and the shares
// run at once on oneTBB's threads. The module draws distinct objects on
// distinct threads; everything a share's context holds is touched by one
// thread at a time.
//
// An object keeps its share from frame to frame (object i of n is in share
// i * shares / n), so it always locks into the same context's vertex
// buffers: keep the list in one order. A backend that must be called from
// the thread that owns it (OpenGL) takes the frame through DeferredBackend.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "engine/backend.h"
#include "engine/backend_recording.h"
#include "engine/graphics3d.h"
#include "engine/render_view.h"
#include "engine/stage.h"
#include "host/mesh.h"
#include "host/ref.h"

namespace rwengine {

// Keeps each call with copies of its arrays, and hands the frame on later
// to another backend, on the thread that calls ReplayInto.
class DeferredBackend : public RecordingBackend {
 public:
  // Draws, render states and transforms in the order they came, then
  // forgets them. Frame and buffer calls are the target's own business.
  void ReplayInto(RenderBackend& target);
};

class CrowdRenderer {
 public:
  using Objects = std::vector<std::pair<iMeshObject*, iMovable*>>;

  // `threads` worker threads (0: one a core) drawing `shares` shares (at
  // least `threads`, more balance a machine shared with other work);
  // share k draws into backendFor(k) (not owned; null draws nothing).
  CrowdRenderer(Stage& stage, int threads, int shares,
                const std::function<RenderBackend*(int)>& backendFor);
  ~CrowdRenderer();
  CrowdRenderer(const CrowdRenderer&) = delete;
  CrowdRenderer& operator=(const CrowdRenderer&) = delete;

  // One frame of every object that passes DrawTest, drawn with CS_ZBUF_USE,
  // the shares at once. Returns when all are drawn.
  void DrawFrame(const Objects& objects);

  // The longest CPU time one thread spent drawing the last frame, in
  // microseconds: how long the frame takes on cores of its own. Wall time
  // also counts the moments other processes hold a core, which on a shared
  // machine says more of the machine than of the crowd. 0 before a frame.
  double BusiestThreadUs() const;

  int Threads() const { return threads_; }
  int Shares() const { return static_cast<int>(contexts_.size()); }
  Graphics3D* ShareGraphics(int share) const {
    return contexts_[static_cast<size_t>(share)].graphics.get();
  }

 private:
  struct ShareContext {
    csRef<Graphics3D> graphics;
    csRef<RenderView> view;
  };
  void DrawShare(int share, const Objects& objects);

  Stage& stage_;
  int threads_;
  std::vector<ShareContext> contexts_;
  struct Arena;
  std::unique_ptr<Arena> arena_;
  // The CPU time each of the arena's threads spent drawing this frame, a
  // cache line each, so that the threads' additions do not share one.
  struct alignas(64) ThreadTime {
    double us = 0.0;
  };
  std::vector<ThreadTime> threadTimes_;
  // The frame's order stated in atomics of its own as well as oneTBB's:
  // what the caller did before DrawFrame happens before every share, and
  // every share before DrawFrame returns. ThreadSanitizer sees these, not
  // what oneTBB does inside its library.
  std::atomic<unsigned> framesStarted_{0};
  std::atomic<unsigned> sharesDone_{0};
};

}  // namespace rwengine
