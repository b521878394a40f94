#include "model/pose.h"

#include <cal3d/cal3d.h>

#include <algorithm>

#include "model/submesh_walk.h"

namespace rigweave {

void Pose::Size(CalModel& model, bool lit) {
  if (!Sized()) {
    std::vector<size_t> starts;
    size_t total = 0;
    ForEachSubmesh(model, [&](const SubmeshVisit& visit) {
      starts.push_back(total);
      total += static_cast<size_t>(visit.submesh.getCoreSubmesh()->getVertexCount());
      return true;
    });
    positions.resize(total);
    count.assign(starts.size(), 0);
    first = std::move(starts);
    made = false;
  }
  if (lit && !HasNormals()) {
    normals.resize(positions.size());
    colors.resize(positions.size());
    made = false;  // a pose made without normals has none to light
  }
}

void Pose::Release() {
  std::vector<csVector3>().swap(positions);
  std::vector<csVector3>().swap(normals);
  std::vector<csColor>().swap(colors);
  std::vector<size_t>().swap(first);
  std::vector<int>().swap(count);
  EmptyBox(box);
  made = false;
}

void Pose::EmptyBox(float* box) {
  for (int c = 0; c < 3; c++) {
    box[c] = HUGE_VALF;
    box[3 + c] = -HUGE_VALF;
  }
}

bool SegmentMeetsBox(const float* box, const csVector3& start, const csVector3& end) {
  float low = 0.0f, high = 1.0f;
  for (int c = 0; c < 3; c++) {
    const float from = start[c], along = end[c] - start[c];
    if (along == 0.0f) {
      if (from < box[c] || from > box[3 + c]) return false;
      continue;
    }
    float t0 = (box[c] - from) / along, t1 = (box[3 + c] - from) / along;
    if (t0 > t1) std::swap(t0, t1);
    low = std::max(low, t0);
    high = std::min(high, t1);
    if (low > high) return false;
  }
  return true;
}

bool NearestHit(const csVector3* positions, const csTriangle* faces, size_t faceCount,
                const csVector3& start, const csVector3& end, float& fraction, int& triangle) {
  // Moller and Trumbore's test, both faces, along the segment's length.
  const csVector3 along = end - start;
  float nearest = HUGE_VALF;
  int found = -1;
  for (size_t f = 0; f < faceCount; f++) {
    const csVector3& a = positions[faces[f].a];
    const csVector3 edge1 = positions[faces[f].b] - a, edge2 = positions[faces[f].c] - a;
    const csVector3 p = Cross(along, edge2);
    const float det = Dot(edge1, p);
    if (det == 0.0f) continue;  // the segment runs in the triangle's plane
    const float inverse = 1.0f / det;
    const csVector3 s = start - a;
    const float u = Dot(s, p) * inverse;
    if (u < 0.0f || u > 1.0f) continue;
    const csVector3 q = Cross(s, edge1);
    const float v = Dot(along, q) * inverse;
    if (v < 0.0f || u + v > 1.0f) continue;
    const float t = Dot(edge2, q) * inverse;
    if (t < 0.0f || t > 1.0f || t >= nearest) continue;
    nearest = t;
    found = static_cast<int>(f);
  }
  if (found < 0) return false;
  fraction = nearest;
  triangle = found;
  return true;
}

}  // namespace rigweave
