// The parts of the newer Cal3D files' translation (cal3d_newer.cpp) that
// read animations and meshes, each in a file of its own: the byte writer
// they share, the layouts a version's bytes may have, and the readers. Only
// the translation uses them; the public operations are in cal3d_newer.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/byte_reader.h"
#include "formats/cal3d_newer.h"

namespace rigweave {
namespace newer_cal3d {

constexpr int32_t kTranslatedVersion = 1100;
constexpr int32_t kMaxTextureSets = 16;

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
// Animations (cal3d_newer_animation.cpp)

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

// The animation after the header's version, written into `out` as 0.11's
// keyframes; `rest` holds each bone's rest translation. Null, or why not.
const char* ReadAnimation(In& in, const AnimationLayout& layout, const std::vector<float>& rest,
                          Out& out);

// ---------------------------------------------------------------------------
// Meshes (cal3d_newer_mesh.cpp)

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

// The mesh after the header's version, written into `out` in 0.11's layout,
// its sparse morph blocks and each sub-mesh's base into `morphs`. Null, or
// why not.
const char* ReadMesh(In& in, const MeshLayout& layout, Out& out, MeshMorphs& morphs);

// Files from before 2015 hold each listed vertex's target position and
// normal rather than the difference from the base. The data does not say
// which; absolute targets lie near the base and have unit normals, deltas
// lie near the origin and their normals are far from unit length.
bool HoldsAbsoluteTargets(const MeshMorphs& morphs);

// Each sparse morph as a dense target of its sub-mesh, appended to `targets`.
void MakeDense(const MeshMorphs& morphs, bool absolute, std::vector<DenseMorphTarget>& targets);

// Whether two readings found the same morph blocks.
bool SameMorphs(const MeshMorphs& a, const MeshMorphs& b);

}  // namespace newer_cal3d
}  // namespace rigweave
