// The view: fog for exactly the locked vertices, and clipping it decides on.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/backend_recording.h"
#include "engine/camera.h"
#include "engine/graphics3d.h"
#include "engine/render_view.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;
using Kind = RecordedCall::Kind;

TEST_F(EngineTest, FogFillsExactlyTheLockedVertices) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  auto view = Make(new RenderView(g3d.get(), Make(new Camera).get()));
  Triangle tri(g3d.get());
  const G3DFogInfo sentinel{7, 7, 7, 7};
  for (G3DFogInfo& f : tri.fog) f = sentinel;

  tri.record.do_fog = true;
  tri.Lock(2);
  view->CalculateFogMesh(csReversibleTransform(), tri.record);
  // No fog in the view: the record says so and no value is written.
  EXPECT_FALSE(tri.record.do_fog);
  EXPECT_FLOAT_EQ(tri.fog[0].intensity, 7.0f);

  view->SetFog({0.5f, 0.25f, 1.0f}, 0.5f);
  // Vertex 0 sits at camera depth 3, vertex 1 behind the eye.
  tri.vertices[1] = csVector3(0, 0, -5);
  view->CalculateFogMesh(csReversibleTransform(csMatrix3(), csVector3(0, 0, -2)), tri.record);
  EXPECT_TRUE(tri.record.do_fog);
  EXPECT_NEAR(tri.fog[0].intensity, 1.0f - std::exp(-0.5f * 3.0f), 1e-5f);
  EXPECT_FLOAT_EQ(tri.fog[0].g, 0.25f);
  EXPECT_FLOAT_EQ(tri.fog[1].intensity, 0.0f);
  EXPECT_FLOAT_EQ(tri.fog[2].intensity, 7.0f);
  tri.Unlock();

  // Nothing locked: nothing written.
  tri.fog[0] = sentinel;
  view->CalculateFogMesh(csReversibleTransform(), tri.record);
  EXPECT_FLOAT_EQ(tri.fog[0].intensity, 7.0f);

  const std::vector<const RecordedCall*> fogs = backend.Of(Kind::Fog);
  ASSERT_EQ(fogs.size(), 3u);
  EXPECT_EQ(fogs[0]->count, 2);
  EXPECT_EQ(fogs[0]->fogRecord, &tri.record);
  EXPECT_TRUE(fogs[1]->doFog);
  EXPECT_EQ(fogs[1]->fog.size(), 2u);
  EXPECT_EQ(fogs[2]->count, 0);
}

TEST_F(EngineTest, ClipBBoxClipsNothingUnlessToldOtherwise) {
  auto view = Make(new RenderView(Make(new Graphics3D).get(), Make(new Camera).get()));
  int portal = 5, plane = 5, zplane = 5;
  EXPECT_TRUE(view->ClipBBox(csBox2(), csBox3(), portal, plane, zplane));
  EXPECT_EQ(portal + plane + zplane, 0);
  EXPECT_EQ(view->clipBBoxCalls, 1);
  view->SetClipping(1, 2, 3);
  EXPECT_TRUE(view->ClipBBox(csBox2(), csBox3(), portal, plane, zplane));
  EXPECT_EQ(portal, 1);
  EXPECT_EQ(plane, 2);
  EXPECT_EQ(zplane, 3);
}

}  // namespace
}  // namespace rwengine
