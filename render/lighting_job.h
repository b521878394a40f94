// Vertex light: every vertex's colour from its posed position and normal
// under a few point lights, computed right after the pose it lights so that
// the colours are never a frame behind it.
#pragma once

#include "host/light.h"
#include "host/math_types.h"
#include "render/light_terms.h"
#include "render/span.h"

namespace rigweave {

// A point light, its centre in the vertices' space.
struct VertexLight {
  csVector3 center;
  csColor color;
  csLightAttenuation attenuation;
  float radius;
};

// What lights a sub-mesh: its lights and colours.
struct LightSetting {
  static constexpr int kMaxLights = 8;
  Span<const VertexLight> lights;  // at most kMaxLights
  csColor ambient{0.0f, 0.0f, 0.0f};
  csColor diffuse{1.0f, 1.0f, 1.0f};

  bool Validate() const;
};

// Each vertex's colour: ambient * diffuse, plus for each light, in order,
// diffuse * colour * max(0, n . l) * brightness(d), where l is the unit
// direction from the vertex to the light and d its distance. Colours are not
// clamped; normals are taken to be unit length. A linear light without a
// radius reaches nothing. The inverse kinds give a vertex at a light's centre
// nothing: its n . l is 0 there.
//
// Four vertices at a time where SSE2 is, the distance's inverse from the
// processor's estimate and one Newton step (about 23 bits): colours may
// differ in the last bits from a build without SSE2. Run() refuses (false,
// output untouched) what Validate() refuses, and allocates nothing.
struct LightingJob {
  // Inputs.
  Span<const csVector3> positions;
  Span<const csVector3> normals;  // as many as positions
  LightSetting setting;
  // Output: one colour per position, in memory apart from the inputs.
  Span<csColor> output;

  // At most kMaxSubmeshVertices vertices, a valid setting, and storage for
  // every input and output named.
  bool Validate() const;
  bool Run() const;
};

// The terms of the setting's lights that reach anything, into `terms` (room
// for kMaxLights); how many. ambient * diffuse into `base`.
int TermsOf(const LightSetting& setting, LightTerms* terms, csColor& base);

}  // namespace rigweave
