#include "sample/textures.h"

#include <functional>

namespace rwsample {
namespace {

const Rgb kSkinTone{224, 172, 138};
const Rgb kShirtBlue{40, 85, 190};
const Rgb kTrouserGreen{50, 118, 62};
const Rgb kBootOxblood{115, 45, 35};
const Rgb kHairGold{212, 170, 64};

// Deterministic per-texel noise in [-1, 1].
double Noise(int x, int y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xffff) / 32767.5 - 1.0;
}

uint8_t Channel(double value) {
  return static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5)));
}

Rgb Shade(Rgb c, double offset) {
  return {Channel(c.r + offset), Channel(c.g + offset), Channel(c.b + offset)};
}

Rgb Mix(Rgb a, Rgb b, double t) {
  return {Channel(Lerp(a.r, b.r, t)), Channel(Lerp(a.g, b.g, t)), Channel(Lerp(a.b, b.b, t))};
}

double Frac(double x) {
  return x - std::floor(x);
}

// Calls paint(u, v, x, y) per texel; v grows upwards, as texture
// coordinates do once the loader has turned the rows over.
Image Paint(int size, const std::function<Rgb(double, double, int, int)>& paint) {
  Image image;
  image.width = image.height = size;
  image.rgb.reserve(static_cast<size_t>(size) * size * 3);
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      const Rgb c = paint((x + 0.5) / size, 1 - (y + 0.5) / size, x, y);
      image.rgb.insert(image.rgb.end(), {c.r, c.g, c.b});
    }
  }
  return image;
}

// Eyes, brows, mouth and cheeks, placed by where the texel lands on the
// head, so they follow the geometry whatever its tessellation.
Rgb Face(Vec3 p, Rgb skin) {
  if (p.y > -3) return skin;
  const double z = p.z;
  for (double side : {1.0, -1.0}) {
    const double dx = p.x - 2.7 * side, dz = z - 92.3;
    const double iris = std::sqrt(dx * dx + dz * dz);
    if (iris < 0.35) return {15, 12, 10};
    if (iris < 0.75) return {70, 45, 30};
    if ((dx / 1.5) * (dx / 1.5) + (dz / 0.95) * (dz / 0.95) < 1) return {245, 245, 240};
    const double brow = 94.0 + 0.35 * (1 - (dx / 1.8) * (dx / 1.8));
    if (std::abs(dx) < 1.8 && std::abs(z - brow) < 0.28) return {95, 62, 38};
    const double cheek = (p.x - 4.1 * side) * (p.x - 4.1 * side) + (z - 89.4) * (z - 89.4);
    if (cheek < 1.7) return Mix(skin, {232, 140, 130}, 0.35 * (1 - cheek / 1.7));
  }
  const double smile = 87.4 + 0.09 * p.x * p.x;
  if (std::abs(p.x) < 2.2 && std::abs(z - smile) < 0.3) return {170, 68, 68};
  return skin;
}

}  // namespace

Rgb DominantColour(Material material) {
  switch (material) {
    case kSkin:
      return kSkinTone;
    case kShirt:
      return kShirtBlue;
    case kTrousers:
      return kTrouserGreen;
    case kBoots:
      return kBootOxblood;
    case kHair:
      return kHairGold;
    default:
      return {0, 0, 0};
  }
}

Image PaintTexture(Material material) {
  switch (material) {
    case kSkin: {
      const Surface head = HeadSurface();
      return Paint(128, [&](double u, double v, int x, int y) {
        const Rgb skin = Shade(kSkinTone, 6 * Noise(x, y, 1));
        if (v < kHeadUv.v0) return skin;
        const double along = (v - kHeadUv.v0) / (kHeadUv.v1 - kHeadUv.v0);
        return Face(head(u, along), skin);
      });
    }
    case kShirt:
      // Horizontal white pinstripes, 16 to the texture height.
      return Paint(128, [](double, double v, int x, int y) {
        const Rgb base = Frac(v * 16) < 0.22 ? Rgb{235, 235, 245} : kShirtBlue;
        return Shade(base, 4 * Noise(x, y, 2));
      });
    case kTrousers:
      // Checks: darker bands eight to the texture in both directions, so
      // the pattern wraps around the legs without a seam.
      return Paint(64, [](double u, double v, int x, int y) {
        const int bands = (Frac(u * 8) < 0.18) + (Frac(v * 8) < 0.18);
        const Rgb base = bands == 0   ? kTrouserGreen
                         : bands == 1 ? Rgb{34, 84, 44}
                                      : Rgb{24, 60, 32};
        return Shade(base, 4 * Noise(x, y, 3));
      });
    case kBoots:
      // Leather with rows of stitching.
      return Paint(64, [](double u, double v, int x, int y) {
        const bool stitch = Frac(v * 10) < 0.08 && Frac(u * 32) < 0.5;
        return Shade(stitch ? Rgb{172, 112, 80} : kBootOxblood, 5 * Noise(x, y, 4));
      });
    case kHair: {
      // Strands: darker streaks running along v, their darkness varying
      // slowly along u.
      return Paint(64, [](double u, double, int x, int y) {
        const double streak = 0.5 + 0.5 * std::sin(2 * kPi * u * 24 + 2 * Noise(x / 4, 0, 5));
        const Rgb base = streak > 0.8 ? Rgb{168, 126, 40} : kHairGold;
        return Shade(base, 6 * Noise(x, y, 6));
      });
    }
    default:
      return {};
  }
}

}  // namespace rwsample
