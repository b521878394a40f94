#include "render/box_mesh.h"

namespace rigweave {
namespace {

constexpr int32_t kBoxFaces[BoxMesh::kFaces][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                                   {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};

}  // namespace

BoxMesh::BoxMesh() {
  LinkFaces();
}

BoxMesh::BoxMesh(const csBox3& box) {
  for (int i = 0; i < kCorners; i++) corners_[i] = box.GetCorner(i);
  LinkFaces();
}

BoxMesh::BoxMesh(const BoxMesh& other) {
  *this = other;
}

BoxMesh& BoxMesh::operator=(const BoxMesh& other) {
  for (int i = 0; i < kCorners; i++) corners_[i] = other.corners_[i];
  LinkFaces();
  return *this;
}

void BoxMesh::LinkFaces() {
  for (int i = 0; i < kFaces; i++) {
    for (int j = 0; j < 4; j++) indices_[i][j] = kBoxFaces[i][j];
    faces_[i] = {4, indices_[i]};
  }
}

}  // namespace rigweave
