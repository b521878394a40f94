// What the viewer says of a model besides its pictures: a line on standard
// error per map the module could not read, and --list's account of the
// configuration as the module and Cal3D see it.
#pragma once

#include <string>

#include "irigweavestate.h"
#include "viewer/model_place.h"

namespace rwview {

// One line per map the module could not read, with the command that fixes
// it; `startFolder` is where an import would be written.
void ReportMaps(const Model& model, const std::string& startFolder);

// --list: scale, skeleton, animations (each one's duration as `state`, the
// model loaded, gives it, the one played marked, and those in which no bone
// moves), meshes and sub-meshes, materials and their maps, on standard output.
void ListModel(const Model& model, const std::string& startFolder, iRigweaveState& state);

}  // namespace rwview
