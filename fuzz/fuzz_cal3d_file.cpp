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

namespace {

using rigweave::Cal3DKind;

// One source, two fuzzers: the file names tell the module's path which
// reader a file goes to.
#ifdef RIGWEAVE_FUZZ_XML
constexpr const char* kFuzzer = "fuzz_cal3d_xml";
constexpr const char* kNames[] = {"f.xsf", "f.xaf", "f.xmf", "f.xrf"};
#else
constexpr const char* kFuzzer = "fuzz_cal3d_binary";
constexpr const char* kNames[] = {"f.csf", "f.caf", "f.cmf", "f.crf"};
#endif

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s: %s\n", kFuzzer, what);
  std::abort();
}

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

void Exercise(CalCoreSkeleton* skeleton, CalCoreMesh* mesh, CalCoreAnimation* animation) {
  CalCoreModel core("fuzz");
  core.setCoreSkeleton(skeleton);
  if (mesh != nullptr) core.addCoreMesh(mesh);
  if (animation != nullptr) core.addCoreAnimation(animation);
  CalModel model(&core);
  if (mesh != nullptr) model.attachMesh(0);
  if (animation != nullptr) model.getMixer()->blendCycle(0, 1.0f, 0.0f);
  model.update(0.3f);
  if (mesh == nullptr) return;
  static std::vector<float> vertices;
  static std::vector<CalIndex> faces;
  for (int step = 8; step >= 0; step--) {
    model.setLodLevel(static_cast<float>(step) / 8.0f);
    CalRenderer* renderer = model.getRenderer();
    if (!renderer->beginRendering()) return;
    for (int sub = 0; sub < renderer->getSubmeshCount(0); sub++) {
      if (!renderer->selectMeshSubmesh(0, sub)) continue;
      vertices.resize(3 * static_cast<size_t>(renderer->getVertexCount()) + 3);
      faces.resize(3 * static_cast<size_t>(renderer->getFaceCount()) + 3);
      const int vertexCount = renderer->getVertices(vertices.data());
      const int faceCount = renderer->getFaces(faces.data());
      for (int i = 0; i < 3 * faceCount; i++)
        if (faces[static_cast<size_t>(i)] < 0 || faces[static_cast<size_t>(i)] >= vertexCount)
          Fail("a checked mesh gave a face index out of range");
    }
    renderer->endRendering();
  }
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

  switch (kind) {
    case Cal3DKind::Skeleton: {
      CalCoreSkeletonPtr read = rigweave::ReadCoreSkeleton(bytes);
      if (!read) Fail("Cal3D refused a checked skeleton");
      Exercise(read.get(), nullptr, nullptr);
      break;
    }
    case Cal3DKind::Animation: {
      CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(bytes, skeleton.get());
      if (!read) Fail("Cal3D refused a checked animation");
      Exercise(skeleton.get(), nullptr, read.get());
      rigweave::FreeTracks(*read);
      break;
    }
    case Cal3DKind::Mesh: {
      CalCoreMeshPtr read = rigweave::ReadCoreMesh(bytes, true);
      if (!read) Fail("Cal3D refused a checked mesh");
      Exercise(skeleton.get(), read.get(), nullptr);
      break;
    }
    case Cal3DKind::Material:
      if (!rigweave::ReadCoreMaterial(bytes)) Fail("Cal3D refused a checked material");
      break;
  }
  return 0;
}
