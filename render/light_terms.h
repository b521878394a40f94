// What every vertex's light shares, worked out once per job: how the
// lighting job and the skinning kernels take a light. Plain data only, so
// that the kernels' files, each built for its own instruction set, can
// include it without compiling any shared function.
#pragma once

namespace rigweave {

struct LightTerms {
  float center[3];
  float rgb[3];  // the diffuse colour times the light's
  float inverseRadius;
  int attenuation;  // a csLightAttenuation
};

}  // namespace rigweave
