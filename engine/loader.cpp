#include "engine/loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/image.h"

namespace rwengine {
namespace {

// A stable pseudo-random value in [0, 1) for a pair of integers, so the stone
// looks the same on every run and every machine.
float Hash(uint32_t x, uint32_t y, uint32_t salt) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ salt * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<float>(h & 0xFFFFFF) / static_cast<float>(0x1000000);
}

// Cobbles are the cells of jittered points on a 4x4 grid. Distances wrap
// around the edges so the texture tiles without seams.
constexpr int kCells = 4;

struct Nearest {
  float first, second;  // distances to the nearest and second-nearest point
  int cell;             // index of the nearest point's grid cell
};

Nearest FindNearest(float px, float py, int size) {
  const float cellSize = static_cast<float>(size) / kCells;
  Nearest n{1e9f, 1e9f, 0};
  const int cx = static_cast<int>(px / cellSize), cy = static_cast<int>(py / cellSize);
  for (int dy = -1; dy <= 1; dy++) {
    for (int dx = -1; dx <= 1; dx++) {
      const int gx = cx + dx, gy = cy + dy;
      const int wx = (gx + kCells) % kCells, wy = (gy + kCells) % kCells;
      // Jitter kept off the cell borders so no cobble shrinks to nothing.
      const float fx = (static_cast<float>(gx) + 0.2f + 0.6f * Hash(wx, wy, 1)) * cellSize;
      const float fy = (static_cast<float>(gy) + 0.2f + 0.6f * Hash(wx, wy, 2)) * cellSize;
      const float d = std::hypot(px - fx, py - fy);
      if (d < n.first) {
        n.second = n.first;
        n.first = d;
        n.cell = wy * kCells + wx;
      } else if (d < n.second) {
        n.second = d;
      }
    }
  }
  return n;
}

}  // namespace

Loader::Loader(Engine* engine) : engine_(engine) {}

iImage* Loader::MakeStoneImage() {
  const int size = kStoneSize;
  auto* pixels = new (std::nothrow) csRGBpixel[static_cast<size_t>(size) * size];
  if (pixels == nullptr) return nullptr;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      const Nearest n = FindNearest(x + 0.5f, y + 0.5f, size);
      // Near the bisector of two points lies the mortar; the edge of a
      // cobble darkens a little towards it, which reads as a rounded stone.
      const float edge = n.second - n.first;
      float shade;
      if (edge < 1.6f) {
        shade = 38.0f + 18.0f * Hash(x, y, 3);
      } else {
        const float cobble = 112.0f + 56.0f * Hash(n.cell, 0, 4);
        const float rounding = std::min(1.0f, (edge - 1.6f) / 5.0f);
        const float grain = 16.0f * (Hash(x, y, 5) - 0.5f);
        shade = cobble * (0.72f + 0.28f * rounding) + grain;
      }
      const auto grey = static_cast<uint8_t>(std::clamp(shade, 0.0f, 255.0f));
      csRGBpixel& p = pixels[y * size + x];
      p.red = p.green = p.blue = grey;
      p.alpha = 255;
    }
  }
  iImage* image = new (std::nothrow) csImageMemory(size, size, pixels, true);
  if (image == nullptr) delete[] pixels;
  return image;
}

iImage* Loader::MakeWhiteImage() {
  auto* pixels = new (std::nothrow) csRGBpixel[1];
  if (pixels == nullptr) return nullptr;
  pixels->red = pixels->green = pixels->blue = pixels->alpha = 255;
  iImage* image = new (std::nothrow) csImageMemory(1, 1, pixels, true);
  if (image == nullptr) delete[] pixels;
  return image;
}

iTextureWrapper* Loader::LoadTexture(const char* name, const char* fname, int, iTextureManager*,
                                     bool) {
  if (fname == nullptr || std::strcmp(fname, kStoneTexture) != 0) return nullptr;
  if (name == nullptr) name = fname;
  // The file never changes, so it is decoded once and every texture of it
  // shares the pixels.
  csRef<iImage>& image = plain_ ? white_ : stone_;
  if (!image) image = csRef<iImage>::Adopt(plain_ ? MakeWhiteImage() : MakeStoneImage());
  if (!image) return nullptr;
  iTextureWrapper* texture = engine_->GetTextures()->AddTexture(name, image.get());
  if (texture == nullptr) return nullptr;
  if (engine_->CreateMaterial(name, texture) == nullptr) return nullptr;
  return texture;
}

}  // namespace rwengine
