// Writing Cal3D files the ways they circulate: through Cal3D's own saver,
// which picks XML by the file's extension and stamps version 1100, with an
// older version stamped into a binary file, and materials in the XML layout
// of file versions 900 to 910.
#pragma once

#include <cal3d/corematerial.h>

#include <string>
#include <vector>

namespace rwsample {

// Cal3D 0.11 reads binary files of versions 699 to 1100 in one layout; the
// version is the 4-byte word after the magic.
constexpr int kSaverVersion = 1100;

// The version in a binary file Cal3D's saver wrote. Throws on failure.
void StampBinaryVersion(const std::string& path, int version);

struct MaterialDef {
  std::string name;
  CalCoreMaterial::Color ambient, diffuse, specular;
  float shininess = 0;
  std::vector<std::string> maps;
};

CalCoreMaterialPtr ToCalMaterial(const MaterialDef& def);

// The layout of file versions 900-910: a HEADER element with the magic and
// the version, then <MATERIAL NUMMAPS="n"> without a version of its own.
std::string HeaderLayoutMaterialXml(const MaterialDef& def, int version);

}  // namespace rwsample
