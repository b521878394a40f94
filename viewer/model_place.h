// Where each model named on the command line lies, read before anything is
// loaded: its configuration's lines, the folder its values start from, and
// the animations asked for by name, so that a wrong name stops the run
// before the first frame.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "formats/config.h"
#include "host/math_types.h"
#include "viewer/options.h"

namespace rwview {

// What the viewer knows of one configuration besides what the module loads.
struct Model {
  std::string name;              // relative to `folder`, as the module is given it
  std::filesystem::path folder;  // the model folder its values start from
  bool belowRoot = false;        // `folder` is the root's models/, the module's default
  std::string config;            // the configuration's path as the user may type it again
  rigweave::ConfigFile entries;
  std::vector<std::string> animations;  // the module's names, in configuration order
  std::string cycle;                    // empty: the rest pose
  std::vector<std::string> actions;     // the module's names of options.actions
  std::set<std::string> loadedMaps;     // maps the module made a material of
  csVector3 size{0, 0, 0};              // of the first frame's drawn vertices

  std::string Path(const std::string& file) const { return (folder / file).string(); }
};

// The root when none is given: the current folder when it holds models/,
// else the sample characters beside the program (the build folder, or
// share/rigweave of the prefix it is installed in), else the current folder.
std::string DefaultRoot();

// Throws Failure when the root has no models/ folder that can be entered.
void RequireModelsFolder(const std::string& root);

// Every model of the command line, placed and with its animations resolved;
// none for --empty (whose root must still hold models/). Throws Failure.
std::vector<Model> ReadModels(const Options& options);

// The models of --attach, one per option in its order, placed as the
// characters' are and kept in their rest pose. Throws Failure.
std::vector<Model> ReadProps(const Options& options);

// "cycle walk", "rest pose", or each different one of several models.
std::string CycleText(const std::vector<Model>& models);

}  // namespace rwview
