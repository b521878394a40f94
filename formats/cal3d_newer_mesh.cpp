// Meshes of the newer Cal3D files: vertex colours dropped, and the sparse
// morph blocks read beside the sub-meshes and made dense.
#include <cmath>

#include "formats/cal3d_newer_parts.h"

namespace rigweave {
namespace newer_cal3d {
namespace {

// The vertices of a sub-mesh, and their positions and normals when
// `positions` is not null.
const char* ReadVertices(In& in, const MeshLayout& layout, int32_t vertexCount, bool physique,
                         size_t texelBytes, Out& out, std::vector<float>* positions,
                         std::vector<float>* normals) {
  std::vector<uint8_t> texels(texelBytes);
  for (int32_t vertex = 0; vertex < vertexCount; vertex++) {
    float geometry[6];
    int32_t collapse[2], influenceCount = 0;
    if (!in.Floats(geometry, 6) || (layout.vertexColours && !in.Skip(12)) || !in.Raw(collapse, 8) ||
        !in.Raw(texels.data(), texelBytes) || !in.Int(influenceCount))
      return "truncated vertex";
    if (!in.Fits(influenceCount, 8)) return "influence count out of range";
    out.Floats(geometry, 6);
    out.Raw(collapse, 8);
    out.Raw(texels.data(), texelBytes);
    out.Int(influenceCount);
    for (int32_t i = 0; i < influenceCount; i++) {
      int32_t influence[2] = {0, 0};
      if (!in.Raw(influence, 8)) return "truncated vertex";
      out.Raw(influence, 8);
    }
    if (physique) {
      float weight = 0;
      if (!in.Float(weight)) return "truncated vertex";
      out.Float(weight);
    }
    if (positions != nullptr) {
      positions->insert(positions->end(), geometry, geometry + 3);
      normals->insert(normals->end(), geometry + 3, geometry + 6);
    }
  }
  return nullptr;
}

// One morph block: counted, or ended by an id past the vertices. Ids must
// rise strictly: the newer reader puts a record where its walk up the
// vertices has reached, so any other order lands records on wrong vertices.
const char* ReadMorphBlock(In& in, bool counted, int32_t vertexCount, size_t texelBytes,
                           SparseMorph& morph) {
  if (!in.String(morph.name)) return "morph name out of range";
  int32_t recordCount = vertexCount;  // the most strictly increasing ids can make
  if (counted) {
    if (!in.Int(recordCount)) return "truncated morph";
    // A block of no records desynchronises the newer reader: it reads an id anyway.
    if (recordCount <= 0 || recordCount > vertexCount) return "morph record count out of range";
    if (!in.Fits(recordCount, 4 + 24 + texelBytes)) return "morph record count out of range";
  }
  int32_t previous = -1;
  for (int32_t r = 0; !counted || r < recordCount; r++) {
    int32_t vertex = 0;
    if (!in.Int(vertex)) return "truncated morph";
    if (!counted && vertex >= vertexCount) break;  // the block's end
    if (vertex <= previous || vertex >= vertexCount) return "morph vertex id out of order";
    previous = vertex;
    MorphRecord& record = morph.records.emplace_back();
    record.vertex = vertex;
    if (!in.Floats(record.position, 3) || !in.Floats(record.normal, 3) || !in.Skip(texelBytes))
      return "truncated morph";
  }
  return nullptr;
}

const char* ReadSubmesh(In& in, const MeshLayout& layout, int submesh, Out& out,
                        MeshMorphs& morphs) {
  int32_t header[7] = {};
  for (int i = 0; i < (layout.morphs ? 7 : 6); i++)
    if (!in.Int(header[i])) return "truncated sub-mesh";
  const int32_t vertexCount = header[1], faceCount = header[2], lodCount = header[3],
                springCount = header[4], texelCount = header[5], morphCount = header[6];
  if (texelCount < 0 || texelCount > kMaxTextureSets)
    return "texture coordinate count out of range";
  const size_t texelBytes = static_cast<size_t>(texelCount) * 8;
  const size_t vertexMin =
      (layout.vertexColours ? 11 : 8) * 4 + texelBytes + 4 + (springCount > 0 ? 4 : 0);
  if (!in.Fits(vertexCount, vertexMin)) return "vertex count out of range";
  if (!in.Fits(faceCount, 12)) return "face count out of range";
  if (!in.Fits(springCount, 16)) return "spring count out of range";
  if (lodCount < 0 || lodCount > vertexCount) return "level-of-detail count out of range";
  if (!in.Fits(morphCount, layout.counted ? 4 + 4 + 28 + texelBytes : 8))
    return "morph count out of range";
  morphs.denseVertices += static_cast<size_t>(morphCount) * static_cast<size_t>(vertexCount);
  if (morphs.denseVertices > kMaxDenseBlendVertices) return "morph targets too large";
  out.Raw(header, 6 * 4);

  std::vector<float>& positions = morphs.basePositions.emplace_back();
  std::vector<float>& normals = morphs.baseNormals.emplace_back();
  if (morphCount > 0) {
    positions.reserve(3 * static_cast<size_t>(vertexCount));
    normals.reserve(3 * static_cast<size_t>(vertexCount));
  }
  if (const char* bad = ReadVertices(in, layout, vertexCount, springCount > 0, texelBytes, out,
                                     morphCount > 0 ? &positions : nullptr, &normals))
    return bad;
  for (int32_t spring = 0; spring < springCount; spring++) {
    int32_t ends[2];
    float values[2];
    if (!in.Raw(ends, 8) || !in.Floats(values, 2)) return "truncated spring";
    if (ends[0] < 0 || ends[0] >= vertexCount || ends[1] < 0 || ends[1] >= vertexCount)
      return "spring vertex out of range";
    out.Raw(ends, 8);
    out.Floats(values, 2);
  }
  for (int32_t m = 0; m < morphCount; m++) {
    SparseMorph& morph = morphs.morphs.emplace_back();
    morph.submesh = submesh;
    if (const char* bad = ReadMorphBlock(in, layout.counted, vertexCount, texelBytes, morph))
      return bad;
  }
  for (int32_t face = 0; face < faceCount; face++) {
    int32_t corners[3];
    in.Raw(corners, 12);
    for (int32_t corner : corners)
      if (corner < 0 || corner >= vertexCount) return "face index out of range";
    out.Raw(corners, 12);
  }
  return nullptr;
}

float Length(const float v[3]) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

const char* ReadMesh(In& in, const MeshLayout& layout, Out& out, MeshMorphs& morphs) {
  int32_t submeshCount = 0;
  if (!in.Int(submeshCount)) return "truncated header";
  if (!in.Fits(submeshCount, layout.morphs ? 28 : 24)) return "sub-mesh count out of range";
  out.Header("CMF\0");
  out.Int(submeshCount);
  for (int32_t s = 0; s < submeshCount; s++)
    if (const char* bad = ReadSubmesh(in, layout, s, out, morphs)) return bad;
  return nullptr;
}

bool HoldsAbsoluteTargets(const MeshMorphs& morphs) {
  double fromBase = 0, fromOrigin = 0;
  size_t unitNormals = 0, records = 0;
  for (const SparseMorph& morph : morphs.morphs) {
    const std::vector<float>& base = morphs.basePositions[static_cast<size_t>(morph.submesh)];
    for (const MorphRecord& record : morph.records) {
      const float* b = &base[3 * static_cast<size_t>(record.vertex)];
      const float d[3] = {record.position[0] - b[0], record.position[1] - b[1],
                          record.position[2] - b[2]};
      fromBase += Length(d);
      fromOrigin += Length(record.position);
      const float n = Length(record.normal);
      if (n > 0.9f && n < 1.1f) unitNormals++;
      records++;
    }
  }
  return records > 0 && fromBase < fromOrigin && unitNormals * 10 >= records * 9;
}

void MakeDense(const MeshMorphs& morphs, bool absolute, std::vector<DenseMorphTarget>& targets) {
  for (const SparseMorph& morph : morphs.morphs) {
    DenseMorphTarget& target = targets.emplace_back();
    target.submesh = morph.submesh;
    target.name = morph.name;
    target.positions = morphs.basePositions[static_cast<size_t>(morph.submesh)];
    target.normals = morphs.baseNormals[static_cast<size_t>(morph.submesh)];
    for (const MorphRecord& record : morph.records) {
      const size_t at = 3 * static_cast<size_t>(record.vertex);
      for (size_t i = 0; i < 3; i++) {
        target.positions[at + i] =
            absolute ? record.position[i] : target.positions[at + i] + record.position[i];
        target.normals[at + i] =
            absolute ? record.normal[i] : target.normals[at + i] + record.normal[i];
      }
    }
  }
}

bool SameMorphs(const MeshMorphs& a, const MeshMorphs& b) {
  if (a.morphs.size() != b.morphs.size()) return false;
  for (size_t i = 0; i < a.morphs.size(); i++) {
    const SparseMorph &x = a.morphs[i], &y = b.morphs[i];
    if (x.submesh != y.submesh || x.name != y.name || x.records.size() != y.records.size() ||
        (!x.records.empty() &&
         std::memcmp(x.records.data(), y.records.data(), x.records.size() * sizeof(MorphRecord))))
      return false;
  }
  return true;
}

}  // namespace newer_cal3d
}  // namespace rigweave
