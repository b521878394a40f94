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

namespace {

using rigweave::Cal3DKind;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_cal3d_newer: %s\n", what);
  std::abort();
}

CalCoreSkeletonPtr SampleSkeleton() {
  const char* dir = std::getenv("RIGWEAVE_FUZZ_MODELS");
  const std::string path = std::string(dir ? dir : RIGWEAVE_MODELS_DIR) + "/hero.csf";
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(path);
  if (!skeleton) Fail("no sample skeleton (hero.csf)");
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
  CalMesh* attached = model.getMesh(0);
  for (int s = 0; s < attached->getSubmeshCount(); s++) {
    CalSubmesh* submesh = attached->getSubmesh(s);
    for (int m = 0; m < submesh->getMorphTargetWeightCount(); m++)
      submesh->setMorphTargetWeight(m, 0.5f);
  }
  static std::vector<float> vertices;
  static std::vector<CalIndex> faces;
  for (int step = 4; step >= 0; step--) {
    model.setLodLevel(static_cast<float>(step) / 4.0f);
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
  static const char* const kNames[] = {"f.csf", "f.caf", "f.cmf", "f.crf"};
  const auto kind = static_cast<Cal3DKind>(data[0] % 4);
  std::vector<uint8_t> bytes(data + 1, data + size);
  static CalCoreSkeletonPtr skeleton = SampleSkeleton();
  static const std::vector<float> rest = rigweave::RestTranslations(*skeleton);
  const int bones = static_cast<int>(skeleton->getVectorCoreBone().size());
  rigweave::NewerCal3DContext context;
  context.restTranslations = rest;
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile(kNames[static_cast<int>(kind)], kind, bytes, bones, &context);
  if (!check.Ok()) {
    if (!context.morphTargets.empty()) Fail("a refused mesh left morph targets");
    return 0;
  }
  size_t dense = 0;
  for (const rigweave::DenseMorphTarget& target : context.morphTargets)
    dense += target.positions.size() / 3;
  if (dense > rigweave::kMaxDenseBlendVertices) Fail("morph targets past their bound");

  switch (kind) {
    case Cal3DKind::Skeleton: {
      CalCoreSkeletonPtr read = rigweave::ReadCoreSkeleton(bytes);
      if (!read) Fail("Cal3D refused a translated skeleton");
      Exercise(read.get(), nullptr, nullptr);
      break;
    }
    case Cal3DKind::Animation: {
      CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(bytes, skeleton.get());
      if (!read) Fail("Cal3D refused a translated animation");
      Exercise(skeleton.get(), nullptr, read.get());
      rigweave::FreeTracks(*read);
      break;
    }
    case Cal3DKind::Mesh: {
      CalCoreMeshPtr read = rigweave::ReadCoreMesh(bytes, false, context.morphTargets);
      if (!read) Fail("Cal3D refused a translated mesh or its morph targets");
      Exercise(skeleton.get(), read.get(), nullptr);
      break;
    }
    case Cal3DKind::Material:
      if (!rigweave::ReadCoreMaterial(bytes)) Fail("Cal3D refused a translated material");
      break;
  }
  return 0;
}
