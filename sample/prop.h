// A prop to hang on the sample character's hand: a sword with a
// configuration of its own (sword.cfg), one bone, no animation.
#pragma once

#include <functional>
#include <string>

#include "sample/mesh_builder.h"

namespace rwsample {

// Writes sword.cfg and the files it names into `dir`, each sub-mesh given
// level-of-detail data by `addLevelOfDetail` as the characters' are. Throws
// on failure.
void WriteSword(const std::string& dir, const std::function<void(Submesh&)>& addLevelOfDetail);

}  // namespace rwsample
