// Diagnostic lines name files as they are written, and a name can be as long
// as the file that holds it: a map name of 64 MiB would make one line of 64
// MiB. A line keeps the start and the end of what it names, which tell the
// reader which file it is and, at the end, why.
#pragma once

#include <cstddef>
#include <string_view>

namespace rigweave {

// The most bytes of a detail a line prints whole.
constexpr size_t kMaxMessageDetail = 1024;

struct ClippedText {
  std::string_view head;
  // Bytes left out between head and tail; 0 when the text fits whole (in head).
  size_t omitted = 0;
  std::string_view tail;
};

// `text` whole when it holds at most `most` bytes; otherwise its first and
// last most / 2 bytes and the count of those between.
ClippedText ClipForMessage(std::string_view text, size_t most = kMaxMessageDetail);

}  // namespace rigweave
