// Model space to engine space: scaled, then turned about the x axis by the
// single-precision angle -1.57 (not quite a quarter turn), so that Cal3D's
// Z-up characters stand along +y. The frame path runs it on every vertex
// Cal3D's renderer computes; the skinning unit (render/skinning_job.h) does
// the same turn itself.
#pragma once

#include "host/math_types.h"
#include "render/span.h"

namespace rigweave {

// Model units to engine units, times the configuration's scale: a character
// 100 units tall at scale 1 stands 2 tall in the engine, the size the
// module's characters have always had in the scenes made for them.
constexpr double kDrawnUnitsPerModelUnit = 0.02;
// The box the polygon view serves (render/box_mesh.h) is measured at half
// the drawn size. It always has been: applications that collide or pick
// against that view are placed for its size, and would move if it grew.
constexpr double kBoxUnitsPerModelUnit = 0.01;

// Sine and cosine of the turn, computed once per module.
struct AxisTurn {
  float sine, cosine;
};
const AxisTurn& GetAxisTurn();

// One sub-mesh's vertices, scaled by `scale` and turned. Run() refuses
// (false, output untouched) what Validate() refuses. Allocates nothing.
struct EngineSpaceJob {
  // Input.
  Span<const csVector3> input;
  float scale = 1.0f;
  // Output: as many vertices as the input; the input itself (in place) or
  // memory apart from it.
  Span<csVector3> output;

  // At most kMaxSubmeshVertices vertices, and storage for all of them.
  bool Validate() const;
  bool Run() const;
};

}  // namespace rigweave
