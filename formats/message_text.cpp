#include "formats/message_text.h"

namespace rigweave {

ClippedText ClipForMessage(std::string_view text, size_t most) {
  ClippedText clipped;
  if (text.size() <= most) {
    clipped.head = text;
    return clipped;
  }
  const size_t half = most / 2;
  clipped.head = text.substr(0, half);
  clipped.tail = text.substr(text.size() - half);
  clipped.omitted = text.size() - 2 * half;
  return clipped;
}

}  // namespace rigweave
