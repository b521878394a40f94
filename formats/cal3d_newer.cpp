#include "formats/cal3d_newer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "formats/byte_reader.h"

namespace rigweave {
namespace {

constexpr int32_t kOldestVersion = 699;
constexpr int32_t kNewestVersion = 1301;
constexpr int32_t kTranslatedVersion = 1100;
constexpr int32_t kMaxTextureSets = 16;

bool IsLineage(int32_t version) {
  return version >= 911 && version <= 919;
}

using In = ByteReader;

class Out {
 public:
  explicit Out(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  void Raw(const void* from, size_t count) {
    if (count == 0) return;
    const auto* p = static_cast<const uint8_t*>(from);
    bytes_.insert(bytes_.end(), p, p + count);
  }
  void Int(int32_t value) { Raw(&value, 4); }
  void Float(float value) { Raw(&value, 4); }
  void Floats(const float* values, int count) { Raw(values, 4 * static_cast<size_t>(count)); }
  // As Cal3D's saver writes it: the length counts one NUL.
  void String(const std::string& text) {
    Int(static_cast<int32_t>(text.size() + 1));
    Raw(text.data(), text.size());
    bytes_.push_back(0);
  }
  void Header(const char magic[4]) {
    Raw(magic, 4);
    Int(kTranslatedVersion);
  }
  size_t Size() const { return bytes_.size(); }
  void PatchInt(size_t at, int32_t value) { std::memcpy(bytes_.data() + at, &value, 4); }

 private:
  std::vector<uint8_t>& bytes_;
};

// ---------------------------------------------------------------------------
// Skeletons

struct SkeletonLayout {
  const char* name;
  bool sceneAmbient;  // 3 floats after the bone count
  bool boneLights;    // int type, 3 floats colour after each parent id
};

const char* ReadSkeleton(In& in, const SkeletonLayout& layout, Out& out) {
  int32_t boneCount = 0;
  if (!in.Int(boneCount)) return "truncated header";
  if (boneCount <= 0) return "no bones";
  if (layout.sceneAmbient && !in.Skip(3 * 4)) return "truncated header";
  const size_t boneMin = 4 + 14 * 4 + 4 + (layout.boneLights ? 16 : 0) + 4;
  if (!in.Fits(boneCount, boneMin)) return "bone count out of range";
  out.Header("CSF\0");
  out.Int(boneCount);
  std::string name;
  for (int32_t bone = 0; bone < boneCount; bone++) {
    float pose[14];
    int32_t parent = 0, childCount = 0;
    if (!in.String(name)) return "bone name out of range";
    if (!in.Floats(pose, 14) || !in.Int(parent)) return "truncated bone";
    if (parent < -1 || parent >= boneCount) return "bone parent out of range";
    if (layout.boneLights && !in.Skip(16)) return "truncated bone";
    if (!in.Int(childCount)) return "truncated bone";
    if (!in.Fits(childCount, 4)) return "child count out of range";
    out.String(name);
    out.Floats(pose, 14);
    out.Int(parent);
    out.Int(childCount);
    for (int32_t c = 0; c < childCount; c++) {
      int32_t child = 0;
      in.Int(child);
      if (child < 0 || child >= boneCount) return "bone child out of range";
      out.Int(child);
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Animations

enum class TrackForm {
  Plain,              // 32-byte keyframes
  Packed,             // bit-packed, always
  ByCompressionFlag,  // bit-packed when the header's compression flag is not 0
  ByFlagsBit0,        // min/scale when bit 0 of the header's flags is set
};

struct AnimationLayout {
  const char* name;
  bool compressionFlag;  // an int right after the version
  bool flags;            // an int after the track count
  TrackForm form;
  int rawFloats;  // after each packed keyframe: 0, 916 (a quaternion) or 917 (translation too)
};

// Reads `count` bits from `bits`, a little-endian bit stream, from bit `at`.
uint32_t Bits(const uint8_t* bits, int& at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; i++, at++)
    value |= static_cast<uint32_t>((bits[at >> 3] >> (at & 7)) & 1u) << i;
  return value;
}

void DecodeTranslation(const uint8_t* block, bool highRange, float t[3]) {
  const int magnitudeBits = highRange ? 25 : 9;
  const double scale = highRange ? 8388608.0 / 33554431.0 : 128.0 / 511.0;
  int at = 0;
  for (int axis = 0; axis < 3; axis++) {
    const uint32_t magnitude = Bits(block, at, magnitudeBits);
    const bool negative = Bits(block, at, 1) != 0;
    const double value = magnitude * scale;
    t[axis] = static_cast<float>(negative ? -value : value);
  }
}

// The 48-bit quaternion and time block: returns the time in steps of 1/30 s.
uint32_t DecodeRotation(const uint8_t* block, float q[4]) {
  int at = 0;
  const uint32_t largest = Bits(block, at, 2);
  double sum = 0;
  for (uint32_t i = 0; i < 4; i++) {
    if (i == largest) continue;
    const bool negative = Bits(block, at, 1) != 0;
    const double value = Bits(block, at, 11) / 2047.0;
    q[i] = static_cast<float>(negative ? -value : value);
    sum += value * value;
  }
  q[largest] = static_cast<float>(std::sqrt(1.0 - std::min(sum, 1.0)));
  return Bits(block, at, 10);
}

struct PackedTrack {
  int32_t bone;
  int32_t keyframeCount;
  bool translationRequired, highRange, translationDynamic;
};

const char* ReadPackedTrack(In& in, const AnimationLayout& layout, const std::vector<float>& rest,
                            Out& out, int32_t& written) {
  uint8_t header[4];
  if (!in.Raw(header, 4)) return "truncated track";
  PackedTrack track;
  track.bone = header[0] | (header[1] & 0x1F) << 8;
  track.translationRequired = (header[1] & 0x80) != 0;
  track.highRange = (header[1] & 0x40) != 0;
  track.translationDynamic = (header[1] & 0x20) != 0;
  track.keyframeCount = header[2] | header[3] << 8;
  if (static_cast<size_t>(track.bone) >= rest.size() / 3) return "track bone out of range";
  if (!in.Fits(track.keyframeCount, 6)) return "keyframe count out of range";
  // 0.11 refuses tracks without keyframes; they animate nothing.
  if (track.keyframeCount == 0) return nullptr;
  out.Int(track.bone);
  out.Int(track.keyframeCount);
  written++;
  float translation[3] = {rest[3 * static_cast<size_t>(track.bone)],
                          rest[3 * static_cast<size_t>(track.bone) + 1],
                          rest[3 * static_cast<size_t>(track.bone) + 2]};
  for (int32_t k = 0; k < track.keyframeCount; k++) {
    const bool block = track.translationRequired && (k == 0 || track.translationDynamic);
    if (block) {
      uint8_t bits[10];
      if (!in.Raw(bits, track.highRange ? 10 : 4)) return "truncated keyframe";
      DecodeTranslation(bits, track.highRange, translation);
    }
    uint8_t bits[6];
    float rotation[4];
    if (!in.Raw(bits, 6)) return "truncated keyframe";
    const uint32_t steps = DecodeRotation(bits, rotation);
    // The lineage's 916 and 917 follow each keyframe with its values unpacked.
    if (layout.rawFloats == 917 && block && !in.Floats(translation, 3)) return "truncated keyframe";
    if (layout.rawFloats != 0 && !in.Floats(rotation, 4)) return "truncated keyframe";
    out.Float(static_cast<float>(steps / 30.0));
    out.Floats(translation, 3);
    out.Floats(rotation, 4);
  }
  return nullptr;
}

// Cal3D's CalQuaternion::decompress.
void DecodeShortQuaternion(int16_t s0, int16_t s1, int16_t s2, float q[4]) {
  const int select = ((s1 & 1) << 1) | (s2 & 1);
  s1 = static_cast<int16_t>(s1 & ~1);
  s2 = static_cast<int16_t>(s2 & ~1);
  const float k = 1.0f / (32767.0f * 1.41421f);
  const float a = s0 * k, b = s1 * k, c = s2 * k;
  float derived = 1.0f - (a * a + b * b + c * c);
  if (derived > 1.19e-7f) derived = std::sqrt(derived);
  // select 3 leaves out w, 2 z, 1 y, 0 x: the others are stored in order.
  const int missing = select;
  const float stored[3] = {a, b, c};
  for (int i = 0, s = 0; i < 4; i++) q[i] = i == missing ? derived : stored[s++];
}

const char* ReadMinScaleTrack(In& in, float duration, int32_t boneCount, Out& out,
                              int32_t& written) {
  int32_t bone = 0, keyframeCount = 0;
  float minimum[3], step[3];
  if (!in.Int(bone) || !in.Int(keyframeCount) || !in.Floats(minimum, 3) || !in.Floats(step, 3))
    return "truncated track";
  if (bone < 0 || bone >= boneCount) return "track bone out of range";
  if (!in.Fits(keyframeCount, 12)) return "keyframe count out of range";
  if (keyframeCount == 0) return nullptr;
  out.Int(bone);
  out.Int(keyframeCount);
  written++;
  for (int32_t k = 0; k < keyframeCount; k++) {
    uint16_t time = 0;
    uint32_t packed = 0;
    int16_t s[3];
    in.Raw(&time, 2);
    in.Raw(&packed, 4);
    in.Raw(s, 6);
    const float translation[3] = {static_cast<float>(packed & 0x7FF) * step[0] + minimum[0],
                                  static_cast<float>((packed >> 11) & 0x7FF) * step[1] + minimum[1],
                                  static_cast<float>(packed >> 22) * step[2] + minimum[2]};
    float rotation[4];
    DecodeShortQuaternion(s[0], s[1], s[2], rotation);
    out.Float(time / 65535.0f * duration);
    out.Floats(translation, 3);
    out.Floats(rotation, 4);
  }
  return nullptr;
}

const char* ReadAnimation(In& in, const AnimationLayout& layout, const std::vector<float>& rest,
                          Out& out) {
  const int32_t boneCount = static_cast<int32_t>(rest.size() / 3);
  int32_t compression = 0, trackCount = 0, flags = 0;
  float duration = 0;
  if (layout.compressionFlag && !in.Int(compression)) return "truncated header";
  if (!in.Float(duration) || !in.Int(trackCount)) return "truncated header";
  if (layout.flags && !in.Int(flags)) return "truncated header";
  if (!(duration > 0) || !std::isfinite(duration)) return "duration not a finite positive number";
  if (trackCount <= 0) return "no tracks";
  TrackForm form = layout.form;
  if (form == TrackForm::ByCompressionFlag)
    form = compression != 0 ? TrackForm::Packed : TrackForm::Plain;
  if (form == TrackForm::ByFlagsBit0)
    form = (flags & 1) ? TrackForm::ByFlagsBit0 : TrackForm::Plain;
  const size_t trackMin = form == TrackForm::Plain ? 8 + 32 : form == TrackForm::Packed ? 4 : 32;
  if (!in.Fits(trackCount, trackMin)) return "track count out of range";
  out.Header("CAF\0");
  out.Float(duration);
  const size_t countAt = out.Size();
  out.Int(0);
  int32_t written = 0;
  for (int32_t track = 0; track < trackCount; track++) {
    const char* bad = nullptr;
    if (form == TrackForm::Packed) {
      bad = ReadPackedTrack(in, layout, rest, out, written);
    } else if (form == TrackForm::ByFlagsBit0) {
      bad = ReadMinScaleTrack(in, duration, boneCount, out, written);
    } else {
      int32_t bone = 0, keyframeCount = 0;
      if (!in.Int(bone) || !in.Int(keyframeCount)) return "truncated track";
      if (bone < 0 || bone >= boneCount) return "track bone out of range";
      if (keyframeCount <= 0 || !in.Fits(keyframeCount, 32)) return "keyframe count out of range";
      out.Int(bone);
      out.Int(keyframeCount);
      written++;
      for (int32_t k = 0; k < keyframeCount; k++) {
        float keyframe[8];
        in.Floats(keyframe, 8);
        out.Floats(keyframe, 8);
      }
    }
    if (bad) return bad;
  }
  if (written == 0) return "no track with keyframes";
  out.PatchInt(countAt, written);
  return nullptr;
}

// ---------------------------------------------------------------------------
// Meshes

struct MeshLayout {
  const char* name;
  bool vertexColours;  // 3 floats after each normal
  bool morphs;         // a morph count in each sub-mesh header, morph blocks before the faces
  bool counted;        // each block counts its records; otherwise an id past the vertices ends it
};

struct MorphRecord {
  int32_t vertex;
  float position[3], normal[3];
};

struct SparseMorph {
  int submesh;
  std::string name;
  std::vector<MorphRecord> records;
};

struct MeshMorphs {
  std::vector<std::vector<float>> basePositions, baseNormals;  // per sub-mesh
  std::vector<SparseMorph> morphs;
  size_t denseVertices = 0;
};

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

float Length(const float v[3]) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Files from before 2015 hold each listed vertex's target position and
// normal rather than the difference from the base. The data does not say
// which; absolute targets lie near the base and have unit normals, deltas
// lie near the origin and their normals are far from unit length.
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

// ---------------------------------------------------------------------------
// Materials

const char* ReadMaterial(In& in, bool mapTypes, Out& out) {
  uint8_t colours[16];
  int32_t mapCount = 0;
  if (!in.Raw(colours, 16) || !in.Int(mapCount)) return "truncated header";
  if (!in.Fits(mapCount, mapTypes ? 8 : 4)) return "map count out of range";
  out.Header("CRF\0");
  out.Raw(colours, 16);
  out.Int(mapCount);
  std::string name, type;
  for (int32_t map = 0; map < mapCount; map++) {
    if (!in.String(name)) return "map name out of range";
    if (mapTypes && !in.String(type)) return "map type out of range";
    out.String(name);
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Layouts by version

struct Candidate {
  const char* name;
  SkeletonLayout skeleton;
  AnimationLayout animation;
  MeshLayout mesh;
  bool mapTypes;
};

std::vector<Candidate> Candidates(Cal3DKind kind, int32_t version) {
  std::vector<Candidate> list;
  const auto add = [&list](const char* name) -> Candidate& {
    list.push_back(Candidate{name, {}, {}, {}, false});
    return list.back();
  };
  const bool lineage = IsLineage(version);
  const bool oldLayout = !lineage && version != 1200 && version < 1300;
  switch (kind) {
    case Cal3DKind::Skeleton:
      if (!lineage) add("the 0.11 layout").skeleton = {"", false, false};
      if (lineage || version == 1200 || version == 1300)
        add("scene ambient and bone lights").skeleton = {"", true, true};
      if (version == 1300) add("bone lights").skeleton = {"", false, true};
      break;
    case Cal3DKind::Animation:
      if (oldLayout || version == 1200 || version == 911 || version == 912)
        add("plain tracks").animation = {"", false, false, TrackForm::Plain, 0};
      if (version >= 913 && version <= 918)
        add("bit-packed tracks").animation = {"", false, false, TrackForm::Packed,
                                              version == 916 || version == 917 ? version : 0};
      if (version == 919 || version == 1200 || version == 1300)
        add("compression flag").animation = {"", true, false, TrackForm::ByCompressionFlag, 0};
      if (version == 1200)
        add("track flags (0.12)").animation = {"", false, true, TrackForm::ByFlagsBit0, 0};
      if (version == 1200 || version == 1300 || version == 1301)
        add("compression flag and track flags").animation = {"", true, true,
                                                             TrackForm::ByCompressionFlag, 0};
      break;
    case Cal3DKind::Mesh:
      if (oldLayout || version == 1200) add("the 0.11 layout").mesh = {"", false, false, false};
      if (lineage || version == 1200 || version >= 1300)
        add("vertex colours, morph blocks ended by an id").mesh = {"", true, true, false};
      if (version >= 1300) {
        add("morph blocks ended by an id").mesh = {"", false, true, false};
        add("morph blocks counted").mesh = {"", false, true, true};
      }
      break;
    case Cal3DKind::Material:
      if (oldLayout || version == 1200) add("the 0.11 layout").mapTypes = false;
      if (lineage || version >= 1200) add("map types").mapTypes = true;
      break;
  }
  return list;
}

const char* Magic(Cal3DKind kind) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return "CSF";
    case Cal3DKind::Animation:
      return "CAF";
    case Cal3DKind::Mesh:
      return "CMF";
    case Cal3DKind::Material:
      break;
  }
  return "CRF";
}

struct Reading {
  std::vector<uint8_t> bytes;
  MeshMorphs morphs;
  const char* reason = nullptr;
};

void ReadCandidate(Cal3DKind kind, const Candidate& candidate, const uint8_t* bytes, size_t size,
                   const std::vector<float>& rest, Reading& reading) {
  In in(bytes, size);
  in.Skip(8);
  Out out(reading.bytes);
  switch (kind) {
    case Cal3DKind::Skeleton:
      reading.reason = ReadSkeleton(in, candidate.skeleton, out);
      break;
    case Cal3DKind::Animation:
      reading.reason = ReadAnimation(in, candidate.animation, rest, out);
      break;
    case Cal3DKind::Mesh:
      reading.reason = ReadMesh(in, candidate.mesh, out, reading.morphs);
      break;
    case Cal3DKind::Material:
      reading.reason = ReadMaterial(in, candidate.mapTypes, out);
      break;
  }
  if (reading.reason == nullptr && !in.AtEnd()) reading.reason = "bytes left after the end";
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

thread_local std::string lastReason;

const char* Say(const std::string& text) {
  lastReason = text;
  return lastReason.c_str();
}

const char* Translate(Cal3DKind kind, const uint8_t* bytes, size_t size, NewerCal3DContext& context,
                      std::vector<uint8_t>& out) {
  context.morphTargets.clear();
  context.layout = "";
  if (size < 8) return "truncated header";
  if (std::memcmp(bytes, Magic(kind), 4) != 0) return "not a binary Cal3D file of this kind";
  int32_t version = 0;
  std::memcpy(&version, bytes + 4, 4);
  if (version < kOldestVersion || version > kNewestVersion)
    return Say("unsupported file version " + std::to_string(version) + " (Cal3D writes 699 to " +
               std::to_string(kNewestVersion) + ")");

  const std::vector<Candidate> candidates = Candidates(kind, version);
  std::vector<Reading> readings(candidates.size());
  Reading* kept = nullptr;
  const Candidate* keptLayout = nullptr;
  std::string failures;
  for (size_t i = 0; i < candidates.size(); i++) {
    Reading& reading = readings[i];
    ReadCandidate(kind, candidates[i], bytes, size, context.restTranslations, reading);
    if (reading.reason != nullptr) {
      failures +=
          std::string(failures.empty() ? "" : "; ") + candidates[i].name + ": " + reading.reason;
      continue;
    }
    if (kept == nullptr) {
      kept = &reading;
      keptLayout = &candidates[i];
    } else if (kept->bytes != reading.bytes || !SameMorphs(kept->morphs, reading.morphs)) {
      return Say("version " + std::to_string(version) + ": layouts \"" + keptLayout->name +
                 "\" and \"" + candidates[i].name + "\" both fit and disagree");
    }
  }
  if (kept == nullptr)
    return Say("version " + std::to_string(version) + ": no layout fits (" + failures + ")");

  context.layout = keptLayout->name;
  if (kind == Cal3DKind::Mesh) {
    // Counted blocks come from 2017 on, when the data had long been deltas.
    const bool absolute = !keptLayout->mesh.counted && HoldsAbsoluteTargets(kept->morphs);
    MakeDense(kept->morphs, absolute, context.morphTargets);
  }
  out.swap(kept->bytes);
  return nullptr;
}

}  // namespace

bool NeedsNewerTranslation(Cal3DKind kind, const uint8_t* bytes, size_t size) {
  if (size < 8 || std::memcmp(bytes, Magic(kind), 4) != 0) return false;
  int32_t version = 0;
  std::memcpy(&version, bytes + 4, 4);
  // Past the newest too, so that the refusal names the version.
  return IsLineage(version) || version > 1100;
}

const char* TranslateNewerCal3D(Cal3DKind kind, const uint8_t* bytes, size_t size,
                                NewerCal3DContext& context, std::vector<uint8_t>& out) {
  try {
    return Translate(kind, bytes, size, context, out);
  } catch (const std::bad_alloc&) {
    context.morphTargets.clear();
    return "out of memory";
  }
}

}  // namespace rigweave
