#include "viewer/sheet.h"

#include <stb_image_resize.h>

#include <algorithm>
#include <cmath>

namespace rwview {
namespace {

constexpr int kGap = 2;
constexpr uint8_t kGapGrey = 96;

}  // namespace

SheetLayout LayOutSheet(int frames, int width, int height) {
  SheetLayout layout;
  const int count = std::max(1, frames);
  layout.columns = std::max(
      1, std::min(count, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count) * 1.5)))));
  layout.rows = (count + layout.columns - 1) / layout.columns;
  for (layout.shrink = 2;; layout.shrink++) {
    layout.thumbWidth = std::max(1, width / layout.shrink);
    layout.thumbHeight = std::max(1, height / layout.shrink);
    const long long w = static_cast<long long>(layout.columns) * (layout.thumbWidth + kGap) + kGap;
    const long long h = static_cast<long long>(layout.rows) * (layout.thumbHeight + kGap) + kGap;
    // Thumbnails of one pixel are as small as it gets.
    if (w * h <= kMaxSheetPixels || (layout.thumbWidth == 1 && layout.thumbHeight == 1)) {
      layout.width = static_cast<int>(std::min<long long>(w, 1 << 30));
      layout.height = static_cast<int>(std::min<long long>(h, 1 << 30));
      break;
    }
  }
  return layout;
}

ContactSheet::ContactSheet(int frames, int width, int height)
    : layout_(LayOutSheet(frames, width, height)) {
  // With one-pixel thumbnails a sheet of very many frames would still be
  // too large: those frames are left out.
  const long long pixels = static_cast<long long>(layout_.width) * layout_.height;
  if (pixels > kMaxSheetPixels) {
    layout_.rows = std::max(1, static_cast<int>(kMaxSheetPixels / (layout_.width * 1LL) /
                                                (layout_.thumbHeight + kGap)));
    layout_.height = layout_.rows * (layout_.thumbHeight + kGap) + kGap;
    if (static_cast<long long>(layout_.width) * layout_.height > kMaxSheetPixels) {
      layout_.columns = 1;
      layout_.width = layout_.thumbWidth + 2 * kGap;
    }
  }
  sheet_.width = layout_.width;
  sheet_.height = layout_.height;
  sheet_.rgb.assign(static_cast<size_t>(sheet_.width) * sheet_.height * 3, kGapGrey);
}

void ContactSheet::Add(int index, const Picture& frame) {
  const int column = index % layout_.columns, row = index / layout_.columns;
  if (index < 0 || row >= layout_.rows) return;
  const int k = layout_.shrink;
  const int ox = kGap + column * (layout_.thumbWidth + kGap);
  const int oy = kGap + row * (layout_.thumbHeight + kGap);
  // Each thumbnail pixel is the average of a k x k block of the frame: a box
  // filter over exactly the frame's pixels the thumbnail covers.
  const int width = std::min(frame.width, layout_.thumbWidth * k);
  const int height = std::min(frame.height, layout_.thumbHeight * k);
  if (width <= 0 || height <= 0) return;
  stbir_resize_uint8_generic(frame.rgb.data(), width, height, frame.width * 3, sheet_.At(ox, oy),
                             layout_.thumbWidth, layout_.thumbHeight, sheet_.width * 3, 3,
                             STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_BOX,
                             STBIR_COLORSPACE_LINEAR, nullptr);
}

}  // namespace rwview
