#include "viewer/model_place.h"

#include <algorithm>

#include "tools/model_files.h"
#include "viewer/failure.h"

namespace rwview {
namespace {

namespace fs = std::filesystem;

std::string RootOf(const Options& options) {
  return options.root.empty() ? "." : options.root;
}

// A name below the root's models/, as the module names it.
Model BelowRoot(const std::string& root, const std::string& name) {
  RequireModelsFolder(root);
  Model model;
  model.name = name;
  model.folder = fs::path(root) / "models";
  model.belowRoot = true;
  model.config = Absolute(model.Path(name));
  std::string reason;
  if (!rwtools::ReadConfig(model.Path(name), model.entries, reason)) {
    if (reason == rigweave::FileErrorText(rigweave::FileError::Missing))
      throw Failure{"unknown model " + name + ": there is no file models/" + name};
    throw Failure{"model " + name + ": models/" + name + " cannot be read (" + reason + ")"};
  }
  return model;
}

// The path of a configuration anywhere. Its values are taken relative to
// the nearest folder above it named models when its skeleton is found there
// (a model of another root), and otherwise relative to its own folder, as
// exporters leave them.
Model WhereItLies(const std::string& name) {
  Model model;
  std::error_code error;
  const fs::path file = fs::absolute(name, error).lexically_normal();
  std::string reason;
  if (error || !rwtools::ReadConfig(file.string(), model.entries, reason))
    throw Failure{"model " + name + " cannot be read (" + (error ? error.message() : reason) + ")"};
  fs::path base = file.parent_path();
  const std::vector<std::string> skeletons = model.entries.Values(rigweave::ConfigKey::Skeleton);
  for (fs::path up = base; up.has_relative_path(); up = up.parent_path()) {
    if (up.filename() != "models") continue;
    if (up == base || (!skeletons.empty() && fs::exists(up / skeletons.front(), error))) base = up;
    break;
  }
  model.name = file.lexically_relative(base).string();
  model.folder = base;
  model.config = file.string();
  return model;
}

std::string Resolve(const Model& model, const std::string& asked) {
  const rwtools::AnimationLookup lookup = rwtools::FindAnimation(model.animations, asked);
  switch (lookup.result) {
    case rwtools::AnimationLookup::Found:
      break;
    case rwtools::AnimationLookup::Ambiguous:
      throw Failure{"model " + model.name + ": " + asked + " names several animations (" +
                    rwtools::JoinNames(lookup.others) + "); give the whole name"};
    case rwtools::AnimationLookup::Unknown:
      throw Failure{"model " + model.name + " has no animation named " + asked +
                    " (it has: " + rwtools::JoinNames(model.animations) + ")"};
  }
  return lookup.name;
}

// Below the root's models/ when it names something there, or when it names
// no file at all (so that the error speaks of models/).
Model PlaceModel(const Options& options, const std::string& name) {
  std::error_code error;
  const fs::path below = fs::path(RootOf(options)) / "models" / name;
  const bool belowRoot =
      (fs::path(name).is_relative() && fs::exists(fs::symlink_status(below, error))) ||
      !fs::is_regular_file(name, error);
  Model model = belowRoot ? BelowRoot(RootOf(options), name) : WhereItLies(name);
  model.animations = model.entries.AnimationNames();
  return model;
}

}  // namespace

std::string DefaultRoot() {
  std::error_code error;
  if (fs::is_directory("models", error)) return ".";
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  const fs::path above = program.parent_path().parent_path();
  for (const fs::path& root : {above, above / RIGWEAVE_INSTALL_DATADIR / "rigweave"}) {
    if (fs::is_directory(root / "models", error)) return root.lexically_normal().string();
  }
  return ".";
}

void RequireModelsFolder(const std::string& root) {
  std::error_code error;
  const fs::path models = fs::path(root) / "models";
  if (fs::is_directory(models, error)) return;
  fs::path here = fs::canonical(root, error);
  if (error) here = Absolute(root);
  throw Failure{"no models/ folder in " + here.string() +
                (!fs::exists(fs::symlink_status(models, error)) || error
                     ? ""
                     : " (models cannot be entered)")};
}

std::vector<Model> ReadModels(const Options& options) {
  std::vector<Model> models;
  if (options.empty) {
    RequireModelsFolder(RootOf(options));
    return models;
  }
  for (const std::string& name : options.models) {
    Model model = PlaceModel(options, name);
    if (options.cycle.empty()) {
      if (!model.animations.empty()) model.cycle = model.animations.front();
    } else {
      model.cycle = Resolve(model, options.cycle);
    }
    for (const TimedAction& action : options.actions)
      model.actions.push_back(Resolve(model, action.name));
    models.push_back(std::move(model));
  }
  return models;
}

std::vector<Model> ReadProps(const Options& options) {
  std::vector<Model> props;
  if (options.empty) return props;
  for (const PropOption& prop : options.props) props.push_back(PlaceModel(options, prop.model));
  return props;
}

std::string CycleText(const std::vector<Model>& models) {
  std::vector<std::string> cycles;
  for (const Model& model : models) {
    const std::string text = model.cycle.empty() ? "rest pose" : "cycle " + model.cycle;
    if (std::find(cycles.begin(), cycles.end(), text) == cycles.end()) cycles.push_back(text);
  }
  return cycles.empty() ? "no cycle" : rwtools::JoinNames(cycles);
}

}  // namespace rwview
