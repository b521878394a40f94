#include "engine/vertex_buffer.h"

#include <algorithm>
#include <new>

#include "engine/backend.h"

namespace rwengine {

VertexBuffer::VertexBuffer(VertexBufferManager* manager, int priority)
    : manager_(manager), priority_(priority) {}

const csVector3* VertexBuffer::GetVertices(int set) {
  return locked_ && set == 0 ? vertices_ : nullptr;
}

iVertexBuffer* VertexBufferManager::CreateBuffer(int priority) {
  if (closed_) return nullptr;
  return new (std::nothrow) VertexBuffer(this, priority);
}

VertexBuffer* VertexBufferManager::Own(iVertexBuffer* buffer) {
  auto* own = dynamic_cast<VertexBuffer*>(buffer);
  return own != nullptr && own->GetManager() == this ? own : nullptr;
}

bool VertexBufferManager::LockBuffer(iVertexBuffer* buffer, csVector3* vertices, csVector2* texels,
                                     csColor* colors, int vertexCount, int bufNumber) {
  VertexBuffer* own = Own(buffer);
  if (closed_ || own == nullptr || own->locked_) return false;
  if (vertexCount < 0 || (vertexCount > 0 && vertices == nullptr)) return false;
  own->locked_ = true;
  own->vertices_ = vertices;
  own->texels_ = texels;
  own->colors_ = colors;
  own->count_ = vertexCount;
  own->bufNumber_ = bufNumber;
  if (backend_ != nullptr)
    backend_->OnLock(buffer, vertices, texels, colors, vertexCount, bufNumber);
  return true;
}

void VertexBufferManager::UnlockBuffer(iVertexBuffer* buffer) {
  VertexBuffer* own = Own(buffer);
  if (own == nullptr || !own->locked_) return;
  own->locked_ = false;
  own->vertices_ = nullptr;
  own->texels_ = nullptr;
  own->colors_ = nullptr;
  own->count_ = 0;
  if (backend_ != nullptr) backend_->OnUnlock(buffer);
}

void VertexBufferManager::AddClient(iVertexBufferManagerClient* client) {
  // Nothing that turns up during the shutdown can hold a buffer to drop:
  // CreateBuffer refuses once closed.
  if (client == nullptr || closing_) return;
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
}

void VertexBufferManager::RemoveClient(iVertexBufferManagerClient* client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void VertexBufferManager::Close() {
  closed_ = true;
  // A client's ManagerClosing may release the last reference on this
  // manager through its buffer.
  csRef<VertexBufferManager> keep(this);
  // One at a time from the live list: a client told may destroy another
  // one, which then removes itself before its turn and is never told.
  closing_ = true;
  while (!clients_.empty()) {
    iVertexBufferManagerClient* client = clients_.front();
    clients_.erase(clients_.begin());
    client->ManagerClosing();
  }
  closing_ = false;
}

}  // namespace rwengine
