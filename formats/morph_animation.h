// Morph animations (.xpf, XML, and .cpf, binary) from Cal3D's newer line: a
// duration and tracks of keyframed weights, each track driving one morph
// target of some sub-meshes of one mesh. Cal3D 0.11 has no object that holds
// keyframed weights, so they are read into the plain structure below, which
// a player evaluates with MorphTrackWeight each frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rigweave {

struct MorphKeyframe {
  float time = 0;
  float weight = 0;
};

struct MorphTrack {
  // The morph target's index in each listed sub-mesh, or -1 when the track
  // names its target instead (the older layout), by `morphName`.
  int morphId = -1;
  std::string morphName;
  // The mesh by the order of the configuration's mesh lines, from 0, and
  // the sub-meshes of it the weight is written to. A named track lists none:
  // it applies to every sub-mesh that has a target of that name.
  int meshId = 0;
  std::vector<int> submeshes;
  // Sorted by time; keyframes of equal time keep their file order.
  std::vector<MorphKeyframe> keyframes;
};

struct MorphAnimation {
  float duration = 0;
  std::vector<MorphTrack> tracks;
  // The layout that was read, e.g. "XML, tracks by morph id".
  const char* layout = "";
};

// Cal3D's newer line tells the XML form by the extension .xpf, in any case;
// anything else is read as binary.
bool NamesMorphAnimationXml(std::string_view name);

// Reads the morph animation file `name` (for its extension) from `bytes`.
// Null on success; otherwise why not: not the kind of file, a duration that
// is not a finite positive number, no tracks, a count, id or number that
// does not read or is out of range, a layout that does not end at the end
// of the file. The binary form has been written in three layouts (the
// newer loader's, its saver's, and the older one that names its targets);
// each is parsed in full and the one that ends exactly at the end is kept.
// What is allocated is bounded by the file's size.
const char* ReadMorphAnimation(std::string_view name, const uint8_t* bytes, size_t size,
                               MorphAnimation& animation);

// The weight a track gives at `time` as the newer line's mixer computes it:
// linear between the two keyframes around it, 0 before the first keyframe
// and from the last one on (a track of one keyframe is always 0).
float MorphTrackWeight(const MorphTrack& track, float time);

// Whether every track's target exists in a model whose mesh m (in the order
// of the mesh lines) has, in sub-mesh s, the morph targets named
// morphNames[m][s]: null, or why not. A track by id must name a mesh, its
// sub-meshes and a morph index each of them has; a track by name may match
// nothing, as the newer line then writes no weight.
const char* CheckMorphTargets(const MorphAnimation& animation,
                              const std::vector<std::vector<std::vector<std::string>>>& morphNames);

}  // namespace rigweave
