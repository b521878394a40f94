// The null backend: it counts and keeps nothing.
#include <gtest/gtest.h>

#include "engine/backend_null.h"
#include "engine/graphics3d.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

TEST_F(EngineTest, NullBackendCountsWithoutKeepingAnything) {
  NullBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  Triangle tri(g3d.get());
  g3d->BeginDraw();
  tri.Lock();
  g3d->DrawTriangleMesh(tri.record);
  g3d->DrawTriangleMesh(tri.record);
  tri.Unlock();
  g3d->FinishDraw();
  EXPECT_EQ(backend.frames, 1);
  EXPECT_EQ(backend.draws, 2);
  EXPECT_EQ(backend.triangles, 2);
}

}  // namespace
}  // namespace rwengine
