#include "model/draw_storage.h"

namespace rigweave {

DrawStorage& GetDrawStorage() {
  static DrawStorage storage;
  return storage;
}

csVector3* GetBoundsStorage() {
  static csVector3 vertices[kMaxSubmeshVertices];
  return vertices;
}

}  // namespace rigweave
