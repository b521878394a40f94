// A Cal3D file of the kind the first byte picks (skeleton, animation, mesh,
// material), the rest of the input its bytes, taken the way the module takes
// it: converted when it is XML (fuzz_cal3d_xml), checked, then read by Cal3D
// from memory and put to work: a skeleton posed, an animation played on the
// sample's skeleton, a mesh skinned and lowered through its levels of detail
// with every face index checked. Whatever passes the checks must be safe there.
#include <cal3d/cal3d.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_objects.h"
#include "fuzz/cal3d_workout.h"

namespace {

using rigweave::Cal3DKind;

// One source, two fuzzers: the file names tell the module's path which
// reader a file goes to.
#ifdef RIGWEAVE_FUZZ_XML
constexpr const char* kFuzzer = "fuzz_cal3d_xml";
constexpr bool kXml = true;
constexpr const char* kNames[] = {"f.xsf", "f.xaf", "f.xmf", "f.xrf"};
#else
constexpr const char* kFuzzer = "fuzz_cal3d_binary";
constexpr bool kXml = false;
constexpr const char* kNames[] = {"f.csf", "f.caf", "f.cmf", "f.crf"};
#endif

// Three bones in a chain: ids 0 to 2 are valid for tracks and influences.
CalCoreSkeletonPtr ThreeBones() {
  CalCoreSkeletonPtr skeleton = new CalCoreSkeleton();
  for (int i = 0; i < 3; i++) {
    auto* bone = new CalCoreBone("bone" + std::to_string(i));
    bone->setParentId(i - 1);
    if (i < 2) bone->addChildId(i + 1);
    bone->setTranslation(CalVector(0, 0, 1));
    bone->setRotation(CalQuaternion());
    bone->setTranslationBoneSpace(CalVector(0, 0, static_cast<float>(-i)));
    bone->setRotationBoneSpace(CalQuaternion());
    bone->setCoreSkeleton(skeleton.get());
    skeleton->addCoreBone(bone);
  }
  skeleton->calculateState();
  return skeleton;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto kind = static_cast<Cal3DKind>(data[0] % 4);
  std::vector<uint8_t> bytes(data + 1, data + size);
  static CalCoreSkeletonPtr skeleton = ThreeBones();
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile(kNames[static_cast<int>(kind)], kind, bytes, 3);
  if (!check.Ok()) return 0;

  static rwfuzz::Cal3DWorkout workout = [] {
    rwfuzz::Cal3DWorkout made;
    made.fuzzer = kFuzzer;
    made.skeleton = skeleton.get();
    made.xml = kXml;
    return made;
  }();
  rwfuzz::ReadAndExercise(workout, kind, bytes);
  return 0;
}
