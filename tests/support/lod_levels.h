// Walks a Cal3D sub-mesh through every level of detail its data can reach and
// checks what Cal3D itself hands a renderer at each.
#pragma once

#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <vector>

namespace rwtest {

// A level at which Cal3D drops `dropped` of `lodCount` vertices:
// CalSubmesh::setLodLevel drops (int)((1 - level) * lodCount).
inline float LevelDropping(int dropped, int lodCount) {
  if (dropped >= lodCount) return 0.0f;
  return 1.0f - (static_cast<float>(dropped) + 0.5f) / static_cast<float>(lodCount);
}

// Checks first that each collapse chain leads down or ends in -1, so that
// Cal3D's walk along it ends; then, for every count of dropped vertices from
// 0 to lodCount, that Cal3D keeps that many fewer vertices, that every kept
// face has three distinct corners below the kept vertex count, and that no
// level has more faces than the one above it. `faceCounts` gets the face
// count at each level, the full mesh first.
inline void CheckEveryLevel(CalCoreSubmesh& core, std::vector<int>* faceCounts) {
  const int vertexCount = core.getVertexCount();
  const int faceCount = core.getFaceCount();
  const int lodCount = core.getLodCount();
  ASSERT_GE(lodCount, 0);
  ASSERT_LE(lodCount, vertexCount);
  const auto& vertices = core.getVectorVertex();
  int collapsingFaces = 0;
  for (int v = vertexCount - lodCount; v < vertexCount; v++) {
    const CalCoreSubmesh::Vertex& vertex = vertices[static_cast<size_t>(v)];
    ASSERT_GE(vertex.faceCollapseCount, 0) << "vertex " << v;
    if (vertex.collapseId == -1) {
      ASSERT_EQ(vertex.faceCollapseCount, 0) << "root " << v << " removes faces";
    } else {
      ASSERT_GE(vertex.collapseId, 0) << "vertex " << v;
      ASSERT_LT(vertex.collapseId, v) << "vertex " << v << " collapses upwards";
    }
    collapsingFaces += vertex.faceCollapseCount;
  }
  ASSERT_LE(collapsingFaces, faceCount);

  CalSubmesh submesh(&core);
  std::vector<CalIndex> faces(3 * static_cast<size_t>(faceCount) + 3);
  faceCounts->clear();
  for (int dropped = 0; dropped <= lodCount; dropped++) {
    submesh.setLodLevel(LevelDropping(dropped, lodCount));
    const int kept = vertexCount - dropped;
    ASSERT_EQ(submesh.getVertexCount(), kept) << dropped << " dropped";
    const int drawn = submesh.getFaces(faces.data());
    ASSERT_GE(drawn, 0);
    if (!faceCounts->empty()) {
      ASSERT_LE(drawn, faceCounts->back()) << dropped << " dropped";
    }
    faceCounts->push_back(drawn);
    for (int f = 0; f < drawn; f++) {
      const CalIndex* corner = &faces[3 * static_cast<size_t>(f)];
      for (int k = 0; k < 3; k++) {
        ASSERT_GE(corner[k], 0) << "face " << f << ", " << dropped << " dropped";
        ASSERT_LT(corner[k], kept) << "face " << f << ", " << dropped << " dropped";
      }
      ASSERT_TRUE(corner[0] != corner[1] && corner[1] != corner[2] && corner[0] != corner[2])
          << "face " << f << " degenerate, " << dropped << " dropped";
    }
  }
}

}  // namespace rwtest
