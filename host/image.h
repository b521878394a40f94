// An in-memory true-colour image over a pixel array.
#pragma once

#include "host/engine_loading.h"
#include "host/scf_impl.h"

class csImageMemory : public scfImplementation<csImageMemory, iImage> {
 public:
  // With `owns` set the image frees `pixels` (allocated with new[]) when it is destroyed.
  csImageMemory(int width, int height, csRGBpixel* pixels, bool owns);
  ~csImageMemory() override;

  const void* GetImageData() override { return pixels_; }
  int GetWidth() override { return width_; }
  int GetHeight() override { return height_; }
  int GetFormat() override { return CS_IMGFMT_TRUECOLOR; }

  const csRGBpixel* Pixels() const { return pixels_; }

 private:
  int width_, height_;
  csRGBpixel* pixels_;
  bool owns_;
};
