// The geometry working space of a Draw or of a load's box measure: the
// sub-mesh being drawn and the fog values the view fills for it. Sized by
// the character's capacities (render/limits.h), so no frame and no load
// grows geometry. Each thread drawing at a time leases one, as a rule the one
// it had last; the module's pool keeps as many as threads ever drew at once.
#pragma once

#include "host/graphics.h"
#include "host/math_types.h"
#include "render/limits.h"

namespace rigweave {

struct DrawStorage {
  csVector3 vertices[kMaxSubmeshVertices];
  csVector2 texels[kMaxSubmeshVertices];
  G3DFogInfo fog[kMaxSubmeshVertices];
};

struct PooledStorage;

class DrawStorageLease {
 public:
  // A storage from the pool, or a new one: may throw std::bad_alloc.
  DrawStorageLease();
  ~DrawStorageLease();
  DrawStorageLease(const DrawStorageLease&) = delete;
  DrawStorageLease& operator=(const DrawStorageLease&) = delete;
  DrawStorage& operator*() const;

 private:
  PooledStorage* pooled_;
};

}  // namespace rigweave
