// Vertex buffers as the renderer lends them to mesh objects: a buffer only
// points at the caller's arrays while it is locked, and the manager tells its
// clients when it shuts down so they drop their buffers.
#pragma once

#include <vector>

#include "engine/live_objects.h"
#include "host/graphics.h"
#include "host/ref.h"
#include "host/scf_impl.h"

namespace rwengine {

class RenderBackend;
class VertexBufferManager;

class VertexBuffer : public scfImplementation<VertexBuffer, iVertexBuffer>,
                     private LiveCounted<VertexBuffer> {
 public:
  static constexpr const char kLiveName[] = "VertexBuffer";

  VertexBuffer(VertexBufferManager* manager, int priority);

  int32_t GetPriority() override { return priority_; }
  bool IsLocked() override { return locked_; }
  // One vertex set per lock: set 0.
  const csVector3* GetVertices(int set) override;
  const csVector2* GetTexels() override { return locked_ ? texels_ : nullptr; }
  const csColor* GetColors() override { return locked_ ? colors_ : nullptr; }
  // 0 while unlocked.
  int32_t GetVertexCount() override { return locked_ ? count_ : 0; }

  VertexBufferManager* GetManager() const { return manager_.get(); }
  int GetBufferNumber() const { return bufNumber_; }

 private:
  friend class VertexBufferManager;

  // Keeps the manager alive for the ownership check in LockBuffer.
  csRef<VertexBufferManager> manager_;
  int32_t priority_;
  bool locked_ = false;
  csVector3* vertices_ = nullptr;
  csVector2* texels_ = nullptr;
  csColor* colors_ = nullptr;
  int count_ = 0;
  int bufNumber_ = 0;
};

class VertexBufferManager : public scfImplementation<VertexBufferManager, iVertexBufferManager>,
                            private LiveCounted<VertexBufferManager> {
 public:
  static constexpr const char kLiveName[] = "VertexBufferManager";

  // Null once closed.
  iVertexBuffer* CreateBuffer(int priority) override;
  // Refused (false) while closed, for buffers of another manager, for a
  // buffer already locked, and for a negative count or missing vertices.
  bool LockBuffer(iVertexBuffer* buffer, csVector3* vertices, csVector2* texels, csColor* colors,
                  int vertexCount, int bufNumber) override;
  void UnlockBuffer(iVertexBuffer* buffer) override;
  // Clients are embedded interfaces of mesh objects that remove themselves
  // when destroyed, so no reference is taken. A client added twice is
  // notified once.
  void AddClient(iVertexBufferManagerClient* client) override;
  void RemoveClient(iVertexBufferManagerClient* client) override;

  // Tells every client once that the manager shuts down, then forgets them.
  void Close();
  void Reopen() { closed_ = false; }
  bool IsClosed() const { return closed_; }
  int ClientCount() const { return static_cast<int>(clients_.size()); }

  // Not owned; null reports nothing.
  void SetBackend(RenderBackend* backend) { backend_ = backend; }

 private:
  // Our own buffer behind the interface, or null.
  VertexBuffer* Own(iVertexBuffer* buffer);

  std::vector<iVertexBufferManagerClient*> clients_;
  RenderBackend* backend_ = nullptr;
  bool closed_ = false;
  bool closing_ = false;
};

}  // namespace rwengine
