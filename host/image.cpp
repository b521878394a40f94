#include "host/image.h"

csImageMemory::csImageMemory(int width, int height, csRGBpixel* pixels, bool owns)
    : width_(width), height_(height), pixels_(pixels), owns_(owns) {}

csImageMemory::~csImageMemory() {
  if (owns_) delete[] pixels_;
}
