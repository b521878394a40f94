#include "formats/cal3d_check.h"

#include "formats/byte_reader.h"
#include "formats/cal3d_newer.h"
#include "formats/cal3d_xml.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace rigweave {

namespace {

// Cal3D 0.11 reads the files of these versions and no others.
constexpr int32_t kEarliestVersion = 699;
constexpr int32_t kLatestVersion = 1100;

// Smallest records on file, so that no count can claim more records than
// the bytes left could hold, and Cal3D never reserves more than the file
// size warrants.
constexpr size_t kStringMin = 4 + 1;                      // length, NUL
constexpr size_t kBoneMin = kStringMin + 14 * 4 + 4 + 4;  // name, pose, parent, child count
constexpr size_t kKeyframeSize = 8 * 4;
constexpr size_t kTrackMin = 4 + 4 + kKeyframeSize;
constexpr size_t kSubmeshHeader = 6 * 4;
constexpr size_t kTexelSize = 2 * 4;
constexpr size_t kInfluenceSize = 2 * 4;
constexpr size_t kSpringSize = 4 * 4;
constexpr size_t kFaceSize = 3 * 4;
constexpr size_t kMaterialHeader = 3 * 4 + 4;  // three colours, shininess
// More texture coordinate sets than any exporter writes.
constexpr int32_t kMaxTextureSets = 16;

// Cal3D's own walk over a binary file, with its rules for strings and headers.
class Reader : public ByteReader {
 public:
  using ByteReader::ByteReader;

  enum class Text { Ok, Truncated, Malformed };
  // Cal3D copies a string up to its first NUL but its buffer reader then
  // steps over strlen + 1 bytes: only a length that ends on the one NUL keeps
  // both readers, and this walk, in step.
  Text String() {
    int32_t length = 0;
    if (!Int(length)) return Text::Truncated;
    if (length <= 0) return Text::Malformed;
    if (Left() < static_cast<size_t>(length)) return Text::Truncated;
    const uint8_t* text = Here();
    if (text[length - 1] != 0 || std::memchr(text, 0, static_cast<size_t>(length) - 1) != nullptr)
      return Text::Malformed;
    Skip(static_cast<size_t>(length));
    return Text::Ok;
  }

  // The magic and the version, at the start of the file.
  bool Header(const char magic[4], const char*& reason) {
    char found[4];
    int32_t version = 0;
    if (!Raw(found, 4)) {
      reason = "truncated header";
      return false;
    }
    if (std::memcmp(found, magic, 4) != 0) {
      reason = "not a binary Cal3D file of this kind";
      return false;
    }
    if (!Int(version)) {
      reason = "truncated header";
      return false;
    }
    if (version < kEarliestVersion || version > kLatestVersion) {
      reason = "unsupported file version";
      return false;
    }
    return true;
  }
};

Cal3DCheck Refuse(const char* reason) {
  Cal3DCheck check;
  check.reason = reason;
  return check;
}

constexpr char kTooDeep[] = "bone hierarchy too deep";

// Cal3D computes bone states recursively from each root down the child
// lists: a child list must name bones that really hang there, each once,
// or the walk revisits bones without end or exponentially often; and the
// chains must be short enough for the thread's stack (kMaxBoneDepth).
const char* CheckHierarchy(const std::vector<int32_t>& parents,
                           const std::vector<std::vector<int32_t>>& children, int32_t& deepest) {
  const size_t count = parents.size();
  std::vector<uint8_t> listed(count, 0);
  for (size_t bone = 0; bone < count; bone++) {
    for (int32_t child : children[bone]) {
      if (parents[static_cast<size_t>(child)] != static_cast<int32_t>(bone))
        return "bone child whose parent differs";
      if (listed[static_cast<size_t>(child)]++ != 0) return "bone listed as a child twice";
    }
  }
  // level[b]: 0 unseen, -1 on the current parent chain, else b's level.
  std::vector<int32_t> level(count, 0);
  std::vector<size_t> chain;
  deepest = 0;
  for (size_t start = 0; start < count; start++) {
    chain.clear();
    int32_t bone = static_cast<int32_t>(start);
    while (bone != -1 && level[static_cast<size_t>(bone)] == 0) {
      level[static_cast<size_t>(bone)] = -1;
      chain.push_back(static_cast<size_t>(bone));
      bone = parents[static_cast<size_t>(bone)];
    }
    if (bone != -1 && level[static_cast<size_t>(bone)] == -1) return "bone hierarchy with a cycle";
    // Levels count down the chain from the root or the known bone it met.
    int32_t at = bone == -1 ? 0 : level[static_cast<size_t>(bone)];
    for (auto b = chain.rbegin(); b != chain.rend(); ++b) level[*b] = ++at;
    deepest = std::max(deepest, at);
  }
  return deepest > kMaxBoneDepth ? kTooDeep : nullptr;
}

const char* CheckSubmesh(Reader& in, int boneCount) {
  int32_t materialThread = 0, vertexCount = 0, faceCount = 0, lodCount = 0, springCount = 0,
          texelCount = 0;
  if (!in.Int(materialThread) || !in.Int(vertexCount) || !in.Int(faceCount) || !in.Int(lodCount) ||
      !in.Int(springCount) || !in.Int(texelCount))
    return "truncated sub-mesh";
  // Cal3D sizes arrays per set even for a sub-mesh of no vertices, where
  // the sets take no bytes of the file: bound them outright.
  if (texelCount < 0 || texelCount > kMaxTextureSets)
    return "texture coordinate count out of range";
  const size_t vertexMin =
      8 * 4 + static_cast<size_t>(texelCount) * kTexelSize + 4 + (springCount > 0 ? 4 : 0);
  if (!in.Fits(vertexCount, vertexMin)) return "vertex count out of range";
  if (!in.Fits(faceCount, kFaceSize)) return "face count out of range";
  if (!in.Fits(springCount, kSpringSize)) return "spring count out of range";
  if (lodCount < 0 || lodCount > vertexCount) return "level-of-detail count out of range";

  std::vector<int32_t> collapseIds(static_cast<size_t>(vertexCount));
  std::vector<int32_t> faceCollapses(static_cast<size_t>(vertexCount));
  for (size_t vertex = 0; vertex < collapseIds.size(); vertex++) {
    int32_t influenceCount = 0;
    if (!in.Skip(6 * 4) || !in.Int(collapseIds[vertex]) || !in.Int(faceCollapses[vertex]) ||
        !in.Skip(static_cast<size_t>(texelCount) * kTexelSize) || !in.Int(influenceCount))
      return "truncated vertex";
    if (!in.Fits(influenceCount, kInfluenceSize)) return "influence count out of range";
    for (int32_t i = 0; i < influenceCount; i++) {
      int32_t bone = 0;
      if (!in.Int(bone) || !in.Skip(4)) return "truncated influence";
      if (bone < 0 || bone >= boneCount) return "influence bone out of range";
    }
    if (springCount > 0 && !in.Skip(4)) return "truncated vertex";
  }
  for (int32_t spring = 0; spring < springCount; spring++) {
    int32_t a = 0, b = 0;
    if (!in.Int(a) || !in.Int(b) || !in.Skip(8)) return "truncated spring";
    if (a < 0 || a >= vertexCount || b < 0 || b >= vertexCount) return "spring vertex out of range";
  }
  std::vector<int32_t> faces(3 * static_cast<size_t>(faceCount));
  for (int32_t& vertex : faces) {
    if (!in.Int(vertex)) return "truncated face";
    if (vertex < 0 || vertex >= vertexCount) return "face index out of range";
  }
  return CheckLevelsOfDetail(vertexCount, lodCount, collapseIds, faceCollapses, faces);
}

bool EndsWithNoCase(std::string_view name, std::string_view end) {
  if (name.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); i++) {
    char c = name[name.size() - end.size() + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != end[i]) return false;
  }
  return true;
}

}  // namespace

namespace {

// A collapsible vertex's walk, as the levels of detail check records it.
constexpr int32_t kSafe = -1, kUnseen = -2, kOnPath = -3;

// mostKept[V - first], for V from `first` up to the vertex count: the most
// faces kept at any level from `first` up to V. False when a face collapse
// count would have Cal3D hand out more faces than it holds, or a negative
// count.
bool MostFacesKept(int32_t vertexCount, int32_t first, const std::vector<int32_t>& faceCollapses,
                   int64_t faceCount, std::vector<int64_t>& mostKept) {
  mostKept.assign(static_cast<size_t>(vertexCount - first) + 1, 0);
  mostKept.back() = faceCount;
  for (int32_t v = vertexCount - 1; v >= first; v--) {
    const int64_t kept =
        mostKept[static_cast<size_t>(v + 1 - first)] - faceCollapses[static_cast<size_t>(v)];
    if (kept < 0 || kept > faceCount) return false;
    mostKept[static_cast<size_t>(v - first)] = kept;
  }
  for (size_t i = 1; i < mostKept.size(); i++) mostKept[i] = std::max(mostKept[i], mostKept[i - 1]);
  return true;
}

// reach[x - first], for each collapsible vertex x: the lowest vertex of the
// walk from x up to where it goes wrong (a root, an id outside the
// vertices, or round a cycle); kSafe when the walk ends below `first`. The
// walk from x at level V goes wrong exactly when reach >= V. Each vertex is
// walked once: a walk stops at the first vertex already known.
std::vector<int32_t> WalkReach(int32_t vertexCount, int32_t first,
                               const std::vector<int32_t>& collapseIds) {
  const auto slot = [first](int32_t vertex) { return static_cast<size_t>(vertex - first); };
  std::vector<int32_t> reach(static_cast<size_t>(vertexCount - first), kUnseen);
  std::vector<int32_t> path;
  for (int32_t start = first; start < vertexCount; start++) {
    if (reach[slot(start)] != kUnseen) continue;
    path.clear();
    int32_t end = kSafe;
    for (int32_t at = start;;) {
      if (at < first) break;  // below every level: a safe end
      const int32_t known = reach[slot(at)];
      if (known == kOnPath) {
        // A cycle: every vertex on it goes wrong down to its lowest one.
        const auto from = std::find(path.begin(), path.end(), at);
        end = *std::min_element(from, path.end());
        for (auto v = from; v != path.end(); ++v) reach[slot(*v)] = end;
        path.erase(from, path.end());
        break;
      }
      if (known != kUnseen) {
        end = known;
        break;
      }
      const int32_t next = collapseIds[static_cast<size_t>(at)];
      if (next < 0 || next >= vertexCount) {
        reach[slot(at)] = at;
        end = at;
        break;
      }
      reach[slot(at)] = kOnPath;
      path.push_back(at);
      at = next;
    }
    for (auto v = path.rbegin(); v != path.rend(); ++v) {
      if (end != kSafe) end = std::min(end, *v);
      reach[slot(*v)] = end;
    }
  }
  return reach;
}

}  // namespace

// Cal3D lowers the level of detail of a sub-mesh of N vertices and F faces
// by keeping its first V vertices, for any V from N - lodCount up to N, and
// its first F(V) = F - (face collapse counts of vertices V..N-1) faces. Each
// corner of a kept face at or past V follows collapse ids until it is below
// V. Exporters end collapse chains at roots: vertices with collapse id -1
// that no level drops into another, safe because the faces that would need
// them are the ones dropped at that level. What must not happen at any level
// is a kept face whose walk meets a root, an id outside the vertices (read
// out of bounds) or a cycle (a walk without end) before it is below V. That
// is decided for every level at once, in time linear in vertices and faces.
const char* CheckLevelsOfDetail(int32_t vertexCount, int32_t lodCount,
                                const std::vector<int32_t>& collapseIds,
                                const std::vector<int32_t>& faceCollapses,
                                const std::vector<int32_t>& faces) {
  if (lodCount == 0) return nullptr;
  const int32_t first = vertexCount - lodCount;
  const auto faceCount = static_cast<int64_t>(faces.size() / 3);
  std::vector<int64_t> mostKept;
  if (!MostFacesKept(vertexCount, first, faceCollapses, faceCount, mostKept))
    return "face collapse count out of range";
  const std::vector<int32_t> reach = WalkReach(vertexCount, first, collapseIds);
  for (int64_t face = 0; face < faceCount; face++) {
    int32_t worst = kSafe;
    for (int corner = 0; corner < 3; corner++) {
      const int32_t vertex = faces[static_cast<size_t>(3 * face + corner)];
      if (vertex >= first) worst = std::max(worst, reach[static_cast<size_t>(vertex - first)]);
    }
    if (worst != kSafe && face < mostKept[static_cast<size_t>(worst - first)])
      return "collapse id out of range at some level of detail";
  }
  return nullptr;
}

std::string Cal3DCheck::Text() const {
  if (reason == nullptr) return {};
  if (std::strcmp(reason, kTooDeep) != 0) return reason;
  return std::string(reason) + " (" + std::to_string(depth) + " levels, at most " +
         std::to_string(kMaxBoneDepth) + ")";
}

bool NamesCal3DXmlFile(std::string_view name, Cal3DKind kind) {
  // Cal3D compares the last three characters only, without the dot.
  switch (kind) {
    case Cal3DKind::Skeleton:
      return EndsWithNoCase(name, "XSF");
    case Cal3DKind::Animation:
      return EndsWithNoCase(name, "XAF");
    case Cal3DKind::Mesh:
      return EndsWithNoCase(name, "XMF");
    case Cal3DKind::Material:
      return EndsWithNoCase(name, "XRF");
  }
  return false;
}

Cal3DCheck CheckSkeleton(const uint8_t* bytes, size_t size) {
  Reader in(bytes, size);
  const char* reason = nullptr;
  if (!in.Header("CSF\0", reason)) return Refuse(reason);
  int32_t boneCount = 0;
  if (!in.Int(boneCount)) return Refuse("truncated header");
  if (boneCount <= 0) return Refuse("no bones");
  if (!in.Fits(boneCount, kBoneMin)) return Refuse("bone count out of range");

  std::vector<int32_t> parents(static_cast<size_t>(boneCount));
  std::vector<std::vector<int32_t>> children(static_cast<size_t>(boneCount));
  for (size_t bone = 0; bone < parents.size(); bone++) {
    switch (in.String()) {
      case Reader::Text::Ok:
        break;
      case Reader::Text::Truncated:
        return Refuse("truncated bone name");
      case Reader::Text::Malformed:
        return Refuse("malformed bone name");
    }
    int32_t childCount = 0;
    if (!in.Skip(14 * 4) || !in.Int(parents[bone]) || !in.Int(childCount))
      return Refuse("truncated bone");
    if (parents[bone] < -1 || parents[bone] >= boneCount) return Refuse("bone parent out of range");
    if (!in.Fits(childCount, 4)) return Refuse("child count out of range");
    children[bone].resize(static_cast<size_t>(childCount));
    for (int32_t& child : children[bone]) {
      if (!in.Int(child)) return Refuse("truncated bone");
      if (child < 0 || child >= boneCount) return Refuse("bone child out of range");
    }
  }
  int32_t depth = 0;
  const char* bad = CheckHierarchy(parents, children, depth);
  Cal3DCheck check;
  check.reason = bad;
  check.boneCount = bad == nullptr ? boneCount : 0;
  check.depth = depth;
  return check;
}

Cal3DCheck CheckAnimation(const uint8_t* bytes, size_t size, int boneCount) {
  Reader in(bytes, size);
  const char* reason = nullptr;
  if (!in.Header("CAF\0", reason)) return Refuse(reason);
  int32_t trackCount = 0;
  float duration = 0;
  if (!in.Float(duration) || !in.Int(trackCount)) return Refuse("truncated header");
  // Cal3D refuses 0 and less but lets a NaN or an infinity through, and the
  // mixer then poses the skeleton with NaNs: the character vanishes.
  if (!(duration > 0) || !std::isfinite(duration))
    return Refuse("duration not a finite positive number");
  if (trackCount <= 0) return Refuse("no tracks");
  if (!in.Fits(trackCount, kTrackMin)) return Refuse("track count out of range");
  for (int32_t track = 0; track < trackCount; track++) {
    int32_t bone = 0, keyframeCount = 0;
    if (!in.Int(bone) || !in.Int(keyframeCount)) return Refuse("truncated track");
    // The mixer indexes the model's bones with it.
    if (bone < 0 || bone >= boneCount) return Refuse("track bone out of range");
    if (keyframeCount <= 0 || !in.Fits(keyframeCount, kKeyframeSize))
      return Refuse("keyframe count out of range");
    in.Skip(static_cast<size_t>(keyframeCount) * kKeyframeSize);
  }
  return {};
}

Cal3DCheck CheckMesh(const uint8_t* bytes, size_t size, int boneCount) {
  Reader in(bytes, size);
  const char* reason = nullptr;
  if (!in.Header("CMF\0", reason)) return Refuse(reason);
  int32_t submeshCount = 0;
  if (!in.Int(submeshCount)) return Refuse("truncated header");
  if (!in.Fits(submeshCount, kSubmeshHeader)) return Refuse("sub-mesh count out of range");
  for (int32_t submesh = 0; submesh < submeshCount; submesh++)
    if (const char* bad = CheckSubmesh(in, boneCount)) return Refuse(bad);
  return {};
}

Cal3DCheck CheckMaterial(const uint8_t* bytes, size_t size) {
  Reader in(bytes, size);
  const char* reason = nullptr;
  if (!in.Header("CRF\0", reason)) return Refuse(reason);
  int32_t mapCount = 0;
  if (!in.Skip(kMaterialHeader) || !in.Int(mapCount)) return Refuse("truncated header");
  if (!in.Fits(mapCount, kStringMin)) return Refuse("map count out of range");
  for (int32_t map = 0; map < mapCount; map++) {
    switch (in.String()) {
      case Reader::Text::Ok:
        break;
      case Reader::Text::Truncated:
        return Refuse("truncated map name");
      case Reader::Text::Malformed:
        return Refuse("malformed map name");
    }
  }
  return {};
}

Cal3DCheck CheckCal3DFile(Cal3DKind kind, const uint8_t* bytes, size_t size, int boneCount) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return CheckSkeleton(bytes, size);
    case Cal3DKind::Animation:
      return CheckAnimation(bytes, size, boneCount);
    case Cal3DKind::Mesh:
      return CheckMesh(bytes, size, boneCount);
    case Cal3DKind::Material:
      break;
  }
  return CheckMaterial(bytes, size);
}

Cal3DCheck PrepareCal3DFile(std::string_view name, Cal3DKind kind, std::vector<uint8_t>& bytes,
                            int boneCount, NewerCal3DContext* newer) {
  if (NamesCal3DXmlFile(name, kind)) {
    std::vector<uint8_t> binary;
    if (const char* reason = ConvertXmlToBinary(kind, bytes.data(), bytes.size(), binary,
                                                newer != nullptr ? &newer->morphTargets : nullptr))
      return Refuse(reason);
    bytes.swap(binary);
  }
  if (NeedsNewerTranslation(kind, bytes.data(), bytes.size())) {
    NewerCal3DContext unknownSkeleton;
    unknownSkeleton.restTranslations.assign(3 * static_cast<size_t>(std::max(boneCount, 0)), 1e10f);
    std::vector<uint8_t> translated;
    if (const char* reason = TranslateNewerCal3D(kind, bytes.data(), bytes.size(),
                                                 newer ? *newer : unknownSkeleton, translated))
      return Refuse(reason);
    bytes.swap(translated);
  }
  const Cal3DCheck check = CheckCal3DFile(kind, bytes.data(), bytes.size(), boneCount);
  // A refused mesh brings no morph targets either.
  if (!check.Ok() && newer != nullptr) newer->morphTargets.clear();
  return check;
}

std::vector<std::array<int32_t, 3>> FirstFaces(const uint8_t* bytes, size_t size) {
  std::vector<std::array<int32_t, 3>> first;
  Reader in(bytes, size);
  int32_t submeshCount = 0;
  if (!in.Skip(8) || !in.Int(submeshCount)) return first;
  for (int32_t s = 0; s < submeshCount; s++) {
    int32_t header[6];
    for (int32_t& field : header)
      if (!in.Int(field)) return first;
    const int32_t vertexCount = header[1], faceCount = header[2], springCount = header[4],
                  texelCount = header[5];
    for (int32_t v = 0; v < vertexCount; v++) {
      int32_t influences = 0;
      if (!in.Skip(8 * 4 + static_cast<size_t>(texelCount) * kTexelSize) || !in.Int(influences) ||
          !in.Skip(static_cast<size_t>(influences) * kInfluenceSize + (springCount > 0 ? 4 : 0)))
        return first;
    }
    if (!in.Skip(static_cast<size_t>(springCount) * kSpringSize)) return first;
    std::array<int32_t, 3> face = {-1, -1, -1};
    if (faceCount > 0 && (!in.Int(face[0]) || !in.Int(face[1]) || !in.Int(face[2]))) return first;
    first.push_back(face);
    if (faceCount > 0 && !in.Skip(static_cast<size_t>(faceCount - 1) * kFaceSize)) return first;
  }
  return first;
}

}  // namespace rigweave
