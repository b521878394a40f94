// Level-of-detail data as Cal3D reads it: an order of edge collapses.
//
// Cal3D lowers a sub-mesh's detail by dropping vertices from the end. With
// `lodCount` L and N vertices, level l keeps V = N - (int)((1 - l) * L)
// vertices and the first F - (sum of faceCollapseCount over the dropped
// vertices) faces; a kept face's corner at or above V follows collapse ids
// until it is below V. So the vertex that collapses first goes last, each
// collapse id names the vertex it merges into (always a lower index), and the
// faces a collapse removes sit at the end of the face list, the first
// collapse's faces last.
//
// A collapse merges two vertices joined by an edge; edges outlive the faces
// they came from, so a collapse may remove no face. Each connected part thus
// collapses down to one vertex left alone, its root: it stays in the
// collapsible range with collapse id -1 and no faces, as exporters write it. Vertices marked fixed
// never collapse and come first, outside the collapsible range, so lodCount is N less the fixed
// ones.
#pragma once

#include <array>
#include <vector>

#include "sample/rig_math.h"

namespace rwsample {

struct CollapseMesh {
  std::vector<Vec3> positions;
  // Three distinct corners each, all in range.
  std::vector<std::array<int, 3>> faces;
  // Vertices that never collapse; empty for none.
  std::vector<bool> fixed;
};

// When a root is dropped: exporters do either, and files of both kinds circulate.
enum class RootDrop {
  WhenAlone,  // right after its part's last collapse, among the other collapses
  AtTheEnd,   // after every collapse, so at the very start of the collapsible range
};

struct CollapseOrder {
  std::vector<int> vertexOrder;  // new index -> index in the input
  std::vector<int> faceOrder;    // new index -> index in the input
  // By new index; -1 for fixed vertices and roots.
  std::vector<int> collapseIds;
  std::vector<int> faceCollapseCounts;
  int lodCount = 0;
  int rootCount = 0;
};

// Collapses the shortest edge first, always into a vertex that is still
// there. Throws std::invalid_argument for faces the description above rules
// out.
CollapseOrder MakeCollapseOrder(const CollapseMesh& mesh, RootDrop roots);

}  // namespace rwsample
