#include "fuzz/cal3d_workout.h"

#include <cstdio>
#include <cstdlib>

namespace rwfuzz {

using rigweave::Cal3DKind;

void Fail(const Cal3DWorkout& workout, const char* what) {
  std::fprintf(stderr, "%s: %s\n", workout.fuzzer, what);
  std::abort();
}

namespace {

void HalfMorphs(CalModel& model) {
  CalMesh* attached = model.getMesh(0);
  for (int s = 0; s < attached->getSubmeshCount(); s++) {
    CalSubmesh* submesh = attached->getSubmesh(s);
    for (int m = 0; m < submesh->getMorphTargetWeightCount(); m++)
      submesh->setMorphTargetWeight(m, 0.5f);
  }
}

void Lower(const Cal3DWorkout& workout, CalModel& model) {
  static std::vector<float> vertices;
  static std::vector<CalIndex> faces;
  for (int step = workout.levelSteps; step >= 0; step--) {
    model.setLodLevel(static_cast<float>(step) / static_cast<float>(workout.levelSteps));
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
          Fail(workout, "a checked mesh gave a face index out of range");
    }
    renderer->endRendering();
  }
}

void Exercise(const Cal3DWorkout& workout, CalCoreSkeleton* skeleton, CalCoreMesh* mesh,
              CalCoreAnimation* animation) {
  CalCoreModel core("fuzz");
  core.setCoreSkeleton(skeleton);
  if (mesh != nullptr) core.addCoreMesh(mesh);
  if (animation != nullptr) core.addCoreAnimation(animation);
  CalModel model(&core);
  if (mesh != nullptr) model.attachMesh(0);
  if (animation != nullptr) model.getMixer()->blendCycle(0, 1.0f, 0.0f);
  model.update(0.3f);
  if (mesh == nullptr) return;
  HalfMorphs(model);
  Lower(workout, model);
}

}  // namespace

void ReadAndExercise(const Cal3DWorkout& workout, Cal3DKind kind, std::vector<uint8_t>& bytes) {
  switch (kind) {
    case Cal3DKind::Skeleton: {
      CalCoreSkeletonPtr read = rigweave::ReadCoreSkeleton(bytes);
      if (!read) Fail(workout, "Cal3D refused a checked skeleton");
      Exercise(workout, read.get(), nullptr, nullptr);
      break;
    }
    case Cal3DKind::Animation: {
      CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(bytes, workout.skeleton);
      if (!read) Fail(workout, "Cal3D refused a checked animation");
      Exercise(workout, workout.skeleton, nullptr, read.get());
      rigweave::FreeTracks(*read);
      break;
    }
    case Cal3DKind::Mesh: {
      CalCoreMeshPtr read = rigweave::ReadCoreMesh(bytes, workout.xml, workout.morphTargets);
      if (!read) Fail(workout, "Cal3D refused a checked mesh or its morph targets");
      Exercise(workout, workout.skeleton, read.get(), nullptr);
      break;
    }
    case Cal3DKind::Material:
      if (!rigweave::ReadCoreMaterial(bytes)) Fail(workout, "Cal3D refused a checked material");
      break;
  }
}

}  // namespace rwfuzz
