#include "sample/mesh_builder.h"

#include <stdexcept>

namespace rwsample {
namespace {

Vec3 NormalAt(const Surface& surface, double u, double v, bool periodicV) {
  // Rings collapse at the poles, where dP/du vanishes: take the normal from
  // just inside instead.
  if (!periodicV) v = std::min(0.997, std::max(0.003, v));
  const double h = 1e-5;
  const Vec3 du = surface(u + h, v) - surface(u - h, v);
  const Vec3 dv = surface(u, v + h) - surface(u, v - h);
  return Normalized(Cross(du, dv));
}

bool IsPole(const Submesh& mesh, int first, int count) {
  for (int i = 1; i < count; i++)
    if (Length(mesh.vertices[first + i].position - mesh.vertices[first].position) > 1e-6)
      return false;
  return true;
}

Vec3 OnAxis(const Axis& axis, double s, double r1, double r2, double u) {
  const double angle = 2 * kPi * u;
  return axis.origin + s * axis.direction + r1 * std::cos(angle) * axis.e1 +
         r2 * std::sin(angle) * axis.e2;
}

}  // namespace

void AddSurface(Submesh& mesh, const Surface& surface, int segmentsU, int segmentsV, UvRect uv,
                const Weighting& weighting, bool periodicV) {
  const int base = static_cast<int>(mesh.vertices.size());
  const int ring = segmentsU + 1;  // the seam column is doubled for its texture coordinates
  mesh.surfaces.push_back({base, segmentsU, segmentsV});
  for (int i = 0; i <= segmentsV; i++) {
    const double v = static_cast<double>(i) / segmentsV;
    for (int j = 0; j <= segmentsU; j++) {
      const double u = static_cast<double>(j) / segmentsU;
      Vertex vertex;
      vertex.position = surface(u, v);
      vertex.normal = NormalAt(surface, u, v, periodicV);
      vertex.u = Lerp(uv.u0, uv.u1, u);
      vertex.v = Lerp(uv.v0, uv.v1, v);
      vertex.influences = weighting(vertex.position);
      mesh.vertices.push_back(vertex);
    }
  }

  const size_t firstFace = mesh.faces.size();
  for (int i = 0; i < segmentsV; i++) {
    const bool poleBelow = IsPole(mesh, base + i * ring, ring);
    const bool poleAbove = IsPole(mesh, base + (i + 1) * ring, ring);
    for (int j = 0; j < segmentsU; j++) {
      const int a = base + i * ring + j, b = a + 1, c = b + ring, d = a + ring;
      if (!poleBelow) mesh.faces.push_back({a, b, c});
      if (!poleAbove) mesh.faces.push_back({a, c, d});
    }
  }

  double volume = 0;
  for (size_t f = firstFace; f < mesh.faces.size(); f++) {
    const auto& face = mesh.faces[f];
    volume += Dot(mesh.vertices[face[0]].position,
                  Cross(mesh.vertices[face[1]].position, mesh.vertices[face[2]].position));
  }
  if (!(volume > 0)) throw std::logic_error("surface is inside out or not closed");
}

Axis MakeAxis(Vec3 origin, Vec3 direction, Vec3 seam) {
  Axis axis;
  axis.origin = origin;
  axis.direction = Normalized(direction);
  axis.e1 = Normalized(seam - Dot(seam, axis.direction) * axis.direction);
  axis.e2 = Cross(axis.direction, axis.e1);
  return axis;
}

Surface Ellipsoid(const Axis& axis, double length, double r1, double r2) {
  return [=](double u, double v) {
    const double polar = kPi * v;
    const double ring = std::sin(polar);
    return OnAxis(axis, -length * std::cos(polar), r1 * ring, r2 * ring, u);
  };
}

Surface Lathe(const Axis& axis, std::vector<ProfileRow> rows) {
  // Parameterize by distance along the profile so rings come out evenly
  // spaced whether the profile runs along the axis or closes a dome.
  std::vector<double> t(rows.size(), 0.0);
  for (size_t k = 1; k < rows.size(); k++) {
    const double ds = rows[k].s - rows[k - 1].s;
    const double dr = std::max(rows[k].r1, rows[k].r2) - std::max(rows[k - 1].r1, rows[k - 1].r2);
    t[k] = t[k - 1] + std::sqrt(ds * ds + dr * dr);
  }
  for (double& value : t) value /= t.back();

  return [axis, rows, t](double u, double v) {
    v = Clamp01(v);
    const size_t last = rows.size() - 1;
    size_t k = 0;
    while (k + 1 < last && t[k + 1] < v) k++;
    const double h = t[k + 1] - t[k];
    const double f = (v - t[k]) / h;
    // Cubic Hermite with Catmull-Rom slopes on the non-uniform knots.
    auto slope = [&](size_t i, double ProfileRow::*field) {
      const size_t lo = i == 0 ? 0 : i - 1, hi = i == last ? last : i + 1;
      return (rows[hi].*field - rows[lo].*field) / (t[hi] - t[lo]);
    };
    auto eval = [&](double ProfileRow::*field) {
      const double f2 = f * f, f3 = f2 * f;
      return (2 * f3 - 3 * f2 + 1) * rows[k].*field + (f3 - 2 * f2 + f) * h * slope(k, field) +
             (-2 * f3 + 3 * f2) * rows[k + 1].*field + (f3 - f2) * h * slope(k + 1, field);
    };
    return OnAxis(axis, eval(&ProfileRow::s), std::max(0.0, eval(&ProfileRow::r1)),
                  std::max(0.0, eval(&ProfileRow::r2)), u);
  };
}

std::vector<ProfileRow> RoundEnds(const std::vector<ProfileRow>& body, int capRows) {
  std::vector<ProfileRow> rows;
  const ProfileRow first = body.front(), last = body.back();
  for (int i = 0; i < capRows; i++) {
    const double angle = kPi / 2 * (1 - static_cast<double>(i) / capRows);
    const double c = std::cos(angle);
    rows.push_back(
        {first.s - std::max(first.r1, first.r2) * std::sin(angle), first.r1 * c, first.r2 * c});
  }
  rows.insert(rows.end(), body.begin(), body.end());
  for (int i = 1; i <= capRows; i++) {
    const double angle = kPi / 2 * static_cast<double>(i) / capRows;
    const double c = std::cos(angle);
    rows.push_back(
        {last.s + std::max(last.r1, last.r2) * std::sin(angle), last.r1 * c, last.r2 * c});
  }
  return rows;
}

Surface Torus(const Axis& axis, double r1, double r2, double thickness, double height) {
  return [=](double u, double v) {
    const double tube = 2 * kPi * v;
    const double out = thickness * std::cos(tube);
    return OnAxis(axis, height * std::sin(tube), r1 + out, r2 + out, u);
  };
}

Weighting Rigid(int bone) {
  return [bone](Vec3) { return std::vector<Influence>{{bone, 1.0f}}; };
}

Weighting Chain(std::vector<Vec3> joints, std::vector<int> bones, double blend) {
  return [joints, bones, blend](Vec3 p) {
    // Arc length of the nearest point on the chain.
    double best = 1e300, s = 0, start = 0;
    std::vector<double> at{0.0};
    for (size_t i = 0; i + 1 < joints.size(); i++) {
      const Vec3 seg = joints[i + 1] - joints[i];
      const double len = Length(seg);
      const double f = Clamp01(Dot(p - joints[i], seg) / (len * len));
      const double dist = Length(joints[i] + f * seg - p);
      if (dist < best) {
        best = dist;
        s = start + f * len;
      }
      start += len;
      at.push_back(start);
    }
    for (size_t j = 1; j + 1 < joints.size(); j++) {
      if (std::abs(s - at[j]) < blend) {
        const float after = static_cast<float>(Smoothstep((s - at[j] + blend) / (2 * blend)));
        std::vector<Influence> shared;
        if (after < 1) shared.push_back({bones[j - 1], 1 - after});
        if (after > 0) shared.push_back({bones[j], after});
        return shared;
      }
    }
    size_t segment = 0;
    while (segment + 1 < bones.size() && s > at[segment + 1]) segment++;
    return std::vector<Influence>{{bones[segment], 1.0f}};
  };
}

std::vector<int> RemoveUnusedVertices(Submesh& mesh) {
  std::vector<int> newIndex(mesh.vertices.size(), -1);
  for (const auto& face : mesh.faces)
    for (int corner : face) newIndex[static_cast<size_t>(corner)] = 0;
  std::vector<Vertex> kept;
  for (size_t i = 0; i < mesh.vertices.size(); i++) {
    if (newIndex[i] < 0) continue;
    newIndex[i] = static_cast<int>(kept.size());
    kept.push_back(std::move(mesh.vertices[i]));
  }
  mesh.vertices = std::move(kept);
  for (auto& face : mesh.faces)
    for (int& corner : face) corner = newIndex[static_cast<size_t>(corner)];
  mesh.surfaces.clear();
  return newIndex;
}

void ApplyCollapseOrder(Submesh& mesh, const CollapseOrder& order) {
  const size_t vertexCount = mesh.vertices.size();
  if (order.vertexOrder.size() != vertexCount || order.faceOrder.size() != mesh.faces.size())
    throw std::logic_error("collapse order made for another mesh");
  std::vector<Vertex> vertices;
  vertices.reserve(vertexCount);
  std::vector<int> newIndex(vertexCount);
  for (size_t i = 0; i < vertexCount; i++) {
    const size_t old = static_cast<size_t>(order.vertexOrder[i]);
    vertices.push_back(std::move(mesh.vertices[old]));
    newIndex[old] = static_cast<int>(i);
  }
  std::vector<std::array<int, 3>> faces;
  faces.reserve(mesh.faces.size());
  for (int old : order.faceOrder) {
    const auto& face = mesh.faces[static_cast<size_t>(old)];
    faces.push_back({newIndex[static_cast<size_t>(face[0])], newIndex[static_cast<size_t>(face[1])],
                     newIndex[static_cast<size_t>(face[2])]});
  }
  mesh.vertices = std::move(vertices);
  mesh.faces = std::move(faces);
  mesh.surfaces.clear();
  mesh.lodCount = order.lodCount;
  mesh.collapseIds = order.collapseIds;
  mesh.faceCollapseCounts = order.faceCollapseCounts;
}

CalCoreSubmesh* ToCalSubmesh(const Submesh& mesh) {
  auto* sub = new CalCoreSubmesh();
  const int vertexCount = static_cast<int>(mesh.vertices.size());
  const int faceCount = static_cast<int>(mesh.faces.size());
  sub->reserve(vertexCount, 1, faceCount, 0);
  sub->setCoreMaterialThreadId(mesh.materialThread);
  sub->setLodCount(mesh.lodCount);
  const bool lod = !mesh.collapseIds.empty();
  for (int i = 0; i < vertexCount; i++) {
    const Vertex& in = mesh.vertices[i];
    CalCoreSubmesh::Vertex out;
    out.position = ToCal(in.position);
    out.normal = ToCal(in.normal);
    out.collapseId = lod ? mesh.collapseIds[i] : -1;
    out.faceCollapseCount = lod ? mesh.faceCollapseCounts[i] : 0;
    for (const Influence& influence : in.influences)
      out.vectorInfluence.push_back({influence.bone, influence.weight});
    sub->setVertex(i, out);
    CalCoreSubmesh::TextureCoordinate uv;
    uv.u = static_cast<float>(in.u);
    uv.v = static_cast<float>(in.v);
    sub->setTextureCoordinate(i, 0, uv);
  }
  for (int f = 0; f < faceCount; f++) {
    CalCoreSubmesh::Face face;
    for (int k = 0; k < 3; k++) face.vertexId[k] = mesh.faces[f][k];
    sub->setFace(f, face);
  }
  return sub;
}

}  // namespace rwsample
