// The report on a model's maps: which maps its materials name, and for one
// the module could not read, why, and the command (rigweave-import or
// rigweave-raw) that makes it readable.
#pragma once

#include <string>
#include <vector>

#include "formats/config.h"

namespace rwtools {

// Each map of one material a configuration names, as Cal3D reads it.
struct MaterialMaps {
  std::string file;     // as the configuration names it
  std::string problem;  // why the material could not be read, or empty
  std::vector<std::string> maps;
};

// The materials of `config`, whose values start from `folder`.
std::vector<MaterialMaps> ReadMaterialMaps(const std::string& folder,
                                           const rigweave::ConfigFile& config);

// Why map `map` (a path relative to `folder`) cannot be a texture of the
// module, and in `fix` the command that makes it one ("" when none): the
// import of the whole configuration at `configPath` into `importRoot` for a
// picture, rigweave-raw for a raw texture missing beside a picture.
std::string MapProblem(const std::string& folder, const std::string& map,
                       const std::string& configPath, const std::string& importRoot,
                       std::string& fix);

// `path` as a shell reads it back: quoted when it holds anything a shell
// would take apart.
std::string ShellQuoted(const std::string& path);

}  // namespace rwtools
