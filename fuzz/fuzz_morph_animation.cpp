// A morph animation, XML (.xpf) when the first byte is odd and binary (.cpf)
// otherwise, the rest of the input its bytes: read as the module reads a
// morphanim file, then every track weighed across the loop and checked
// against a small character's morph targets. What is read must hold what
// the reader promises: a finite positive duration, tracks with keyframes in
// time order, finite weights.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/morph_animation.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_morph_animation: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  rigweave::MorphAnimation animation;
  const char* reason =
      rigweave::ReadMorphAnimation(data[0] % 2 ? "f.xpf" : "f.cpf", data + 1, size - 1, animation);
  if (reason != nullptr) {
    if (!animation.tracks.empty()) Fail("a refused file left tracks");
    return 0;
  }
  if (!(animation.duration > 0) || !std::isfinite(animation.duration)) Fail("bad duration");
  if (animation.tracks.empty()) Fail("no tracks");
  for (const rigweave::MorphTrack& track : animation.tracks) {
    for (size_t k = 1; k < track.keyframes.size(); k++)
      if (track.keyframes[k].time < track.keyframes[k - 1].time) Fail("keyframes out of order");
    for (int step = 0; step <= 8; step++) {
      const float weight = rigweave::MorphTrackWeight(track, animation.duration * step / 8.0f);
      if (!std::isfinite(weight)) Fail("a weight that is not finite");
    }
  }
  static const std::vector<std::vector<std::vector<std::string>>> kTargets = {
      {{"jaw_open", "brow_up", "e38182"}, {}, {"lift"}}, {{"lift"}}};
  rigweave::CheckMorphTargets(animation, kTargets);
  return 0;
}
