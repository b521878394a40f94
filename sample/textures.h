// The sample character's textures. Each has one clearly dominant colour so
// that image tests can tell the materials apart in a rendering.
#pragma once

#include <cstdint>
#include <vector>

#include "sample/body.h"

namespace rwsample {

struct Rgb {
  uint8_t r, g, b;
};

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first
};

Image PaintTexture(Material material);

// The colour most of the texture's texels have, before noise.
Rgb DominantColour(Material material);

}  // namespace rwsample
