// The box mesh a character's polygon-mesh view serves: the eight corners of
// a box and its six faces of four corners each, as one value that owns its
// storage. A copy serves its own corners and faces.
#pragma once

#include <cstdint>

#include "host/math_types.h"
#include "host/mesh.h"

namespace rigweave {

class BoxMesh {
 public:
  // A box of zero size at the origin: what is served before a box was
  // measured, so that a caller trusting the counts reads valid storage.
  BoxMesh();
  // The box's corners in the engine's numbering (x from bit 2, y from bit
  // 1, z from bit 0 of the index, the maximum where set).
  explicit BoxMesh(const csBox3& box);
  BoxMesh(const BoxMesh& other);
  BoxMesh& operator=(const BoxMesh& other);

  static constexpr int kCorners = 8;
  static constexpr int kFaces = 6;
  csVector3* Corners() { return corners_; }
  const csVector3* Corners() const { return corners_; }
  // Each face counter-clockwise seen from outside.
  csMeshedPolygon* Faces() { return faces_; }
  const csMeshedPolygon* Faces() const { return faces_; }

 private:
  void LinkFaces();

  csVector3 corners_[kCorners];
  int32_t indices_[kFaces][4];
  csMeshedPolygon faces_[kFaces];
};

}  // namespace rigweave
