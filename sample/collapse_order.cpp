#include "sample/collapse_order.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <stdexcept>
#include <tuple>

namespace rwsample {
namespace {

struct Step {
  int vertex;
  int target;  // -1 for a root
  std::vector<int> removedFaces;
};

using Candidate = std::tuple<double, int, int>;  // cost, vertex, target

// Vertices are joined by the edges of the faces they started in; a collapse
// hands the collapsing vertex's edges and faces to its target, and removes
// the faces that held both. Edges outlive their faces, so a part goes on
// collapsing after its last face is gone, down to one vertex: its root.
class Collapser {
 public:
  Collapser(const CollapseMesh& mesh, RootDrop roots)
      : mesh_(mesh),
        roots_(roots),
        corners_(mesh.faces),
        faceAlive_(mesh.faces.size(), true),
        facesOf_(mesh.positions.size()),
        neighbours_(mesh.positions.size()),
        gone_(mesh.positions.size(), false) {
    const int vertexCount = static_cast<int>(mesh.positions.size());
    for (size_t f = 0; f < corners_.size(); f++) {
      const auto& face = corners_[f];
      for (int k = 0; k < 3; k++) {
        if (face[k] < 0 || face[k] >= vertexCount)
          throw std::invalid_argument("face corner out of range");
        if (face[k] == face[(k + 1) % 3])
          throw std::invalid_argument("face with a repeated corner");
      }
      for (int k = 0; k < 3; k++) {
        facesOf_[static_cast<size_t>(face[k])].push_back(static_cast<int>(f));
        Join(face[k], face[(k + 1) % 3]);
      }
    }
  }

  std::vector<Step> Run() {
    const int vertexCount = static_cast<int>(mesh_.positions.size());
    // Vertices of no face are alone from the start.
    for (int v = 0; v < vertexCount; v++) DropIfAlone(v);
    while (!queue_.empty()) {
      const auto [cost, vertex, target] = queue_.top();
      queue_.pop();
      if (gone_[static_cast<size_t>(vertex)] || !Joined(vertex, target)) continue;
      Collapse(vertex, target);
    }
    steps_.insert(steps_.end(), lateRoots_.begin(), lateRoots_.end());
    return std::move(steps_);
  }

 private:
  bool Fixed(int v) const { return !mesh_.fixed.empty() && mesh_.fixed[static_cast<size_t>(v)]; }

  bool Joined(int a, int b) const {
    const auto& list = neighbours_[static_cast<size_t>(a)];
    return std::find(list.begin(), list.end(), b) != list.end();
  }

  void Offer(int vertex, int target) {
    if (Fixed(vertex)) return;
    const Vec3 d =
        mesh_.positions[static_cast<size_t>(vertex)] - mesh_.positions[static_cast<size_t>(target)];
    queue_.emplace(Length(d), vertex, target);
  }

  // Joins a and b by an edge and offers both ways of collapsing it.
  void Join(int a, int b) {
    if (Joined(a, b)) return;
    neighbours_[static_cast<size_t>(a)].push_back(b);
    neighbours_[static_cast<size_t>(b)].push_back(a);
    Offer(a, b);
    Offer(b, a);
  }

  void DropIfAlone(int v) {
    if (Fixed(v) || gone_[static_cast<size_t>(v)] || !neighbours_[static_cast<size_t>(v)].empty())
      return;
    gone_[static_cast<size_t>(v)] = true;
    (roots_ == RootDrop::WhenAlone ? steps_ : lateRoots_).push_back({v, -1, {}});
  }

  void Collapse(int vertex, int target) {
    Step step{vertex, target, {}};
    for (int f : facesOf_[static_cast<size_t>(vertex)]) {
      if (!faceAlive_[static_cast<size_t>(f)]) continue;
      auto& face = corners_[static_cast<size_t>(f)];
      if (std::find(face.begin(), face.end(), target) != face.end()) {
        faceAlive_[static_cast<size_t>(f)] = false;
        step.removedFaces.push_back(f);
      } else {
        std::replace(face.begin(), face.end(), vertex, target);
        facesOf_[static_cast<size_t>(target)].push_back(f);
      }
    }
    facesOf_[static_cast<size_t>(vertex)].clear();
    // Keep the target's list short: merged faces pile up on it.
    std::vector<int>& merged = facesOf_[static_cast<size_t>(target)];
    merged.erase(std::remove_if(merged.begin(), merged.end(),
                                [&](int f) { return !faceAlive_[static_cast<size_t>(f)]; }),
                 merged.end());

    const std::vector<int> around = std::move(neighbours_[static_cast<size_t>(vertex)]);
    neighbours_[static_cast<size_t>(vertex)].clear();
    for (int n : around) {
      auto& list = neighbours_[static_cast<size_t>(n)];
      list.erase(std::find(list.begin(), list.end(), vertex));
    }
    for (int n : around)
      if (n != target) Join(n, target);
    gone_[static_cast<size_t>(vertex)] = true;
    steps_.push_back(std::move(step));
    // Only the target can have lost its last edge.
    DropIfAlone(target);
  }

  const CollapseMesh& mesh_;
  RootDrop roots_;
  std::vector<std::array<int, 3>> corners_;
  std::vector<bool> faceAlive_;
  std::vector<std::vector<int>> facesOf_;
  std::vector<std::vector<int>> neighbours_;
  std::vector<bool> gone_;
  std::priority_queue<Candidate, std::vector<Candidate>, std::greater<Candidate>> queue_;
  std::vector<Step> steps_;
  std::vector<Step> lateRoots_;
};

}  // namespace

CollapseOrder MakeCollapseOrder(const CollapseMesh& mesh, RootDrop roots) {
  const int vertexCount = static_cast<int>(mesh.positions.size());
  const int faceCount = static_cast<int>(mesh.faces.size());
  if (!mesh.fixed.empty() && static_cast<int>(mesh.fixed.size()) != vertexCount)
    throw std::invalid_argument("fixed list of another length");
  const std::vector<Step> steps = Collapser(mesh, roots).Run();

  CollapseOrder order;
  order.lodCount = static_cast<int>(steps.size());
  order.vertexOrder.reserve(static_cast<size_t>(vertexCount));
  for (int v = 0; v < vertexCount; v++)
    if (!mesh.fixed.empty() && mesh.fixed[static_cast<size_t>(v)]) order.vertexOrder.push_back(v);
  // The first collapse goes last.
  for (auto step = steps.rbegin(); step != steps.rend(); ++step)
    order.vertexOrder.push_back(step->vertex);

  std::vector<int> newIndex(static_cast<size_t>(vertexCount));
  for (int i = 0; i < vertexCount; i++)
    newIndex[static_cast<size_t>(order.vertexOrder[static_cast<size_t>(i)])] = i;
  order.collapseIds.assign(static_cast<size_t>(vertexCount), -1);
  order.faceCollapseCounts.assign(static_cast<size_t>(vertexCount), 0);
  for (const Step& step : steps) {
    const size_t at = static_cast<size_t>(newIndex[static_cast<size_t>(step.vertex)]);
    if (step.target >= 0) {
      order.collapseIds[at] = newIndex[static_cast<size_t>(step.target)];
    } else {
      order.rootCount++;
    }
    order.faceCollapseCounts[at] = static_cast<int>(step.removedFaces.size());
  }

  // Faces no collapse removes first, in their own order; then each
  // collapse's faces, the last collapse's first.
  std::vector<bool> removed(static_cast<size_t>(faceCount), false);
  for (const Step& step : steps)
    for (int f : step.removedFaces) removed[static_cast<size_t>(f)] = true;
  for (int f = 0; f < faceCount; f++)
    if (!removed[static_cast<size_t>(f)]) order.faceOrder.push_back(f);
  for (auto step = steps.rbegin(); step != steps.rend(); ++step)
    order.faceOrder.insert(order.faceOrder.end(), step->removedFaces.begin(),
                           step->removedFaces.end());
  return order;
}

}  // namespace rwsample
