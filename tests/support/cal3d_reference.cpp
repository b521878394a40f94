#include "support/cal3d_reference.h"

#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "formats/config.h"
#include "render/engine_space.h"
#include "support/files.h"

namespace rwtest {

ReferenceCharacter::~ReferenceCharacter() {
  model_.reset();
  if (!core_) return;
  // Cal3D does not free an animation's tracks with it.
  for (int i = 0; i < core_->getCoreAnimationCount(); i++) {
    for (CalCoreTrack* track : core_->getCoreAnimation(i)->getListCoreTrack()) {
      track->destroy();
      delete track;
    }
    core_->getCoreAnimation(i)->getListCoreTrack().clear();
  }
}

bool ReferenceCharacter::Load(const std::string& root, const std::string& config) {
  const std::string folder = root + "/models/";
  const std::vector<uint8_t> bytes = ReadBytes(folder + config);
  core_ = std::make_unique<CalCoreModel>("reference");
  bool ok = !bytes.empty();
  for (const rigweave::ConfigEntry& entry : rigweave::ParseConfig(bytes).entries) {
    if (!ok) break;
    const std::string path = folder + entry.value;
    switch (entry.key) {
      case rigweave::ConfigKey::Scale:
        scale_ = rigweave::ReadScale(entry.value).scale;
        break;
      case rigweave::ConfigKey::Skeleton:
        ok = core_->loadCoreSkeleton(path);
        break;
      case rigweave::ConfigKey::Animation:
        animations_.emplace_back(rigweave::AnimationNameFromFile(entry.value));
        ok = core_->loadCoreAnimation(path) >= 0;
        break;
      case rigweave::ConfigKey::Mesh:
        ok = core_->loadCoreMesh(path) >= 0;
        break;
      case rigweave::ConfigKey::Material:
      case rigweave::ConfigKey::MorphAnimation:
      case rigweave::ConfigKey::Other:
        break;
    }
  }
  if (!ok || core_->getCoreSkeleton() == nullptr) return false;
  model_ = std::make_unique<CalModel>(core_.get());
  for (int i = 0; i < core_->getCoreMeshCount(); i++)
    if (!model_->attachMesh(i)) return false;
  model_->getSkeleton()->calculateState();
  return true;
}

int ReferenceCharacter::Id(const std::string& name) const {
  // The first of equal names, as the module's table finds them.
  const auto at = std::find(animations_.begin(), animations_.end(), name);
  return at == animations_.end() ? -1 : static_cast<int>(at - animations_.begin());
}

std::vector<std::vector<csVector3>> ReferenceCharacter::Vertices(double perUnit) {
  std::vector<std::vector<csVector3>> result;
  CalRenderer* renderer = model_->getRenderer();
  if (!renderer->beginRendering()) return result;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++)
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      std::vector<csVector3> vertices(static_cast<size_t>(renderer->getVertexCount()));
      if (!vertices.empty()) renderer->getVertices(&vertices[0].x);
      rigweave::EngineSpaceJob turn;
      turn.input = vertices;
      turn.output = vertices;
      turn.scale = static_cast<float>(scale_ * perUnit);
      EXPECT_TRUE(turn.Run());
      result.push_back(std::move(vertices));
    }
  renderer->endRendering();
  return result;
}

std::vector<std::vector<csVector3>> DrawnSubmeshes(const rwengine::RecordingBackend& recorder) {
  std::vector<std::vector<csVector3>> submeshes;
  const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
  EXPECT_EQ(draws.size() % 2, 0u) << "every sub-mesh is drawn twice";
  for (size_t i = 0; i + 1 < draws.size(); i += 2) {
    EXPECT_EQ(Mismatches({draws[i]->vertices}, {draws[i + 1]->vertices}), 0) << "draw " << i;
    submeshes.push_back(draws[i]->vertices);
  }
  return submeshes;
}

long Mismatches(const std::vector<std::vector<csVector3>>& drawn,
                const std::vector<std::vector<csVector3>>& expected) {
  long mismatches = 0;
  for (size_t i = 0; i < std::max(drawn.size(), expected.size()); i++) {
    if (i >= drawn.size() || i >= expected.size()) {
      mismatches += 3 * static_cast<long>(i < drawn.size() ? drawn[i].size() : expected[i].size());
      continue;
    }
    const std::vector<csVector3>& a = drawn[i];
    const std::vector<csVector3>& b = expected[i];
    if (a.size() != b.size()) {
      mismatches += 3 * static_cast<long>(std::max(a.size(), b.size()));
      continue;
    }
    for (size_t v = 0; v < a.size(); v++)
      for (int c = 0; c < 3; c++)
        mismatches += std::memcmp(&a[v].x + c, &b[v].x + c, sizeof(float)) != 0;
  }
  return mismatches;
}

}  // namespace rwtest
