// A character's last pose as the module keeps it for its box, picking and
// light: the skinned positions (and normals, when lit) of every sub-mesh in
// object space, their box and the colours lit from them. Sized once per load
// (or when an option first asks for it), so that Draw only writes it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/math_types.h"

class CalModel;

namespace rigweave {

struct Pose {
  std::vector<csVector3> positions;
  std::vector<csVector3> normals;  // empty until lighting first asks for them
  std::vector<csColor> colors;     // likewise
  // Per sub-mesh, indexed as ForEachSubmesh numbers them: where its vertices
  // start, and how many the pose holds (0 for a hidden one).
  std::vector<size_t> first;
  std::vector<int> count;
  // min x, y, z then max x, y, z; empty (min above max) when nothing is posed.
  float box[6] = {HUGE_VALF, HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
  // The pose serial and geometry changes it was made at; made is false
  // until a pose is.
  uint64_t serial = 0, changes = 0;
  bool made = false;

  bool Sized() const { return !first.empty(); }
  bool HasNormals() const { return !normals.empty(); }
  // Room for the full-detail vertices of every sub-mesh of `model`, with
  // normals and colours when `lit`; may throw std::bad_alloc.
  void Size(CalModel& model, bool lit);
  void Release();
  static void EmptyBox(float* box);
};

// The nearest of `faceCount` triangles of `positions` the segment from
// `start` to `end` meets (either face): its fraction along the segment and
// index; false when it meets none.
bool NearestHit(const csVector3* positions, const csTriangle* faces, size_t faceCount,
                const csVector3& start, const csVector3& end, float& fraction, int& triangle);

// Whether the segment meets the box (min x, y, z, max x, y, z).
bool SegmentMeetsBox(const float* box, const csVector3& start, const csVector3& end);

}  // namespace rigweave
