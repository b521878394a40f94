// Movables: where an object stands, and its parent's transform applied first.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/camera.h"
#include "engine/movable.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

TEST_F(EngineTest, ObjectPointReachesCameraSpaceThroughMovableAndCamera) {
  auto camera = Make(new Camera);
  auto movable = Make(new Movable);
  // Turned a quarter about y: the object's +x axis points along world +z.
  movable->SetTransform(csReversibleTransform(csYRotMatrix3(kHalfPi), csVector3(1, 0, 5)));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(1, 0, 6));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(0, 2, 0)),
             csVector3(1, 2, 5));

  // Stepping the camera back pushes everything deeper; SetPosition keeps the turn.
  camera->GetTransform().SetOrigin(csVector3(0, 0, -4));
  movable->SetPosition(csVector3(1, 0, 5));
  ExpectNear(movable->GetPosition(), csVector3(1, 0, 5));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(1, 0, 10));

  // A camera looking down -z from the front sees the object's right on its left.
  csOrthoTransform facing(csMatrix3(), csVector3(0, 0, 20));
  facing.LookAt(csVector3(0, 0, 0), csVector3(0, 1, 0));
  camera->SetTransform(facing);
  movable->SetTransform(csReversibleTransform(csMatrix3(), csVector3(0, 0, 0)));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(-1, 0, 20));
}

TEST_F(EngineTest, ParentTransformIsAppliedBeforeTheChild) {
  auto parent = Make(new Movable);
  parent->SetTransform(csReversibleTransform(csYRotMatrix3(kHalfPi), csVector3(10, 0, 0)));
  auto child = Make(new Movable(parent.get()));
  child->SetPosition(csVector3(0, 0, 1));
  // One unit along the parent's z, which the parent's turn points along world -x.
  ExpectNear(child->GetFullTransform().This2Other(csVector3(0, 0, 0)), csVector3(9, 0, 0));
  ExpectNear(child->GetTransform().This2Other(csVector3(0, 0, 0)), csVector3(0, 0, 1));

  // A cycle is refused rather than recursing forever.
  parent->SetParent(child.get());
  EXPECT_EQ(parent->GetParent(), nullptr);
  child->SetParent(nullptr);
}

}  // namespace
}  // namespace rwengine
