// The recording backend: what the renderer hands it, copied at the moment of each call.
#include <gtest/gtest.h>

#include <vector>

#include "engine/backend_recording.h"
#include "engine/materials.h"
#include "engine/graphics3d.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;
using Kind = RecordedCall::Kind;

TEST_F(EngineTest, RecordingBackendCopiesGeometryAtDrawTime) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D(320, 200));
  g3d->SetBackend(&backend);
  auto texture = Make(new TextureHandle(nullptr));
  auto material = Make(new MaterialHandle(texture.get()));
  Triangle tri(g3d.get());
  tri.record.mat_handle = material.get();
  tri.record.do_mirror = true;

  const csReversibleTransform o2c(csMatrix3(), csVector3(0, 0, -7));
  ASSERT_TRUE(g3d->BeginDraw());
  g3d->SetObjectToCamera(o2c);
  EXPECT_TRUE(g3d->SetRenderState(G3DRENDERSTATE_ZBUFFERMODE, CS_ZBUF_USE));
  tri.Lock();
  g3d->DrawTriangleMesh(tri.record);
  // The module reuses its scratch arrays right after each draw.
  tri.vertices[1] = csVector3(9, 9, 9);
  tri.texels[1] = csVector2(5, 5);
  tri.colors[1] = {0, 0, 0};
  tri.triangles[0] = {2, 1, 0};
  tri.record.mat_handle = nullptr;
  g3d->SetObjectToCamera(csReversibleTransform());
  tri.Unlock();
  g3d->FinishDraw();

  EXPECT_EQ(g3d->DrawsAccepted(), 1);
  const std::vector<const RecordedCall*> draws = backend.Of(Kind::Draw);
  ASSERT_EQ(draws.size(), 1u);
  const RecordedCall& draw = *draws[0];
  ASSERT_EQ(draw.count, 3);
  ASSERT_EQ(draw.vertices.size(), 3u);
  ExpectNear(draw.vertices[1], csVector3(1, 0, 1));
  ASSERT_EQ(draw.texels.size(), 3u);
  EXPECT_FLOAT_EQ(draw.texels[1].x, 1.0f);
  ASSERT_EQ(draw.colors.size(), 3u);
  EXPECT_FLOAT_EQ(draw.colors[1].green, 1.0f);
  ASSERT_EQ(draw.triangles.size(), 1u);
  EXPECT_EQ(draw.triangles[0].a, 0);
  EXPECT_EQ(draw.material, material.get());
  EXPECT_TRUE(draw.record.do_mirror);
  EXPECT_EQ(draw.zbufMode, CS_ZBUF_USE);
  ExpectNear(draw.transform.Other2This(csVector3(0, 0, 0)), csVector3(0, 0, 7));
  EXPECT_EQ(draw.projection.width, 320);
  EXPECT_EQ(draw.projection.centerY, 100);
  EXPECT_FLOAT_EQ(draw.projection.aspect, g3d->GetPerspectiveAspect());

  // Everything in the order it happened.
  std::vector<Kind> kinds;
  for (const RecordedCall& call : backend.Calls()) kinds.push_back(call.kind);
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::BeginFrame, Kind::ObjectToCamera, Kind::RenderState,
                                      Kind::Lock, Kind::Draw, Kind::ObjectToCamera, Kind::Unlock,
                                      Kind::EndFrame}));
  EXPECT_EQ(backend.Calls()[0].width, 320);
  backend.Clear();
  EXPECT_TRUE(backend.Calls().empty());
}

}  // namespace
}  // namespace rwengine
