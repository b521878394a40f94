// Cal3D files as exporters of Cal3D's newer line (versions up to 1301) and
// of the 911-919 lineage write them, in each layout those versions have had:
// written byte by byte from Cal3D 0.11 objects, since no newer Cal3D is at
// hand. The morph targets and morph animations are defined here too, so that
// tests know what the files are meant to hold.
#pragma once

#include <cal3d/cal3d.h>

#include <string>
#include <vector>

namespace rwsample {

// ---------------------------------------------------------------------------
// What the files hold beyond the 0.11 objects they are written from

struct MorphRecordDef {
  int vertex = 0;
  float dp[3] = {0, 0, 0};  // position and normal deltas
  float dn[3] = {0, 0, 0};
};

struct MorphDef {
  int submesh = 0;
  std::string name;
  std::vector<MorphRecordDef> records;  // vertex ids strictly increasing
};

// The face morphs of a mesh: for each sub-mesh with vertices above
// `headLevel` (model z), sparse deltas that open the mouth, raise the brows,
// puff the cheeks (named by the hex of its UTF-8 name, as exporters write
// non-ASCII names) and lift the hair; sub-meshes get different numbers of them.
std::vector<MorphDef> FaceMorphs(CalCoreMesh& mesh, float headLevel);
// The head of a character made of these meshes: its top 13%.
float HeadLevel(const std::vector<CalCoreMesh*>& meshes);

// ---------------------------------------------------------------------------
// Layouts

enum class SkeletonLayout {
  Plain,          // 0.11 and the newer line's head
  AmbientLights,  // scene ambient after the bone count, a light per bone (2009 to 2017, 911-919)
  Lights,         // a light per bone only (March 2017)
};
std::string SkeletonFile(CalCoreSkeleton& skeleton, int version, SkeletonLayout layout);

enum class AnimationLayout {
  Plain,                  // duration, track count, plain tracks
  U12Plain,               // 1200 of 0.12: track flags 0
  U12MinScale,            // 1200 of 0.12: track flags 1, min/scale tracks
  CompressionFlagPlain,   // 1300: compression flag 0
  CompressionFlagPacked,  // 1300: compression flag 1, bit-packed tracks
  FlagsPlain,             // 1301 and 1300 of 2009-2017: compression flag 0, track flags
  FlagsPacked,            // the same with bit-packed tracks
  LineagePacked,          // 913-918: bit-packed, no flag (916, 917: raw floats follow)
};
// `highRange` forces the 10-byte translation blocks on every packed track.
std::string AnimationFile(CalCoreAnimation& animation, CalCoreSkeleton& skeleton, int version,
                          AnimationLayout layout, bool highRange = false);

enum class MeshLayout {
  Plain,                 // 0.11
  Counted,               // the head: a morph count per sub-mesh, counted blocks of deltas
  ColoursEnded,          // 2015-2017: vertex colours, blocks ended by an id, deltas
  ColoursEndedAbsolute,  // before 2015 and 911-919: the same with absolute targets
  Ended,                 // March 2017: no vertex colours, blocks ended by an id
};
std::string MeshFile(CalCoreMesh& mesh, int version, MeshLayout layout,
                     const std::vector<MorphDef>& morphs);

// The XML mesh Cal3D's saver wrote (`saverXml`) as the newer line writes it
// at 1300: a COLOR after each vertex normal and the morphs as MORPH elements
// of BLENDVERTEX deltas after the springs.
std::string MeshXml(const std::string& saverXml, const std::vector<MorphDef>& morphs);

std::string MaterialFile(CalCoreMaterial& material, int version, bool mapTypes);

// ---------------------------------------------------------------------------
// Morph animations

struct MorphTrackDef {
  int morphId = 0;
  std::string morphName;
  int meshId = 0;
  std::vector<int> submeshes;
  std::vector<std::pair<float, float>> keyframes;  // time, weight
};
// A two-second face loop over the morphs FaceMorphs gives mesh 0.
std::vector<MorphTrackDef> FaceTracks(const std::vector<MorphDef>& morphs, float& duration);

// VERSION="1300" with the 1301 layout, as a real export writes it; or the
// older layout whose tracks name their target.
std::string MorphAnimationXml(const std::vector<MorphTrackDef>& tracks, float duration,
                              bool byName);
enum class CpfLayout { Loader, Saver, Named };
std::string MorphAnimationBinary(const std::vector<MorphTrackDef>& tracks, float duration,
                                 CpfLayout layout);

// Writes models/newer/ and the configurations that use it into `dir`,
// reading the 0.11 sample files already there (hero.csf, the animations,
// hero_body.cmf, hero_gear.cmf, the materials).
void WriteNewerCharacters(const std::string& dir);

}  // namespace rwsample
