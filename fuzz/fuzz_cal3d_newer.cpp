// A binary Cal3D file of Cal3D's newer line or of the 911-919 lineage, of
// the kind the first byte picks (skeleton, animation, mesh, material), the
// rest of the input its bytes, taken the way the module takes it:
// translated into the 0.11 layout and checked against the sample's
// skeleton, then read by Cal3D from memory with its morph targets and put
// to work: a skeleton posed, an animation played, a mesh skinned with every
// morph target half on, at every level of detail, every face index checked.
#include <cal3d/cal3d.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_newer.h"
#include "formats/cal3d_objects.h"
#include "fuzz/cal3d_workout.h"

namespace {

using rigweave::Cal3DKind;

CalCoreSkeletonPtr SampleSkeleton() {
  const char* dir = std::getenv("RIGWEAVE_FUZZ_MODELS");
  const std::string path = std::string(dir ? dir : RIGWEAVE_MODELS_DIR) + "/hero.csf";
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(path);
  if (!skeleton) {
    std::fprintf(stderr, "fuzz_cal3d_newer: no sample skeleton (hero.csf)\n");
    std::abort();
  }
  return skeleton;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"f.csf", "f.caf", "f.cmf", "f.crf"};
  const auto kind = static_cast<Cal3DKind>(data[0] % 4);
  std::vector<uint8_t> bytes(data + 1, data + size);
  static CalCoreSkeletonPtr skeleton = SampleSkeleton();
  static const std::vector<float> rest = rigweave::RestTranslations(*skeleton);
  const int bones = static_cast<int>(skeleton->getVectorCoreBone().size());
  static rwfuzz::Cal3DWorkout workout = [] {
    rwfuzz::Cal3DWorkout made;
    made.fuzzer = "fuzz_cal3d_newer";
    made.skeleton = skeleton.get();
    made.levelSteps = 4;
    return made;
  }();
  rigweave::NewerCal3DContext context;
  context.restTranslations = rest;
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile(kNames[static_cast<int>(kind)], kind, bytes, bones, &context);
  if (!check.Ok()) {
    if (!context.morphTargets.empty()) rwfuzz::Fail(workout, "a refused mesh left morph targets");
    return 0;
  }
  size_t dense = 0;
  for (const rigweave::DenseMorphTarget& target : context.morphTargets)
    dense += target.positions.size() / 3;
  if (dense > rigweave::kMaxDenseBlendVertices)
    rwfuzz::Fail(workout, "morph targets past their bound");

  workout.morphTargets = std::move(context.morphTargets);
  rwfuzz::ReadAndExercise(workout, kind, bytes);
  return 0;
}
