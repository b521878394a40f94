// The contact sheet: every frame shrunk into a grid, built as the frames are
// rendered so that no frame is kept. Frames are shrunk by an integer factor
// of at least 2, more when that many frames would make the sheet larger than
// kMaxSheetPixels.
#pragma once

#include "viewer/png.h"

namespace rwview {

// 4096 x 4096 pixels, 48 MiB: the sheet's memory, whatever --frames and --size ask.
constexpr long long kMaxSheetPixels = 4096LL * 4096LL;

struct SheetLayout {
  int shrink = 2;  // frame pixels per sheet pixel, each way
  int columns = 1, rows = 1;
  int thumbWidth = 0, thumbHeight = 0;
  int width = 0, height = 0;  // of the whole sheet
};

// The layout for `frames` frames of `width` x `height` pixels (all positive).
SheetLayout LayOutSheet(int frames, int width, int height);

class ContactSheet {
 public:
  ContactSheet(int frames, int width, int height);
  // Shrinks frame number `index` (of the size given above) into its place.
  void Add(int index, const Picture& frame);
  const Picture& Sheet() const { return sheet_; }
  const SheetLayout& Layout() const { return layout_; }

 private:
  SheetLayout layout_;
  Picture sheet_;
};

}  // namespace rwview
