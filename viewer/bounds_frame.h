// The box a character answers to the engine, for --bounds: its twelve edges
// as thin bars, a mesh object of the viewer's own drawn after the character
// with the character's movable, so that it shows the box of the pose just
// drawn.
#pragma once

#include "host/mesh.h"
#include "host/ref.h"

namespace rwview {

csRef<iMeshObject> MakeBoundsFrame(iMeshObject* character);

}  // namespace rwview
