#include "support/cal3d_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "formats/config.h"
#include "render/engine_space.h"

namespace rwtest {

bool ReferenceCharacter::Load(const std::string& root, const std::string& config) {
  const std::string folder = root + "/models/";
  return rwsupport::ReadCharacterFiles(folder, config, files_) &&
         Cal3DCharacter::Load(folder, files_, false);
}

std::vector<std::string> ReferenceCharacter::Animations() const {
  std::vector<std::string> names;
  for (const std::string& file : files_.animations)
    names.emplace_back(rigweave::AnimationNameFromFile(file));
  return names;
}

std::vector<std::vector<csVector3>> ReferenceCharacter::Vertices(double perUnit) {
  std::vector<std::vector<csVector3>> result;
  CalRenderer* renderer = Model()->getRenderer();
  if (!renderer->beginRendering()) return result;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++)
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      std::vector<csVector3> vertices(static_cast<size_t>(renderer->getVertexCount()));
      if (!vertices.empty()) renderer->getVertices(&vertices[0].x);
      rigweave::EngineSpaceJob turn;
      turn.input = vertices;
      turn.output = vertices;
      turn.scale = static_cast<float>(files_.scale * perUnit);
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
