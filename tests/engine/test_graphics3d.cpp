// The renderer: records a backend could not draw safely are dropped, and closing it takes buffers
// back.
#include <gtest/gtest.h>

#include <vector>

#include "engine/backend_recording.h"
#include "engine/graphics3d.h"
#include "engine/vertex_buffer.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;
using Kind = RecordedCall::Kind;

TEST_F(EngineTest, RecordsABackendCouldNotDrawSafelyAreDropped) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  Triangle tri(g3d.get());

  g3d->DrawTriangleMesh(tri.record);  // not locked
  tri.Lock(2);
  g3d->DrawTriangleMesh(tri.record);  // index 2 lies outside two vertices
  tri.Unlock();
  tri.Lock();
  tri.record.triangles = nullptr;
  g3d->DrawTriangleMesh(tri.record);
  tri.record.triangles = tri.triangles;
  tri.record.do_fog = true;
  tri.record.vertex_fog = nullptr;
  g3d->DrawTriangleMesh(tri.record);
  tri.record.do_fog = false;
  auto other = Make(new Graphics3D);
  tri.record.buffers[0] = other->GetVertexBufferManager()->CreateBuffer(0);
  g3d->DrawTriangleMesh(tri.record);
  tri.record.buffers[0]->DecRef();
  tri.record.buffers[0] = tri.buffer.get();
  tri.Unlock();

  EXPECT_EQ(g3d->DrawsRejected(), 5);
  EXPECT_EQ(g3d->DrawsAccepted(), 0);
  EXPECT_EQ(backend.CountOf(Kind::Draw), 0u);

  // Render states outside the table are refused, not written past it.
  EXPECT_FALSE(g3d->SetRenderState(static_cast<G3D_RENDERSTATEOPTION>(-1), 1));
  EXPECT_FALSE(
      g3d->SetRenderState(static_cast<G3D_RENDERSTATEOPTION>(Graphics3D::kRenderStateCount), 1));
  EXPECT_TRUE(g3d->SetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE, CS_ZBUF_TEST));
  EXPECT_EQ(g3d->GetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE), CS_ZBUF_TEST);
}

TEST_F(EngineTest, ClosingTheRendererTellsClientsAndOpenLetsThemBack) {
  auto g3d = Make(new Graphics3D);
  iVertexBufferManager* manager = g3d->GetVertexBufferManager();
  const int32_t refs = g3d->GetManager()->GetRefCount();
  auto client = Make(new CountingClient(manager));
  manager->AddClient(client.get());
  EXPECT_EQ(g3d->GetManager()->GetRefCount(), refs);  // handed out without a reference

  g3d->Close();
  EXPECT_EQ(client->closings, 1);
  EXPECT_FALSE(g3d->BeginDraw());
  EXPECT_EQ(manager->CreateBuffer(0), nullptr);
  EXPECT_TRUE(g3d->Open());
  EXPECT_TRUE(g3d->BeginDraw());
  auto buffer = Make(manager->CreateBuffer(0));
  EXPECT_TRUE(buffer);

  // A renderer going away tells the clients still registered.
  client = Make(new CountingClient(manager));
  manager->AddClient(client.get());
  g3d.reset();
  EXPECT_EQ(client->closings, 1);
}

}  // namespace
}  // namespace rwengine
