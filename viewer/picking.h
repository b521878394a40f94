// Picking: what lies under a pixel of the picture, found on the triangles
// each character last drew (iRigweaveState::HitBeam), so that what is named
// is what the person sees, to the triangle.
#pragma once

#include <string>

#include "engine/backend.h"
#include "host/math_types.h"
#include "viewer/scene.h"

namespace rwview {

// The beam from the eye through the middle of pixel (x, y), counted from the
// picture's top left, `reach` long, in world space: the inverse of the
// backend's projection, mirrored as the camera is.
void PixelBeam(const rwengine::Projection& projection, const csOrthoTransform& camera,
               bool mirrored, int x, int y, float reach, csVector3& start, csVector3& end);

struct Pick {
  bool hit = false;
  size_t character = 0;   // the nearest character met, in the scene's order
  csRigweaveHit where{};  // in that character's object space
  csVector3 world{0, 0, 0};
};

// The nearest triangle under pixel (x, y) among every character's last
// pose, `reach` being how far from the eye anything drawn can lie.
Pick PickAt(const Scene& scene, int x, int y, float reach);

// One line: "pick X,Y: MODEL, mesh M (FILE), sub-mesh S, triangle T at
// (x, y, z)" (with the character's number in a crowd), or "pick X,Y: nothing".
std::string DescribePick(const Scene& scene, int x, int y, const Pick& pick);

}  // namespace rwview
