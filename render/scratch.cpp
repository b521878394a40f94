#include "render/scratch.h"

#include <cmath>

namespace rigweave {

DrawScratch& GetDrawScratch() {
  static DrawScratch scratch;
  return scratch;
}

csVector3* GetLightingScratch() {
  static csVector3 vertices[kMaxSubmeshVertices];
  return vertices;
}

csVector3* GetBoundsScratch() {
  static csVector3 vertices[kMaxSubmeshVertices];
  return vertices;
}

const AxisTurn& GetAxisTurn() {
  static const AxisTurn turn = [] {
    const double angle = -1.57f;
    return AxisTurn{static_cast<float>(std::sin(angle)), static_cast<float>(std::cos(angle))};
  }();
  return turn;
}

void ToEngineSpace(csVector3* vertices, int count, float factor) {
  const AxisTurn turn = GetAxisTurn();
  for (int i = 0; i < count; i++) {
    csVector3& v = vertices[i];
    const float x = v.x * factor, y = v.y * factor, z = v.z * factor;
    v.x = x;
    v.y = turn.cosine * y - turn.sine * z;
    v.z = turn.sine * y + turn.cosine * z;
  }
}

}  // namespace rigweave
