// The camera: its focal length follows the field of view.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/camera.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

TEST_F(EngineTest, FocalLengthFollowsTheFieldOfView) {
  auto camera = Make(new Camera);
  EXPECT_FLOAT_EQ(camera->GetFOVAngle(), 60.0f);
  EXPECT_NEAR(camera->FocalLength(640), 320.0f / std::tan(30.0f * kHalfPi / 90.0f), 1e-3f);
  camera->SetFOVAngle(90.0f);
  EXPECT_NEAR(camera->FocalLength(640), 320.0f, 1e-3f);
  camera->SetFOVAngle(0.0f);
  camera->SetFOVAngle(180.0f);
  EXPECT_FLOAT_EQ(camera->GetFOVAngle(), 90.0f);
  // The renderer starts with the default camera's projection.
  auto g3d = Make(new Graphics3D(640, 480));
  EXPECT_NEAR(g3d->GetPerspectiveAspect(), Make(new Camera)->FocalLength(640), 1e-3f);
  EXPECT_EQ(g3d->GetProjection().centerX, 320);
  EXPECT_EQ(g3d->GetProjection().centerY, 240);
}

}  // namespace
}  // namespace rwengine
