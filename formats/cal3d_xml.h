// Cal3D's XML files (.xsf, .xaf, .xmf, .xrf) hold what its binary files
// hold. Exporters write them, often mixed with binary files in one
// character. They are read here as Cal3D's own XML reader reads them and
// written out in the binary layout, so that one set of checks and one Cal3D
// reader, the binary one from memory, serve both forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_newer.h"

namespace rigweave {

// What an XML file may cost. tinyxml2, like Cal3D's own XML reader, builds
// the whole document in memory: measured, about 120 bytes a node (each tag
// and each text between tags) besides a copy of the file, so that a file of
// empty elements costs 33 times its size. Exporters write about 26 bytes of
// file a tag (the sample's body: 1.66 MB, 63,896 tags; a vertex about 14
// tags), so these bounds take one file of some 150,000 vertices, thirty
// times the sample's body, and hold the document to about 250 MB.
constexpr size_t kMaxXmlFileBytes = size_t{64} << 20;
constexpr size_t kMaxXmlTags = size_t{1} << 21;

// Turns the XML file `bytes` of `kind` into the binary file Cal3D would have
// written for the same content. Null on success; otherwise why the file is
// not one Cal3D's XML reader reads, or not safely: larger than the bounds
// above (counted before anything is parsed), not XML, no root element
// of the kind (an optional HEADER element may come first, as in files of
// versions 900 to 910), a magic of another kind, a version before 699, an
// element or attribute missing or out of its place, a number that does not
// read. Counts are not trusted: nothing is reserved for them, and the binary
// checks judge the result as they judge any binary file.
// Names compared as Cal3D compares element names and magics (stricmp):
// ASCII letters in either case.
bool SameCal3DName(const char* a, const char* b);

// A mesh of Cal3D's newer line may hold vertex colours (COLOR, dropped) and
// morph targets (MORPH elements of BLENDVERTEX deltas), which 0.11's files
// cannot: the targets come back dense in `morphTargets` (when given), one
// per MORPH in file order, for the caller to add to the mesh.
const char* ConvertXmlToBinary(Cal3DKind kind, const uint8_t* bytes, size_t size,
                               std::vector<uint8_t>& binary,
                               std::vector<DenseMorphTarget>* morphTargets = nullptr);

}  // namespace rigweave
