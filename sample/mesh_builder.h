// Builds smooth, skinned sub-meshes out of parametric surfaces.
//
// Every surface is closed: u runs once around it and v from one end to the
// other (or around again, for a torus). The orientation is fixed so that
// dP/du x dP/dv points outwards, which makes the faces counter-clockwise
// seen from outside.
#pragma once

#include <cal3d/coresubmesh.h>

#include <array>
#include <functional>
#include <vector>

#include "sample/collapse_order.h"
#include "sample/rig_math.h"

namespace rwsample {

struct Influence {
  int bone;
  float weight;
};

struct Vertex {
  Vec3 position;
  Vec3 normal;
  double u, v;
  std::vector<Influence> influences;
};

// One tessellated surface: rows of segmentsU + 1 vertices from firstVertex on.
struct SurfaceGrid {
  int firstVertex, segmentsU, segmentsV;
};

struct Submesh {
  int materialThread = 0;
  std::vector<Vertex> vertices;
  std::vector<std::array<int, 3>> faces;
  // Each AddSurface call's grid, while the vertices are in the order it made them.
  std::vector<SurfaceGrid> surfaces;
  // Level-of-detail data as Cal3D stores it; empty lists for none.
  int lodCount = 0;
  std::vector<int> collapseIds;
  std::vector<int> faceCollapseCounts;
};

using Surface = std::function<Vec3(double u, double v)>;
using Weighting = std::function<std::vector<Influence>(Vec3 position)>;

// Where a surface lands in its material's texture; v0 is the bottom edge.
struct UvRect {
  double u0, v0, u1, v1;
};

// Tessellates `surface` into segmentsU x segmentsV quads and appends it.
// Throws std::logic_error if the result is not an outward-facing closed
// surface, which would mean a wrongly parameterized primitive.
void AddSurface(Submesh& mesh, const Surface& surface, int segmentsU, int segmentsV, UvRect uv,
                const Weighting& weighting, bool periodicV = false);

// An orthonormal frame around `direction`; `e1` starts as close to `seam`
// as possible and e1 x e2 = direction, so the texture seam sits on the seam
// side.
struct Axis {
  Vec3 origin, direction, e1, e2;
};
Axis MakeAxis(Vec3 origin, Vec3 direction, Vec3 seam);

// Semi-axes r1 along e1, r2 along e2 and `length` along the direction.
Surface Ellipsoid(const Axis& axis, double length, double r1, double r2);

// A surface of revolution with elliptical cross-sections: at distance s
// along the axis the section has semi-axes r1 (along e1) and r2 (along e2).
// Rows are interpolated smoothly; the first and last rows need radius 0 to
// close the surface.
struct ProfileRow {
  double s, r1, r2;
};
Surface Lathe(const Axis& axis, std::vector<ProfileRow> rows);

// Closes a profile with hemispherical ends of the first and last row's size.
std::vector<ProfileRow> RoundEnds(const std::vector<ProfileRow>& body, int capRows);

// A ring around the axis: the tube centre follows the ellipse (r1, r2), the
// tube section has half-width `thickness` outwards and half-height `height`.
Surface Torus(const Axis& axis, double r1, double r2, double thickness, double height);

Weighting Rigid(int bone);

// Weights along a chain of joints: bone i spans joints[i]..joints[i+1], and
// within `blend` of an inner joint a vertex shares itself between the two
// bones meeting there. Positions are projected onto the nearest segment.
Weighting Chain(std::vector<Vec3> joints, std::vector<int> bones, double blend);

// Removes the vertices no face uses (the pole rows of a surface leave one
// each) and answers each old vertex's new index, -1 for a removed one.
std::vector<int> RemoveUnusedVertices(Submesh& mesh);

// Puts vertices and faces in the order's sequence and takes its
// level-of-detail data; every vertex keeps its own data, every face its corners.
void ApplyCollapseOrder(Submesh& mesh, const CollapseOrder& order);

// Moves the mesh into a Cal3D sub-mesh with one texture-coordinate set.
CalCoreSubmesh* ToCalSubmesh(const Submesh& mesh);

}  // namespace rwsample
