// Helpers shared by the tests of the stand-in engine's units.
#pragma once

#include <gtest/gtest.h>

#include "engine/graphics3d.h"
#include "engine/live_objects.h"
#include "host/math_types.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwengine {
namespace test {

constexpr float kHalfPi = 1.57079632679489661923f;

template <class T>
csRef<T> Make(T* object) {
  return csRef<T>::Adopt(object);
}

inline void ExpectNear(const csVector3& actual, const csVector3& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-4f);
  EXPECT_NEAR(actual.y, expected.y, 1e-4f);
  EXPECT_NEAR(actual.z, expected.z, 1e-4f);
}

// The object-to-camera transform exactly as the module builds it in DrawTest.
inline csReversibleTransform ObjectToCamera(iCamera* camera, iMovable* movable) {
  return camera->GetTransform() / movable->GetFullTransform();
}

// Every engine class must be back to no instances when a test ends.
class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& [name, count] : LiveObjects::Snapshot())
      EXPECT_EQ(count, 0) << name << " instances left alive";
  }
};

// A client of a vertex buffer manager that counts what it is told.
class CountingClient : public scfImplementation<CountingClient, iVertexBufferManagerClient> {
 public:
  explicit CountingClient(iVertexBufferManager* manager) : manager_(manager) {}
  ~CountingClient() override {
    if (manager_ != nullptr) manager_->RemoveClient(this);
  }
  // Like a mesh object: the manager may be gone once it has said so.
  void ManagerClosing() override {
    closings++;
    manager_ = nullptr;
    if (victim != nullptr) std::exchange(victim, nullptr)->DecRef();
  }
  int closings = 0;
  // Released on the first notification, like a mesh object that owns another.
  iBase* victim = nullptr;

 private:
  iVertexBufferManager* manager_;
};

// A single triangle locked into a buffer of the renderer, as the module draws.
struct Triangle {
  explicit Triangle(Graphics3D* g3d)
      : manager(g3d->GetVertexBufferManager()), buffer(Make(manager->CreateBuffer(0))) {
    record.num_vertices_pool = 1;
    record.num_triangles = 1;
    record.triangles = triangles;
    record.buffers[0] = buffer.get();
    record.vertex_fog = fog;
  }
  void Lock(int count = 3) {
    manager->LockBuffer(buffer.get(), vertices, texels, colors, count, 0);
  }
  void Unlock() { manager->UnlockBuffer(buffer.get()); }

  iVertexBufferManager* manager;
  csRef<iVertexBuffer> buffer;
  csVector3 vertices[3] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
  csVector2 texels[3] = {{0, 0}, {1, 0}, {0, 1}};
  csColor colors[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  csTriangle triangles[1] = {{0, 1, 2}};
  G3DFogInfo fog[4] = {};
  G3DTriangleMesh record{};
};

}  // namespace test
}  // namespace rwengine
