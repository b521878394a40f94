// The benchmark's measurements, each adding its figures to the session.
// Those that draw take the stage the run loaded the module into and its
// backend; the others make what they need.
#pragma once

#include <string>

#include "bench/session.h"
#include "bench/walkers.h"
#include "engine/backend_null.h"
#include "engine/stage.h"

namespace rwbench {

// The frame: Draw of a walking character against the direct Cal3D loop,
// frames interleaved. Timed only; AddDrawFigures turns them into figures.
struct DrawTimes {
  // Medians of thread CPU time, and of wall time for reference.
  double drawUs = 0, drawTestUs = 0, directUs = 0, hostUs = 0, clockReadUs = 0;
  // The Cal3D calls a Draw still makes, timed alone on a Cal3D character of
  // its own: the update, and the faces of every sub-mesh.
  double updateUs = 0, facesUs = 0;
  int vertices = 0;  // drawn a frame
  double drawWallUs = 0, directWallUs = 0;
};
// What the walker is asked for besides drawing: the box that follows its
// pose (asked once a frame, as a culling engine asks), and light (normals
// and colours, one light given once a frame through UpdateLighting).
enum DrawOptions { kDrawPlain = 0, kDrawLit = 1, kDrawBounds = 2 };
DrawTimes MeasureDraw(Session& session, rwengine::Stage& stage, rwengine::NullBackend& backend,
                      const char* config, int frames, int options = kDrawPlain);
// Applies `options` to a walker; false when it lacks iRigweaveState.
bool ApplyDrawOptions(iMeshObject* mesh, int options);
// The draw_ratio_* figures of `model` from its times, and the same ratio
// with the renderer checking every index (measured again for it).
void AddDrawFigures(Session& session, rwengine::Stage& stage, BenchBackend& backend,
                    const std::string& model, int frames, const DrawTimes& times);

// vertex_mismatches over `frames` frames of every character named.
void MeasureMismatches(Session& session, rwengine::Stage& stage, BenchBackend& backend, int frames);

// Vertices a second one core skins for `config`, through the unit on each
// instruction set and through Cal3D's renderer. Medians of batches of
// `frames` frames.
void MeasureSkinning(Session& session, const char* config, int frames);

// load_ratio and its parts, over `repetitions` interleaved loads.
void MeasureLoad(Session& session, rwengine::Stage& stage, int repetitions);

// Resident memory per object, `count` more objects of each kind, each kind
// in a child process forked for it alone.
void MeasureMemory(Session& session, int count);

// crowd_60hz: walking characters whose median frame fits 16.7 ms of one
// core, the module's and the direct loop's searched in lockstep from the
// given estimates, `searches` times (the median ratio counts); `suffix`
// names a variant whose figures carry no target.
void MeasureCrowd(Session& session, rwengine::Stage& stage, rwengine::NullBackend& backend,
                  double moduleUsEach, double directUsEach, int framesPerProbe, int searches,
                  const std::string& suffix);

// Heap allocations inside Draw and DrawTest, over `frames` frames after the first.
void MeasureAllocations(Session& session, rwengine::Stage& stage, int frames);
// The same inside Draw of a character whose face morph targets move.
void MeasureMorphAllocations(Session& session, rwengine::Stage& stage, int frames);
// The cost of an advance with 4 attached objects and 8 events, and the heap
// allocations inside Advance and Draw with them in use.
void MeasureApplication(Session& session, rwengine::Stage& stage, int frames);

}  // namespace rwbench
