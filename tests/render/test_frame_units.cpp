// The frame's units on their own: the turn into engine space, the face
// reversal and the box mesh, in place and apart, and what they refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "render/box_mesh.h"
#include "render/engine_space.h"
#include "render/face_reversal.h"
#include "render/limits.h"

namespace {

using rigweave::BoxMesh;
using rigweave::EngineSpaceJob;
using rigweave::FaceReversalJob;

// Values whose rounding shows the order of operations, signed zeros and
// infinities, so that four-at-a-time lanes must match one-at-a-time bits.
std::vector<csVector3> Awkward(int count) {
  const float values[] = {0.0f,  -0.0f,   1.0f,     -3.5f,
                          1e30f, -1e-30f, 123.456f, std::numeric_limits<float>::infinity(),
                          7.25f, -0.1f};
  std::vector<csVector3> vertices;
  for (int i = 0; i < count; i++)
    vertices.emplace_back(values[i % 10], values[(i * 3 + 1) % 10], values[(i * 7 + 2) % 10]);
  return vertices;
}

bool SameBits(const csVector3& a, const csVector3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(EngineSpaceJob, EveryLaneGivesTheBitsOfTheTurnOneVertexAtATime) {
  const rigweave::AxisTurn& turn = rigweave::GetAxisTurn();
  EXPECT_EQ(turn.sine, static_cast<float>(std::sin(static_cast<double>(-1.57f))));
  EXPECT_EQ(turn.cosine, static_cast<float>(std::cos(static_cast<double>(-1.57f))));
  for (int count : {0, 1, 3, 4, 5, 8, 11, 40}) {
    const std::vector<csVector3> model = Awkward(count);
    std::vector<csVector3> apart(model.size()), inPlace = model;
    EngineSpaceJob job;
    job.scale = 0.02f;
    job.input = model;
    job.output = apart;
    ASSERT_TRUE(job.Run());
    job.input = inPlace;
    job.output = inPlace;
    ASSERT_TRUE(job.Run());
    for (int i = 0; i < count; i++) {
      const csVector3& v = model[i];
      const float x = v.x * 0.02f, y = v.y * 0.02f, z = v.z * 0.02f;
      const csVector3 expected(x, turn.cosine * y - turn.sine * z, turn.sine * y + turn.cosine * z);
      EXPECT_TRUE(SameBits(apart[i], expected)) << count << " vertices, vertex " << i;
      EXPECT_TRUE(SameBits(inPlace[i], expected)) << count << " vertices, vertex " << i;
    }
  }
}

TEST(EngineSpaceJob, RefusesWhatItCannotDoAndTouchesNothingThen) {
  std::vector<csVector3> storage(rigweave::kMaxSubmeshVertices + 1, csVector3(1, 2, 3));
  const csVector3* base = storage.data();
  EngineSpaceJob good;
  good.input = {base, 8};
  good.output = {storage.data() + 8, 8};
  ASSERT_TRUE(good.Validate());

  std::vector<EngineSpaceJob> bad(5, good);
  bad[0].output.size = 7;                   // not as many as the input
  bad[1].output.data = storage.data() + 4;  // overlapping the input, not on it
  bad[2].input = {base, storage.size()};    // one past the capacity, in place
  bad[2].output = {storage.data(), storage.size()};
  bad[3].input.data = nullptr;
  bad[4].output.data = nullptr;
  for (const EngineSpaceJob& job : bad) {
    EXPECT_FALSE(job.Validate());
    EXPECT_FALSE(job.Run());
  }
  for (const csVector3& v : storage) ASSERT_TRUE(SameBits(v, csVector3(1, 2, 3)));
  // Exactly the capacity, in place, is fine.
  good.input = {base, static_cast<size_t>(rigweave::kMaxSubmeshVertices)};
  good.output = {storage.data(), static_cast<size_t>(rigweave::kMaxSubmeshVertices)};
  EXPECT_TRUE(good.Run());
}

TEST(FaceReversalJob, TurnsEveryTriangleRoundInPlaceOrApart) {
  for (int count : {0, 1, 4, 6, 9}) {
    std::vector<csTriangle> faces;
    for (int i = 0; i < count; i++) faces.push_back({3 * i, 3 * i + 1, -3 * i - 2});
    std::vector<csTriangle> apart(faces.size()), inPlace = faces;
    FaceReversalJob job;
    job.input = faces;
    job.output = apart;
    ASSERT_TRUE(job.Run());
    job.input = inPlace;
    job.output = inPlace;
    ASSERT_TRUE(job.Run());
    for (int i = 0; i < count; i++) {
      for (const csTriangle& turned : {apart[i], inPlace[i]}) {
        EXPECT_EQ(turned.a, faces[i].a);
        EXPECT_EQ(turned.b, faces[i].c);
        EXPECT_EQ(turned.c, faces[i].b);
      }
    }
  }

  std::vector<csTriangle> storage(rigweave::kMaxSubmeshFaces + 1, csTriangle{1, 2, 3});
  // Exactly the capacity, which the load accepts, is turned round.
  FaceReversalJob full;
  full.input = {storage.data(), static_cast<size_t>(rigweave::kMaxSubmeshFaces)};
  full.output = {storage.data(), static_cast<size_t>(rigweave::kMaxSubmeshFaces)};
  ASSERT_TRUE(full.Run());
  EXPECT_EQ(storage[rigweave::kMaxSubmeshFaces - 1].b, 3);
  ASSERT_TRUE(full.Run());
  FaceReversalJob bad;
  bad.input = {storage.data(), storage.size()};
  bad.output = {storage.data(), storage.size()};  // one past the capacity
  EXPECT_FALSE(bad.Run());
  bad.input = {storage.data(), 8};
  bad.output = {storage.data() + 4, 8};  // overlapping
  EXPECT_FALSE(bad.Run());
  bad.output = {storage.data() + 8, 7};
  EXPECT_FALSE(bad.Run());
  for (const csTriangle& face : storage) ASSERT_EQ(face.b, 2);
}

TEST(BoxMesh, CornersFollowTheEngineNumberingAndEveryFaceLooksOut) {
  const BoxMesh empty;
  for (int i = 0; i < BoxMesh::kCorners; i++) EXPECT_TRUE(SameBits(empty.Corners()[i], {}));

  const csBox3 bounds(csVector3(-1, 2, -3), csVector3(4, 5, 6));
  BoxMesh box(bounds);
  for (int i = 0; i < BoxMesh::kCorners; i++)
    EXPECT_TRUE(SameBits(box.Corners()[i], bounds.GetCorner(i))) << i;
  const csVector3 centre = bounds.GetCenter();
  for (int f = 0; f < BoxMesh::kFaces; f++) {
    const csMeshedPolygon& face = box.Faces()[f];
    ASSERT_EQ(face.num_vertices, 4);
    const csVector3 a = box.Corners()[face.vertices[0]], b = box.Corners()[face.vertices[1]],
                    c = box.Corners()[face.vertices[2]];
    EXPECT_GT(Dot(Cross(b - a, c - b), a - centre), 0) << "face " << f;
  }

  // A copy serves its own storage, so the original may go.
  BoxMesh copy(empty);
  copy = box;
  box = BoxMesh();
  const auto* begin = reinterpret_cast<const char*>(&copy);
  for (int f = 0; f < BoxMesh::kFaces; f++) {
    const auto* indices = reinterpret_cast<const char*>(copy.Faces()[f].vertices);
    EXPECT_TRUE(indices >= begin && indices + 4 * sizeof(int32_t) <= begin + sizeof copy) << f;
  }
  EXPECT_TRUE(SameBits(copy.Corners()[7], bounds.GetCorner(7)));
  EXPECT_EQ(copy.Faces()[1].vertices[2], 7);
}

}  // namespace
