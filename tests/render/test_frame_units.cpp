// The frame's units on their own: the turn into engine space, the face
// reversal, the box mesh and the vertex light, in place and apart, and what
// they refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "render/box_mesh.h"
#include "render/engine_space.h"
#include "render/face_reversal.h"
#include "render/lighting_job.h"
#include "render/limits.h"

namespace {

using rigweave::BoxMesh;
using rigweave::EngineSpaceJob;
using rigweave::FaceReversalJob;
using rigweave::LightingJob;
using rigweave::VertexLight;

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

// The colour the lighting job documents, worked out in double precision.
csColor ByHand(const csVector3& p, const csVector3& n, const std::vector<VertexLight>& lights,
               const csColor& ambient, const csColor& diffuse) {
  double rgb[3] = {ambient.red * diffuse.red, ambient.green * diffuse.green,
                   ambient.blue * diffuse.blue};
  for (const VertexLight& light : lights) {
    const double dx = light.center.x - p.x, dy = light.center.y - p.y, dz = light.center.z - p.z;
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double facing = d > 0 ? std::max(0.0, (n.x * dx + n.y * dy + n.z * dz) / d) : 0.0;
    double brightness = 1.0;
    if (light.attenuation == CS_ATTN_LINEAR)
      brightness = light.radius > 0 ? std::max(0.0, 1.0 - d / light.radius) : 0.0;
    if (light.attenuation == CS_ATTN_INVERSE) brightness = 1.0 / d;
    if (light.attenuation == CS_ATTN_REALISTIC) brightness = 1.0 / (d * d);
    const double share = facing > 0 ? facing * brightness : 0.0;
    rgb[0] += diffuse.red * light.color.red * share;
    rgb[1] += diffuse.green * light.color.green * share;
    rgb[2] += diffuse.blue * light.color.blue * share;
  }
  return {static_cast<float>(rgb[0]), static_cast<float>(rgb[1]), static_cast<float>(rgb[2])};
}

TEST(LightingJob, EveryVertexGetsItsColourFromEveryKindOfLightAtEveryCount) {
  // Lit from the front, the back and the side, up close and beyond a
  // radius; one vertex sits on a light's centre, one linear light has no
  // radius and reaches nothing.
  const std::vector<VertexLight> lights = {
      {csVector3(0, 0, 10), {1.0f, 0.5f, 0.25f}, CS_ATTN_NONE, 0.0f},
      {csVector3(3, -2, 4), {0.5f, 1.0f, 0.5f}, CS_ATTN_LINEAR, 9.0f},
      {csVector3(-6, 1, 2), {0.25f, 0.25f, 1.0f}, CS_ATTN_INVERSE, 0.0f},
      {csVector3(1, 1, -3), {2.0f, 2.0f, 2.0f}, CS_ATTN_REALISTIC, 0.0f},
      {csVector3(0, 0, 1), {5.0f, 5.0f, 5.0f}, CS_ATTN_LINEAR, 0.0f}};
  const csColor ambient{0.125f, 0.25f, 0.0625f}, diffuse{0.75f, 0.5f, 1.0f};
  for (int count : {0, 1, 3, 4, 5, 8, 11, 64}) {
    std::vector<csVector3> positions, normals;
    for (int i = 0; i < count; i++) {
      const float a = 0.7f * static_cast<float>(i);
      positions.emplace_back(std::sin(a) * 4, std::cos(a) * 3, static_cast<float>(i % 5) - 2);
      const csVector3 n(std::cos(a), std::sin(a * 1.3f), (i % 3) - 1.0f);
      normals.push_back(n * (1.0f / std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z)));
    }
    if (count > 2) positions[2] = lights[2].center;
    std::vector<csColor> output(static_cast<size_t>(count) + 1, csColor{-1, -1, -1});
    LightingJob job;
    job.positions = positions;
    job.normals = normals;
    job.setting.lights = lights;
    job.setting.ambient = ambient;
    job.setting.diffuse = diffuse;
    job.output = {output.data(), static_cast<size_t>(count)};
    ASSERT_TRUE(job.Run()) << count;
    for (size_t i = 0; i < positions.size(); i++) {
      const csColor expected = ByHand(positions[i], normals[i], lights, ambient, diffuse);
      const float got[3] = {output[i].red, output[i].green, output[i].blue};
      const float want[3] = {expected.red, expected.green, expected.blue};
      for (int c = 0; c < 3; c++)
        EXPECT_NEAR(got[c], want[c], 1e-5f * std::max(1.0f, std::fabs(want[c])))
            << count << " vertices, vertex " << i << ", channel " << c;
    }
    EXPECT_EQ(output.back().red, -1.0f) << "written past the vertices";
  }
}

TEST(LightingJob, RefusesWhatItCannotDoAndTouchesNothingThen) {
  std::vector<csVector3> positions(8, csVector3(1, 2, 3)), normals(8, csVector3(0, 0, 1));
  std::vector<VertexLight> lights(rigweave::LightSetting::kMaxLights + 1,
                                  VertexLight{csVector3(0, 0, 9), {1, 1, 1}, CS_ATTN_NONE, 0});
  std::vector<csColor> output(8, csColor{-1, -1, -1});
  LightingJob good;
  good.positions = positions;
  good.normals = normals;
  good.setting.lights = {lights.data(), static_cast<size_t>(rigweave::LightSetting::kMaxLights)};
  good.output = output;
  ASSERT_TRUE(good.Validate());

  std::vector<LightingJob> bad(5, good);
  bad[0].setting.lights = lights;  // one light too many
  bad[1].normals.size = 7;
  bad[2].output.size = 7;
  bad[3].output.data = reinterpret_cast<csColor*>(positions.data() + 1);  // over the positions
  bad[4].positions.data = nullptr;
  for (const LightingJob& job : bad) {
    EXPECT_FALSE(job.Validate());
    EXPECT_FALSE(job.Run());
  }
  for (const csColor& c : output) ASSERT_EQ(c.red, -1.0f);
  for (const csVector3& p : positions) ASSERT_TRUE(SameBits(p, csVector3(1, 2, 3)));
}

}  // namespace
