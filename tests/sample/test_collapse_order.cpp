// The generator's level-of-detail order, read back by Cal3D itself at every
// level, on meshes shaped like the ones exporters write.
#include "sample/collapse_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <stdexcept>

#include "support/lod_levels.h"

namespace {

using rwsample::CollapseMesh;
using rwsample::CollapseOrder;
using rwsample::MakeCollapseOrder;
using rwsample::RootDrop;
using rwsample::Vec3;

// A bent rows x columns sheet, one connected part, appended to `mesh`;
// vertices where `fixed(row, column)` holds never collapse.
template <class Fixed>
void AddSheet(CollapseMesh& mesh, int rows, int columns, double offset, Fixed fixed) {
  const int base = static_cast<int>(mesh.positions.size());
  for (int i = 0; i < rows; i++) {
    for (int j = 0; j < columns; j++) {
      // Uneven spacing, so that edge lengths differ and the order is not the grid's.
      mesh.positions.push_back({offset + j * (1.0 + 0.07 * i), i * (1.0 + 0.05 * j), 0.3 * i * j});
      mesh.fixed.push_back(fixed(i, j));
    }
  }
  for (int i = 0; i + 1 < rows; i++) {
    for (int j = 0; j + 1 < columns; j++) {
      const int a = base + i * columns + j, b = a + 1, c = b + columns, d = a + columns;
      mesh.faces.push_back({a, b, c});
      mesh.faces.push_back({a, c, d});
    }
  }
}

void AddSheet(CollapseMesh& mesh, int rows, int columns, double offset) {
  AddSheet(mesh, rows, columns, offset, [](int, int) { return false; });
}

// The order as a Cal3D sub-mesh: positions and faces in the new order, with
// the level-of-detail data.
std::unique_ptr<CalCoreSubmesh> ToCal3D(const CollapseMesh& mesh, const CollapseOrder& order) {
  const int vertexCount = static_cast<int>(order.vertexOrder.size());
  auto core = std::make_unique<CalCoreSubmesh>();
  core->reserve(vertexCount, 0, static_cast<int>(order.faceOrder.size()), 0);
  core->setLodCount(order.lodCount);
  std::vector<int> newIndex(static_cast<size_t>(vertexCount));
  for (int i = 0; i < vertexCount; i++) {
    const Vec3& p = mesh.positions[static_cast<size_t>(order.vertexOrder[static_cast<size_t>(i)])];
    newIndex[static_cast<size_t>(order.vertexOrder[static_cast<size_t>(i)])] = i;
    CalCoreSubmesh::Vertex vertex;
    vertex.position =
        CalVector(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    vertex.collapseId = order.collapseIds[static_cast<size_t>(i)];
    vertex.faceCollapseCount = order.faceCollapseCounts[static_cast<size_t>(i)];
    core->setVertex(i, vertex);
  }
  for (size_t f = 0; f < order.faceOrder.size(); f++) {
    const auto& old = mesh.faces[static_cast<size_t>(order.faceOrder[f])];
    CalCoreSubmesh::Face face;
    for (int k = 0; k < 3; k++) face.vertexId[k] = newIndex[static_cast<size_t>(old[k])];
    core->setFace(static_cast<int>(f), face);
  }
  return core;
}

bool IsPermutation(std::vector<int> order, size_t size) {
  std::vector<int> identity(size);
  std::iota(identity.begin(), identity.end(), 0);
  std::sort(order.begin(), order.end());
  return order == identity;
}

// New indices of the roots: collapsible vertices with collapse id -1.
std::vector<int> Roots(const CollapseOrder& order) {
  std::vector<int> roots;
  const int vertexCount = static_cast<int>(order.collapseIds.size());
  for (int v = vertexCount - order.lodCount; v < vertexCount; v++)
    if (order.collapseIds[static_cast<size_t>(v)] == -1) roots.push_back(v);
  return roots;
}

// Everything Cal3D does with the order at every level, and the shape of its
// ends: all faces at level 1 as given, corner for corner; at level 0 only
// faces among fixed vertices.
void CheckOrder(const CollapseMesh& mesh, const CollapseOrder& order, std::vector<int>* counts) {
  const size_t vertexCount = mesh.positions.size();
  ASSERT_TRUE(IsPermutation(order.vertexOrder, vertexCount));
  ASSERT_TRUE(IsPermutation(order.faceOrder, mesh.faces.size()));
  const int fixedCount = static_cast<int>(std::count(mesh.fixed.begin(), mesh.fixed.end(), true));
  EXPECT_EQ(order.lodCount, static_cast<int>(vertexCount) - fixedCount);
  for (int v = 0; v < static_cast<int>(vertexCount) - order.lodCount; v++)
    EXPECT_TRUE(mesh.fixed[static_cast<size_t>(order.vertexOrder[static_cast<size_t>(v)])]);
  EXPECT_EQ(static_cast<int>(Roots(order).size()), order.rootCount);

  const std::unique_ptr<CalCoreSubmesh> core = ToCal3D(mesh, order);
  rwtest::CheckEveryLevel(*core, counts);
  if (!::testing::Test::HasFatalFailure()) {
    CalSubmesh submesh(core.get());
    std::vector<CalIndex> faces(3 * mesh.faces.size());
    submesh.setLodLevel(1.0f);
    ASSERT_EQ(submesh.getFaces(faces.data()), static_cast<int>(mesh.faces.size()));
    for (size_t f = 0; f < mesh.faces.size(); f++)
      for (int k = 0; k < 3; k++)
        ASSERT_EQ(order.vertexOrder[static_cast<size_t>(faces[3 * f + k])],
                  mesh.faces[static_cast<size_t>(order.faceOrder[f])][k]);
    submesh.setLodLevel(0.0f);
    const int left = submesh.getFaces(faces.data());
    for (int i = 0; i < 3 * left; i++)
      EXPECT_LT(faces[static_cast<size_t>(i)], static_cast<int>(vertexCount) - order.lodCount);
  }
}

TEST(CollapseOrder, EightyVerticesInFivePartsCollapseToFiveRootsWithVertexZeroOne) {
  CollapseMesh mesh;
  for (int part = 0; part < 5; part++) AddSheet(mesh, 4, 4, 10.0 * part);
  ASSERT_EQ(mesh.positions.size(), 80u);
  const CollapseOrder order = MakeCollapseOrder(mesh, RootDrop::WhenAlone);
  EXPECT_EQ(order.lodCount, 80);
  EXPECT_EQ(order.rootCount, 5);
  const std::vector<int> roots = Roots(order);
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(roots.front(), 0);
  // Dropped as soon as alone: the parts finish at different levels.
  EXPECT_GT(roots.back(), 4);
  for (int root : roots) EXPECT_EQ(order.faceCollapseCounts[static_cast<size_t>(root)], 0);
  std::vector<int> counts;
  CheckOrder(mesh, order, &counts);
  ASSERT_EQ(counts.size(), 81u);
  EXPECT_EQ(counts.front(), 5 * 18);
  EXPECT_EQ(counts.back(), 0);
  EXPECT_LT(counts[40], counts.front());
}

// 716 vertices of which 48 never collapse: a coarse lattice of one sheet,
// and three other sheets that each end in a root.
CollapseMesh SevenHundredSixteen() {
  CollapseMesh mesh;
  AddSheet(mesh, 22, 16, 0, [](int i, int j) { return i % 3 == 0 && j % 3 == 0; });
  AddSheet(mesh, 12, 11, 40);
  AddSheet(mesh, 11, 11, 60);
  AddSheet(mesh, 37, 3, 80);
  return mesh;
}

TEST(CollapseOrder, RootsAtTheEndStartTheCollapsibleRange) {
  const CollapseMesh mesh = SevenHundredSixteen();
  ASSERT_EQ(mesh.positions.size(), 716u);
  const CollapseOrder order = MakeCollapseOrder(mesh, RootDrop::AtTheEnd);
  EXPECT_EQ(order.lodCount, 668);
  EXPECT_EQ(Roots(order), (std::vector<int>{48, 49, 50}));
  std::vector<int> counts;
  CheckOrder(mesh, order, &counts);
  ASSERT_EQ(counts.size(), 669u);
  // The lattice keeps faces of its own at the lowest level.
  EXPECT_GT(counts.back(), 0);
  EXPECT_LT(counts.back(), counts[334]);
  EXPECT_LT(counts[334], counts.front());
}

TEST(CollapseOrder, RootsDroppedWhenAloneSitAmongTheCollapses) {
  const CollapseMesh mesh = SevenHundredSixteen();
  const CollapseOrder order = MakeCollapseOrder(mesh, RootDrop::WhenAlone);
  EXPECT_EQ(order.lodCount, 668);
  EXPECT_EQ(order.rootCount, 3);
  // Not one block: some root has ordinary collapses below it.
  const std::vector<int> roots = Roots(order);
  ASSERT_EQ(roots.size(), 3u);
  EXPECT_GT(roots.back(), 50) << roots[0] << " " << roots[1] << " " << roots[2];
  std::vector<int> counts;
  CheckOrder(mesh, order, &counts);
}

TEST(CollapseOrder, FansAndLoneVerticesCollapseWithoutFacesOfTheirOwn) {
  // A fan whose rim vertices have one face each, like a surface's pole row,
  // and a vertex of no face: it is a part of its own.
  CollapseMesh mesh;
  mesh.positions.push_back({0, 0, 0});
  for (int i = 0; i < 8; i++) mesh.positions.push_back({std::cos(i * 0.7), std::sin(i * 0.7), 1});
  for (int i = 1; i < 8; i++) mesh.faces.push_back({0, i, i + 1});
  mesh.positions.push_back({5, 5, 5});
  mesh.fixed.assign(mesh.positions.size(), false);
  const CollapseOrder order = MakeCollapseOrder(mesh, RootDrop::WhenAlone);
  EXPECT_EQ(order.lodCount, 10);
  EXPECT_EQ(order.rootCount, 2);
  // Eight collapses share seven faces: one at least merges a vertex whose
  // faces are already gone, and the fan still ends in a single root.
  int withoutFaces = 0;
  for (size_t v = 0; v < order.collapseIds.size(); v++)
    if (order.collapseIds[v] >= 0 && order.faceCollapseCounts[v] == 0) withoutFaces++;
  EXPECT_GE(withoutFaces, 1);
  std::vector<int> counts;
  CheckOrder(mesh, order, &counts);
}

TEST(CollapseOrder, RefusesFacesItCannotOrder) {
  CollapseMesh mesh;
  AddSheet(mesh, 2, 2, 0);
  CollapseMesh repeated = mesh;
  repeated.faces[0] = {0, 1, 1};
  EXPECT_THROW(MakeCollapseOrder(repeated, RootDrop::WhenAlone), std::invalid_argument);
  CollapseMesh outOfRange = mesh;
  outOfRange.faces[1] = {0, 2, 4};
  EXPECT_THROW(MakeCollapseOrder(outOfRange, RootDrop::WhenAlone), std::invalid_argument);
  CollapseMesh shortFixed = mesh;
  shortFixed.fixed.pop_back();
  EXPECT_THROW(MakeCollapseOrder(shortFixed, RootDrop::WhenAlone), std::invalid_argument);
}

}  // namespace
