// The geometry working storage every mesh object of the module shares: the
// sub-mesh being drawn, and the positions the box is measured from. Sized by
// the character's capacities (render/limits.h) and static, so no frame and
// no load allocates geometry; not re-entrant: all calls come from the
// engine's one thread.
#pragma once

#include "host/math_types.h"
#include "render/limits.h"

namespace rigweave {

// The geometry of the sub-mesh being drawn.
struct DrawStorage {
  csVector3 vertices[kMaxSubmeshVertices];
  csVector2 texels[kMaxSubmeshVertices];
  csTriangle faces[kMaxSubmeshFaces];
};
DrawStorage& GetDrawStorage();

// Positions measured for the box mesh, kMaxSubmeshVertices of them.
csVector3* GetBoundsStorage();

}  // namespace rigweave
