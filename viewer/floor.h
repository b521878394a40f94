// The ground the characters stand on, for --floor: a square under what is
// drawn, with grid lines, as a mesh object of the viewer's own that the
// engine draws like the characters (before them, untextured, coloured by
// vertex, both windings so that it shows from below too).
#pragma once

#include "host/mesh.h"
#include "host/ref.h"
#include "viewer/framing.h"

namespace rwview {

// A floor under the box from `low` to `high` (world space: the characters'
// movables are where the floor's coordinates are), reaching well beyond it.
csRef<iMeshObject> MakeFloor(const csVector3& low, const csVector3& high);

}  // namespace rwview
