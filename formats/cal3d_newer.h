// Binary Cal3D files from exporters built on Cal3D's newer line (versions up
// to 1301) and from the 911-919 lineage, rewritten into the one layout Cal3D
// 0.11 reads. The same version number has meant different bytes over the
// years, so every layout a version has been written in is parsed in full;
// the one that ends exactly at the end of the file and passes the sanity
// checks (counts in range, ids in range and strictly increasing) is kept.
// When no layout fits, or two fit and disagree, the file is refused.
//
// What 0.11 has no place for is dropped: skeleton lights and scene ambient,
// vertex colours, morph texture coordinates, material map types, track flags.
// Compressed tracks are decoded into plain keyframes, and the sparse morph
// blocks of a mesh come back as dense morph targets (every vertex's position
// and normal), which the caller adds to the sub-meshes Cal3D reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"

namespace rigweave {

// A morph target of one sub-mesh as Cal3D 0.11 holds it: the target's
// position and normal for every vertex of the sub-mesh (3 floats each).
struct DenseMorphTarget {
  int submesh = 0;
  // The name the file gives it; 0.11 keeps no name, the caller may.
  std::string name;
  std::vector<float> positions;
  std::vector<float> normals;
};

// What a translation needs besides the file and gives back besides bytes.
struct NewerCal3DContext {
  // In, for animations: the rest translation (x, y, z relative to the
  // parent) of each bone of the skeleton loaded before, which compressed
  // tracks leave out.
  std::vector<float> restTranslations;
  // Out, for meshes: the morph targets, sub-mesh by sub-mesh in file order.
  std::vector<DenseMorphTarget> morphTargets;
  // Out: the layout that was read, e.g. "1300 (morph blocks counted)".
  const char* layout = "";
};

// At most this many dense blend vertices per mesh (morph targets times their
// sub-mesh's vertices). A morph block may list no vertex at all yet costs
// Cal3D 24 bytes for every vertex of its sub-mesh: without a bound a file of
// kilobytes could ask for gigabytes. The largest real export seen holds
// 75 702; this is 55 times that, 100 MB as Cal3D stores them.
constexpr size_t kMaxDenseBlendVertices = size_t{1} << 22;

// Whether a binary file of this kind and these first bytes is one Cal3D 0.11
// cannot read as it is but TranslateNewerCal3D can: versions 911 to 919 and
// 1101 to 1301 (and later ones, which it refuses naming them). Anything else
// (older versions, XML, another magic) is left to the 0.11 checks.
bool NeedsNewerTranslation(Cal3DKind kind, const uint8_t* bytes, size_t size);

// Rewrites the binary file `bytes` of `kind` in the 0.11 layout (version
// 1100) into `out`. Null on success; otherwise why not, naming the version
// and what did not fit. The text stays valid until the next call on the same
// thread. `context.restTranslations` must hold 3 floats for each bone an
// animation track names. Counts are bounded by the bytes that hold them, and
// what is allocated by a small multiple of the file's size (dense morph
// targets by kMaxDenseBlendVertices).
const char* TranslateNewerCal3D(Cal3DKind kind, const uint8_t* bytes, size_t size,
                                NewerCal3DContext& context, std::vector<uint8_t>& out);

}  // namespace rigweave
