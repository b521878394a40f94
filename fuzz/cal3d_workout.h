// What the Cal3D file fuzzers do with bytes that passed the module's checks:
// read them with Cal3D from memory, as the module does, and put what was read
// to work: a skeleton posed, an animation played on the fuzzer's skeleton, a
// mesh skinned (with every morph target half on) and lowered through its
// levels of detail with every face index checked. Whatever passes the checks
// must be safe there; anything else aborts with one line naming the fuzzer.
#pragma once

#include <cal3d/cal3d.h>

#include <cstdint>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_objects.h"

namespace rwfuzz {

struct Cal3DWorkout {
  const char* fuzzer = "";                               // named in the failure line
  CalCoreSkeleton* skeleton = nullptr;                   // the bones animations and meshes name
  int levelSteps = 8;                                    // levels of detail from full to none
  bool xml = false;                                      // the bytes were converted from XML
  std::vector<rigweave::DenseMorphTarget> morphTargets;  // from a newer file's translation
};

[[noreturn]] void Fail(const Cal3DWorkout& workout, const char* what);

void ReadAndExercise(const Cal3DWorkout& workout, rigweave::Cal3DKind kind,
                     std::vector<uint8_t>& bytes);

}  // namespace rwfuzz
