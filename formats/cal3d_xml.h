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

namespace rigweave {

// Turns the XML file `bytes` of `kind` into the binary file Cal3D would have
// written for the same content. Null on success; otherwise why the file is
// not one Cal3D's XML reader reads, or not safely: not XML, no root element
// of the kind (an optional HEADER element may come first, as in files of
// versions 900 to 910), a magic of another kind, a version before 699, an
// element or attribute missing or out of its place, a number that does not
// read. Counts are not trusted: nothing is reserved for them, and the binary
// checks judge the result as they judge any binary file.
const char* ConvertXmlToBinary(Cal3DKind kind, const uint8_t* bytes, size_t size,
                               std::vector<uint8_t>& binary);

}  // namespace rigweave
