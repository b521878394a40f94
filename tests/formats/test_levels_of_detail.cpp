// The level-of-detail check decides for all levels at once what Cal3D would
// do level by level. Here it is held against Cal3D's own walk, simulated at
// every level with its exact rules, on many small random sub-meshes: the
// check may refuse only what goes wrong at some level, and must refuse
// everything that does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"

namespace {

struct Submesh {
  int32_t vertexCount = 0;
  int32_t lodCount = 0;
  std::vector<int32_t> collapseIds, faceCollapses, faces;
};

// CalSubmesh::setLodLevel at every vertex count V it can be set to, with a
// step bound in place of a hang. True when every kept face gets indices in
// [0, V).
bool SafeAtEveryLevel(const Submesh& s) {
  const int32_t faceCount = static_cast<int32_t>(s.faces.size() / 3);
  for (int32_t v = s.vertexCount - s.lodCount; v <= s.vertexCount; v++) {
    int64_t kept = faceCount;
    for (int32_t dropped = s.vertexCount - 1; dropped >= v; dropped--)
      kept -= s.faceCollapses[static_cast<size_t>(dropped)];
    if (kept < 0 || kept > faceCount) return false;
    for (int64_t corner = 0; corner < 3 * kept; corner++) {
      int32_t id = s.faces[static_cast<size_t>(corner)];
      for (int steps = 0; id >= v; steps++) {
        if (id >= s.vertexCount || steps > s.vertexCount) return false;
        id = s.collapseIds[static_cast<size_t>(id)];
      }
      if (id < 0) return false;
    }
  }
  return true;
}

const char* Check(const Submesh& s) {
  return rigweave::CheckLevelsOfDetail(s.vertexCount, s.lodCount, s.collapseIds, s.faceCollapses,
                                       s.faces);
}

// Mostly well-formed progressive meshes (collapse ids to lower vertices or
// -1, non-negative face counts), with every kind of fault mixed in.
Submesh Random(std::mt19937& random) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  Submesh s;
  s.vertexCount = pick(1, 9);
  s.lodCount = pick(0, s.vertexCount);
  const int faceCount = pick(0, 8);
  for (int i = 0; i < 3 * faceCount; i++) s.faces.push_back(pick(0, s.vertexCount - 1));
  for (int v = 0; v < s.vertexCount; v++) {
    const int kind = pick(0, 19);
    int32_t id = kind < 12 ? pick(0, v > 0 ? v - 1 : 0) : -1;
    if (kind == 17) id = pick(v, s.vertexCount - 1);  // onto a later vertex, maybe a cycle
    if (kind == 18) id = s.vertexCount + pick(0, 2);  // past the vertices
    if (kind == 19) id = -pick(2, 5);
    s.collapseIds.push_back(id);
    s.faceCollapses.push_back(pick(0, 9) == 0 ? pick(-1, 3) : pick(0, 2));
  }
  return s;
}

TEST(LevelsOfDetail, CheckAgreesWithCal3DsWalkAtEveryLevel) {
  std::mt19937 random(20261208);
  int refused = 0, accepted = 0;
  for (int i = 0; i < 200000; i++) {
    const Submesh s = Random(random);
    const bool safe = SafeAtEveryLevel(s);
    const char* reason = Check(s);
    ASSERT_EQ(reason == nullptr, safe)
        << "case " << i << ": " << (reason ? reason : "accepted") << ", vertices " << s.vertexCount
        << ", lod count " << s.lodCount;
    (safe ? accepted : refused)++;
  }
  // Both answers must be common for the comparison to mean something.
  EXPECT_GT(accepted, 20000);
  EXPECT_GT(refused, 20000);
}

// A sub-mesh shaped like exporters' output: one strip of `quads` squares
// collapsed from the far end, each vertex onto its neighbour across the
// strip's length, the last one left a root.
Submesh CollapsedStrip(int quads, int lodCount) {
  Submesh s;
  s.vertexCount = 2 * (quads + 1);
  s.lodCount = lodCount;
  for (int q = 0; q < quads; q++) {
    const int a = 2 * q;
    s.faces.insert(s.faces.end(), {a, a + 2, a + 3, a, a + 3, a + 1});
  }
  // Vertex v (v >= 2) collapses onto v - 2 and takes one face of the last
  // quad left; 1 collapses onto 0 with no face left, and 0 is the root.
  for (int v = 0; v < s.vertexCount; v++) {
    s.collapseIds.push_back(v >= 2 ? v - 2 : (v == 1 ? 0 : -1));
    s.faceCollapses.push_back(v >= 2 ? 1 : 0);
  }
  return s;
}

TEST(LevelsOfDetail, ExportedShapesPassAndOneBrokenLinkIsFound) {
  for (int lod : {0, 1, 5, 21, 22}) {
    SCOPED_TRACE("lod count " + std::to_string(lod));
    Submesh s = CollapsedStrip(10, lod);
    ASSERT_TRUE(SafeAtEveryLevel(s));
    EXPECT_EQ(Check(s), nullptr);
  }
  // Vertex 9 made a root: faces that still need it at some level break.
  Submesh broken = CollapsedStrip(10, 22);
  broken.collapseIds[9] = -1;
  ASSERT_FALSE(SafeAtEveryLevel(broken));
  EXPECT_NE(Check(broken), nullptr);
}

TEST(LevelsOfDetail, LargeSubmeshesAreCheckedInLinearTime) {
  // 600,000 vertices in one chain: a check that walks chains per face or per
  // level would take minutes here.
  Submesh s = CollapsedStrip(299999, 600000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Check(s), nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
}

}  // namespace
