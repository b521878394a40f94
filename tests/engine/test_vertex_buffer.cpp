// Vertex buffers: arrays lent only while locked, and the manager's shutdown told to each client
// once.
#include <gtest/gtest.h>

#include <vector>

#include "engine/backend_recording.h"
#include "engine/vertex_buffer.h"
#include "host/scf_impl.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;
using Kind = RecordedCall::Kind;

TEST_F(EngineTest, CloseTellsEachClientOnceAndForgetsThem) {
  auto manager = Make(new VertexBufferManager);
  auto a = Make(new CountingClient(manager.get()));
  auto b = Make(new CountingClient(manager.get()));
  manager->AddClient(a.get());
  manager->AddClient(b.get());
  manager->AddClient(a.get());
  // Clients are not owned.
  EXPECT_EQ(a->GetRefCount(), 1);

  manager->Close();
  EXPECT_EQ(a->closings, 1);
  EXPECT_EQ(b->closings, 1);
  EXPECT_EQ(manager->ClientCount(), 0);
  manager->Close();
  EXPECT_EQ(a->closings, 1);

  manager->Reopen();
  manager->AddClient(a.get());
  manager->AddClient(b.get());
  manager->RemoveClient(a.get());
  manager->Close();
  EXPECT_EQ(a->closings, 1);
  EXPECT_EQ(b->closings, 2);
}

TEST_F(EngineTest, ClientDestroyedByAnotherDuringCloseIsNotTold) {
  auto manager = Make(new VertexBufferManager);
  auto first = Make(new CountingClient(manager.get()));
  auto* second = new CountingClient(manager.get());
  manager->AddClient(first.get());
  manager->AddClient(second);
  first->victim = second;  // the only reference: dies during the first notification
  manager->Close();        // would touch freed memory if `second` were still told
  EXPECT_EQ(first->closings, 1);
  EXPECT_EQ(LiveObjects::Count("VertexBufferManager"), 1);
}

TEST_F(EngineTest, BufferLendsTheLockedArraysOnlyWhileLocked) {
  RecordingBackend backend;
  auto manager = Make(new VertexBufferManager);
  manager->SetBackend(&backend);
  auto buffer = Make(manager->CreateBuffer(5));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer->GetRefCount(), 1);
  EXPECT_EQ(buffer->GetPriority(), 5);

  csVector3 vertices[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  csVector2 texels[3];
  csColor colors[3];
  EXPECT_TRUE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  EXPECT_TRUE(buffer->IsLocked());
  EXPECT_EQ(buffer->GetVertices(0), vertices);  // lent, not copied
  EXPECT_EQ(buffer->GetVertices(1), nullptr);
  EXPECT_EQ(buffer->GetTexels(), texels);
  EXPECT_EQ(buffer->GetColors(), colors);
  EXPECT_EQ(buffer->GetVertexCount(), 3);
  // Locking twice would silently replace what a draw is about to read.
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 2, 0));
  EXPECT_EQ(buffer->GetVertexCount(), 3);

  manager->UnlockBuffer(buffer.get());
  EXPECT_FALSE(buffer->IsLocked());
  EXPECT_EQ(buffer->GetVertices(0), nullptr);
  EXPECT_EQ(buffer->GetVertexCount(), 0);
  manager->UnlockBuffer(buffer.get());  // not reported twice

  ASSERT_EQ(backend.Calls().size(), 2u);
  const RecordedCall& lock = backend.Calls()[0];
  EXPECT_EQ(lock.kind, Kind::Lock);
  EXPECT_EQ(lock.buffer, buffer.get());
  EXPECT_EQ(lock.lockVertices, vertices);
  EXPECT_EQ(lock.count, 3);
  EXPECT_EQ(backend.Calls()[1].kind, Kind::Unlock);

  // Refused: another manager's buffer, bad counts, and anything once closed.
  auto other = Make(new VertexBufferManager);
  auto foreign = Make(other->CreateBuffer(0));
  EXPECT_FALSE(manager->LockBuffer(foreign.get(), vertices, texels, colors, 3, 0));
  EXPECT_FALSE(manager->LockBuffer(nullptr, vertices, texels, colors, 3, 0));
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, -1, 0));
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), nullptr, texels, colors, 3, 0));
  manager->Close();
  EXPECT_EQ(manager->CreateBuffer(0), nullptr);
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  manager->Reopen();
  EXPECT_TRUE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  manager->UnlockBuffer(buffer.get());
}

}  // namespace
}  // namespace rwengine
