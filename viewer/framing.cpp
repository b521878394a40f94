#include "viewer/framing.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/backend_bounds.h"

namespace rwview {
namespace {

// The share of the picture's height the characters take, and of its width at most.
constexpr double kFramedHeight = 2.0 / 3.0;
constexpr double kFramedWidth = 0.92;
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

using Corners = std::array<csVector3, 8>;

// What a box must fit into: the picture's half sizes at the focal length.
struct Fit {
  Corners corners;
  float focalLength;
  double halfWidth, halfHeight;
  double size;  // the box's diagonal, where the search for a distance starts
};

bool FitsAt(Orbit& orbit, const Fit& fit, double distance) {
  orbit.distance = distance;
  const csOrthoTransform camera = orbit.Transform();
  for (const csVector3& corner : fit.corners) {
    const csVector3 c = camera.Other2This(corner);
    if (c.z <= 0.0f || std::abs(fit.focalLength * c.x / c.z) > fit.halfWidth ||
        std::abs(fit.focalLength * c.y / c.z) > fit.halfHeight)
      return false;
  }
  return true;
}

// The nearest distance at which every corner is in the picture.
void FitDistance(Orbit& orbit, const Fit& fit) {
  double near = 0.0, far = fit.size;
  for (int i = 0; i < 60 && !FitsAt(orbit, fit, far); i++) near = far, far *= 2;
  for (int i = 0; i < 50; i++) {
    const double middle = (near + far) / 2;
    (FitsAt(orbit, fit, middle) ? far : near) = middle;
  }
  orbit.distance = far;
}

// Seen from above and aside, the middle of the box is not the middle of its
// picture: moves what the camera looks at until the picture is centred.
void CentrePicture(Orbit& orbit, const Fit& fit) {
  const csOrthoTransform camera = orbit.Transform();
  csBox2 screen;
  for (const csVector3& corner : fit.corners) {
    const csVector3 c = camera.Other2This(corner);
    screen.AddBoundingVertex(csVector2(c.x / c.z, c.y / c.z));
  }
  const float dx = (screen.minbox.x + screen.maxbox.x) / 2;
  const float dy = (screen.minbox.y + screen.maxbox.y) / 2;
  const float depth = static_cast<float>(orbit.distance);
  orbit.center += camera.This2Other(csVector3(dx * depth, dy * depth, 0)) - camera.GetOrigin();
}

double Diagonal(const csVector3& low, const csVector3& high) {
  const csVector3 extent = high - low;
  return std::sqrt(static_cast<double>(extent.x) * extent.x +
                   static_cast<double>(extent.y) * extent.y +
                   static_cast<double>(extent.z) * extent.z);
}

// Each model's size, drawn alone at the origin, spaces the grid.
float GridSpacing(Scene& scene, rwengine::BoundsBackend& bounds) {
  float spacing = 0.0f;
  for (Model& model : scene.models) {
    for (const Character& c : scene.characters) {
      if (c.model != &model) continue;
      bounds.Reset();
      scene.stage->DrawFrame({{c.mesh.get(), c.movable.get()}});
      if (!bounds.Empty()) model.size = bounds.Max() - bounds.Min();
      break;
    }
    spacing = std::max({spacing, 1.3f * std::max(model.size.x, model.size.z), 0.5f * model.size.y});
  }
  return spacing > 0.0f && std::isfinite(spacing) ? spacing : 1.4f;
}

void PlaceCharacters(Scene& scene, float spacing) {
  std::vector<Character>& characters = scene.characters;
  const std::vector<csVector3> positions = Placements(static_cast<int>(characters.size()), spacing);
  for (size_t i = 0; i < characters.size(); i++) {
    csReversibleTransform place;
    if (characters.size() > 1) {
      const double turn = (std::fmod(i * 0.381966, 1.0) - 0.5) * 0.8;
      place.SetO2T(csYRotMatrix3(static_cast<float>(turn)));
    }
    place.SetOrigin(positions[i]);
    characters[i].movable->SetTransform(place);
    characters[i].movable->UpdateMove();
  }
}

}  // namespace

csOrthoTransform Orbit::Transform() const {
  const csVector3 eye =
      center + csVector3(static_cast<float>(std::sin(yaw) * std::cos(pitch) * distance),
                         static_cast<float>(std::sin(pitch) * distance),
                         static_cast<float>(std::cos(yaw) * std::cos(pitch) * distance));
  csOrthoTransform transform;
  transform.SetOrigin(eye);
  transform.LookAt(center, csVector3(0, 1, 0));
  return transform;
}

float PickReach(const Framing& framing) {
  // The orbit looks at a point within the scene, and CentrePicture moves it
  // at most a little: the far side lies within the distance and a diameter,
  // twice over to be sure.
  return static_cast<float>(framing.orbit.distance + 4.0 * framing.sceneRadius);
}

std::vector<csVector3> Placements(int count, float spacing) {
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  std::vector<csVector3> positions;
  for (int i = 0; i < count; i++) {
    const int column = i % columns, row = i / columns;
    positions.emplace_back((column - (columns - 1) / 2.0f) * spacing, 0.0f,
                           (row - (rows - 1) / 2.0f) * spacing);
  }
  return positions;
}

Orbit FrameBox(const csVector3& low, const csVector3& high, const Orbit& angles, float focalLength,
               int width, int height) {
  Fit fit;
  for (int i = 0; i < 8; i++)
    fit.corners[static_cast<size_t>(i)] =
        csVector3(i & 4 ? high.x : low.x, i & 2 ? high.y : low.y, i & 1 ? high.z : low.z);
  fit.focalLength = focalLength;
  fit.halfWidth = kFramedWidth * width / 2.0;
  fit.halfHeight = kFramedHeight * height / 2.0;
  fit.size = std::max(1e-6, Diagonal(low, high));
  Orbit orbit = angles;
  orbit.center = (low + high) * 0.5f;
  for (int pass = 0; pass < 4; pass++) {
    FitDistance(orbit, fit);
    CentrePicture(orbit, fit);
  }
  FitDistance(orbit, fit);
  return orbit;
}

Framing FrameScene(Scene& scene) {
  const Options& options = scene.options;
  const float focal = scene.stage->GetCamera()->FocalLength(options.width);
  csVector3 low(-0.55f, 0.0f, -0.55f), high(0.55f, 2.05f, 0.55f);
  if (!scene.characters.empty()) {
    rwengine::BoundsBackend bounds;
    scene.stage->SetBackend(&bounds);
    // The camera at the world's origin: camera space is world space.
    scene.stage->GetCamera()->SetTransform(csOrthoTransform());
    PlaceCharacters(scene, GridSpacing(scene, bounds));
    bounds.Reset();
    scene.stage->DrawFrame(scene.Objects());
    scene.stage->SetBackend(scene.backend.get());
    if (!bounds.Empty()) low = bounds.Min(), high = bounds.Max();
  }
  Framing framing;
  framing.low = low;
  framing.high = high;
  // A turntable shows every side: framed as the square footprint that any
  // turn of the characters' fits in.
  if (options.turntable) {
    const csVector3 middle = (low + high) * 0.5f;
    const float reach = 0.5f * std::sqrt(2.0f) * std::max(high.x - low.x, high.z - low.z);
    low = csVector3(middle.x - reach, low.y, middle.z - reach);
    high = csVector3(middle.x + reach, high.y, middle.z + reach);
  }
  Orbit angles;
  if (scene.characters.size() > 1) angles.pitch = 0.4;
  if (options.yawGiven) angles.yaw = options.yaw * kRadiansPerDegree;
  if (options.pitchGiven) angles.pitch = options.pitch * kRadiansPerDegree;
  framing.orbit = FrameBox(low, high, angles, focal, options.width, options.height);
  framing.orbit.distance /= options.zoom;
  framing.framedDistance = framing.orbit.distance;
  framing.sceneRadius = 0.5 * Diagonal(low, high);
  return framing;
}

}  // namespace rwview
