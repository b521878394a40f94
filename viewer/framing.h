// Framing: the camera placed in front of the characters (a little aside, and
// from above for a crowd) at the distance where they take two thirds of the
// picture's height, whatever units their files use, and a crowd's grid
// spaced by the character's own size.
#pragma once

#include <vector>

#include "host/math_types.h"
#include "viewer/scene.h"

namespace rwview {

struct Orbit {
  csVector3 center{0, 1, 0};
  double distance = 3.5;
  double yaw = 0.35;  // radians about +y, 0 looking at the characters' faces
  double pitch = 0.12;

  csOrthoTransform Transform() const;
};

// The camera a run starts from, and what the window's zoom is bounded by.
struct Framing {
  Orbit orbit;
  double framedDistance = 3.5;  // the orbit's distance as framed
  double sceneRadius = 1.2;     // half the diagonal of what is drawn
  csVector3 low{-0.55f, 0.0f, -0.55f}, high{0.55f, 2.05f, 0.55f};  // what is drawn, world space
};

// How far from the eye anything drawn can lie, however the camera moved.
float PickReach(const Framing& framing);

// Grid positions, centred on the origin, `spacing` apart, for `count` characters.
std::vector<csVector3> Placements(int count, float spacing);

// Looks at the box from `angles` (by default from the front and a little
// aside, from above for a crowd), from the distance at which its corners
// fill two thirds of the picture's height (or 92% of its width, whichever is
// reached first), then centres its picture.
Orbit FrameBox(const csVector3& low, const csVector3& high, const Orbit& angles, float focalLength,
               int width, int height);

// Draws the first frame once without showing it to measure what the
// characters draw, places them (a grid for several) and frames them; the
// zoom option is applied.
Framing FrameScene(Scene& scene);

}  // namespace rwview
