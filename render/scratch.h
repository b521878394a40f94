// Working storage shared by every mesh object of the module. It is static,
// so no frame and no load allocates geometry, and it is not re-entrant: all
// calls come from the engine's one thread.
#pragma once

#include "host/math.h"
#include "model/meshobject.h"

namespace rigweave {

// The geometry of the sub-mesh being drawn.
struct DrawScratch {
  csVector3 vertices[kMaxSubmeshVertices];
  csVector2 texels[kMaxSubmeshVertices];
  csTriangle faces[kMaxSubmeshFaces];
};
DrawScratch& GetDrawScratch();

// Positions measured for the box mesh.
csVector3* GetBoundsScratch();

// Model space to engine space: scaled, then turned about the x axis by the
// single-precision angle -1.57 (not quite a quarter turn). Sine and cosine are
// computed once per module.
struct AxisTurn {
  float sine, cosine;
};
const AxisTurn& GetAxisTurn();

// Scales and turns `count` vertices in place.
void ToEngineSpace(csVector3* vertices, int count, float factor);

// Swaps the second and third corner of `count` triangles in place, which
// turns each one round.
void ReverseWinding(csTriangle* faces, int count);

}  // namespace rigweave
