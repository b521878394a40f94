// The second draw of a sub-mesh shows its faces from behind: every triangle
// turned round by swapping its second and third corner.
#pragma once

#include "host/math_types.h"
#include "render/span.h"

namespace rigweave {

// Run() refuses (false, output untouched) what Validate() refuses.
// Allocates nothing.
struct FaceReversalJob {
  // Input.
  Span<const csTriangle> input;
  // Output: as many triangles as the input; the input itself (in place) or
  // memory apart from it.
  Span<csTriangle> output;

  // At most kMaxSubmeshFaces triangles, and storage for all of them.
  bool Validate() const;
  bool Run() const;
};

}  // namespace rigweave
