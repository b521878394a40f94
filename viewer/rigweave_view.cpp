// rigweave-view: shows animated characters the way an application would.
// It loads the module by class id through the component system, makes one
// mesh object per character, loads a model configuration into each through
// iCal3DState and steers their animation, then renders frames with the GL
// backend, off-screen into PNG files or into a window.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/backend_bounds.h"
#include "engine/backend_gl.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "host/ref.h"
#include "ical3dstate.h"
#include "formats/raw_texture.h"
#include "formats/cal3d_objects.h"
#include "tools/model_files.h"
#include "tools/picture.h"
#include "viewer/gl_context.h"
#include "viewer/png.h"
#include "viewer/sheet.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kProgram[] = "rigweave-view";
constexpr uint8_t kBackground[3] = {200, 208, 222};
// Frames are rendered one at a time and only the contact sheet grows with
// their number (it is bounded too); 100000 frames are more than an hour at
// 24 fps.
constexpr int kMaxFrames = 100000;
constexpr int kMaxCrowd = 10000;
constexpr int kMaxSide = 8192;  // a frame of 8192 x 8192 takes 192 MiB, its GL buffer 256 MiB

const char kDescription[] =
    "Renders the characters whose configurations are below models/ (hero.cfg when none),\n"
    "framed from what they draw, playing each one's first animation unless --cycle says.\n"
    "Window keys: 1-9 cycles, space action, +/- detail, arrows orbit, PgUp/PgDn or wheel\n"
    "zoom, Esc or q quits.";

struct TimedAction {
  std::string name;  // as given
  double seconds = 0;
  bool done = false;
};

struct Options {
  std::string root;
  std::string module;
  std::vector<std::string> models;
  int frames = 24;
  bool framesGiven = false;
  double fps = 24;
  int width = 320, height = 240;
  std::string out;
  std::string screenshot;
  std::string cycle;  // empty: each model's first animation
  std::vector<TimedAction> actions;
  double lod = 1.0;
  double zoom = 1.0;
  int crowd = 0;
  bool mirror = false;
  bool empty = false;
  bool window = false;
  bool verbose = false;
  bool quiet = false;
  bool list = false;
  rwview::Offscreen offscreen = rwview::Offscreen::Any;
  std::string startFolder;  // where the program was started, for the commands it suggests
};

// Thrown for anything wrong on the command line; main prints it with a hint.
struct BadArguments {
  std::string text;
};
// Thrown for anything that stops the run later; main prints it alone.
struct Failure {
  std::string text;
};

bool ParseInt(const std::string& text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < -1000000000L || parsed > 1000000000L)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseDouble(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

Options ParseArguments(int argc, char** argv) {
  Options options;
  CLI::App app(kDescription, kProgram);
  std::string frames, fps, size, lod, zoom, crowd, offscreen = "auto";
  std::vector<std::string> actions;
  // As with most programs, a later value of an option replaces an earlier one.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("MODEL.cfg", options.models, "configurations below models/ (default hero.cfg)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--root", options.root, "folder holding models/ (default: the current folder)");
  app.add_option("--module", options.module,
                 "the module file (default: rigweave.so beside this program)");
  app.add_option("--frames", frames, "frames to render (default 24, at most 100000)");
  app.add_option("--fps", fps, "animation clock steps of 1000/F ms a frame (default 24)");
  app.add_option("--size", size, "picture size WxH, 16 to 8192 each (default 320x240)");
  app.add_option("--out", options.out, "write frame_NNNN.png per frame and sheet.png into DIR");
  app.add_option("--screenshot", options.screenshot, "write the last frame to PATH");
  app.add_option("--cycle", options.cycle,
                 "cycle to play: the module's name or the file's base name (default: the first)");
  app.add_option("--action", actions, "play NAME once, SECONDS in: NAME@SECONDS (repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--lod", lod, "level of detail, 0 to 1 (default 1)");
  app.add_option("--zoom", zoom,
                 "show the characters F times as large as framed (0.01 to 100, default 1)");
  app.add_option("--crowd", crowd, "N characters in a grid (at most 10000)");
  app.add_option("--offscreen", offscreen, "off-screen GL: auto (EGL, else OSMesa), egl, osmesa");
  app.add_flag("--mirror", options.mirror, "mirrored camera");
  app.add_flag("--empty", options.empty, "no characters, background only");
  app.add_flag("--list", options.list,
               "print the animations, meshes, materials and maps of each model, and stop");
  app.add_flag("--verbose", options.verbose, "show the module's loading messages");
  app.add_flag("--quiet", options.quiet, "hide the lines about maps that did not load");
  app.add_flag("--window", options.window, "interactive window (SDL2)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    std::exit(0);
  } catch (const CLI::ParseError& error) {
    throw BadArguments{error.what()};
  }

  auto count = [](const std::string& name, const std::string& text, int most, int& value) {
    if (!ParseInt(text, value) || value <= 0 || value > most)
      throw BadArguments{name + " " + text + ": not a count from 1 to " + std::to_string(most)};
  };
  if (!frames.empty() || app.count("--frames") > 0) {
    count("--frames", frames, kMaxFrames, options.frames);
    options.framesGiven = true;
  }
  if (app.count("--fps") > 0 &&
      (!ParseDouble(fps, options.fps) || options.fps <= 0 || options.fps > 1000))
    throw BadArguments{"--fps " + fps + ": not a frame rate"};
  if (app.count("--size") > 0) {
    const size_t x = size.find('x');
    if (x == std::string::npos || !ParseInt(size.substr(0, x), options.width) ||
        !ParseInt(size.substr(x + 1), options.height) || options.width < 16 ||
        options.height < 16 || options.width > kMaxSide || options.height > kMaxSide)
      throw BadArguments{"--size " + size + ": not WIDTHxHEIGHT (16 to 8192 each)"};
  }
  for (const std::string& text : actions) {
    const size_t at = text.rfind('@');
    TimedAction action;
    if (at == std::string::npos || at == 0 || !ParseDouble(text.substr(at + 1), action.seconds) ||
        action.seconds < 0)
      throw BadArguments{"--action " + text + ": not NAME@SECONDS"};
    action.name = text.substr(0, at);
    options.actions.push_back(action);
  }
  if (app.count("--lod") > 0 &&
      (!ParseDouble(lod, options.lod) || options.lod < 0 || options.lod > 1))
    throw BadArguments{"--lod " + lod + ": not a level between 0 and 1"};
  if (app.count("--zoom") > 0 &&
      (!ParseDouble(zoom, options.zoom) || options.zoom < 0.01 || options.zoom > 100))
    throw BadArguments{"--zoom " + zoom + ": not a factor from 0.01 to 100"};
  if (app.count("--crowd") > 0) count("--crowd", crowd, kMaxCrowd, options.crowd);
  if (offscreen == "egl")
    options.offscreen = rwview::Offscreen::Egl;
  else if (offscreen == "osmesa")
    options.offscreen = rwview::Offscreen::OsMesa;
  else if (offscreen != "auto")
    throw BadArguments{"--offscreen " + offscreen + ": not auto, egl or osmesa"};
  if (app.count("--out") > 0 && options.out.empty())
    throw BadArguments{"--out needs a folder name"};
  if (app.count("--screenshot") > 0 && options.screenshot.empty())
    throw BadArguments{"--screenshot needs a file name"};
  if (app.count("--cycle") > 0 && options.cycle.empty())
    throw BadArguments{"--cycle needs an animation name"};

  if (options.models.empty()) options.models.push_back("hero.cfg");
  if (options.window && !options.framesGiven && !options.out.empty())
    throw BadArguments{"--out with --window needs --frames"};
  // Output paths are taken from where the program was started, before --root moves us.
  options.out = Absolute(options.out);
  options.screenshot = Absolute(options.screenshot);
  options.module = Absolute(options.module);
  options.startFolder = Absolute(".");
  return options;
}

std::string ExecutableFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

// Beside the program in the build tree; in lib/rigweave/ once installed.
std::string FindModule(const Options& options) {
  if (!options.module.empty()) return options.module;
  const fs::path here = ExecutableFolder();
  for (const fs::path& candidate :
       {here / "rigweave.so", here / ".." / RIGWEAVE_INSTALL_LIBDIR / "rigweave" / "rigweave.so"}) {
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate.lexically_normal().string();
  }
  return (here / "rigweave.so").string();
}

// The engine's clock, driven by the viewer so that a command gives the same
// pictures every time.
struct Clock {
  static csTicks Read(void* self) { return static_cast<Clock*>(self)->now; }
  csTicks now = 100000;
};

// While alive, what the module prints on standard output goes elsewhere, so
// that standard output carries only the viewer's summary.
class StdoutDiversion {
 public:
  explicit StdoutDiversion(int target) {
    std::cout.flush();
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(target, STDOUT_FILENO);
  }
  ~StdoutDiversion() {
    std::cout.flush();
    std::fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  int saved_ = -1;
};

// What the viewer knows of one configuration besides what the module loads.
struct Model {
  std::string name;    // below models/, as the module is given it
  std::string root;    // the folder that holds that models/ ("" for the current one)
  fs::path folder;     // the folder that serves as models/, where its files are read
  std::string config;  // the configuration's path as the user may type it again
  rigweave::ConfigFile entries;
  std::vector<std::string> animations;  // the module's names, in configuration order
  std::string cycle;                    // empty: the rest pose
  std::vector<std::string> actions;     // the module's names of options.actions
  std::set<std::string> loadedMaps;     // maps the module made a material of
  csVector3 size{0, 0, 0};              // of the first frame's drawn vertices
};

struct Character {
  Model* model = nullptr;
  csRef<iMeshObject> mesh;
  csRef<iCal3DState> state;
  csRef<rwengine::Movable> movable;
};

struct Orbit {
  csVector3 center{0, 1, 0};
  double distance = 3.5;
  double yaw = 0.35;  // radians about +y, 0 looking at the characters' faces
  double pitch = 0.12;

  csOrthoTransform Transform() const {
    const csVector3 eye =
        center + csVector3(static_cast<float>(std::sin(yaw) * std::cos(pitch) * distance),
                           static_cast<float>(std::sin(pitch) * distance),
                           static_cast<float>(std::cos(yaw) * std::cos(pitch) * distance));
    csOrthoTransform transform;
    transform.SetOrigin(eye);
    transform.LookAt(center, csVector3(0, 1, 0));
    return transform;
  }
};

// Grid positions, centred on the origin, `spacing` apart, for `count` characters.
std::vector<csVector3> Placements(int count, float spacing) {
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  std::vector<csVector3> positions;
  for (int i = 0; i < count; i++) {
    const int column = i % columns, row = i / columns;
    positions.emplace_back((column - (columns - 1) / 2.0f) * spacing, 0.0f,
                           (row - (rows - 1) / 2.0f) * spacing);
  }
  return positions;
}

// The share of the picture's height the characters take, and of its width at most.
constexpr double kFramedHeight = 2.0 / 3.0;
constexpr double kFramedWidth = 0.92;

// Looks at the box from the front and a little aside, from the distance at
// which its corners fill kFramedHeight of the picture's height (or
// kFramedWidth of its width, whichever is reached first), whatever the box's
// size, then centres its picture.
Orbit FrameBox(const csVector3& low, const csVector3& high, bool crowd, float focalLength,
               int width, int height) {
  std::vector<csVector3> corners;
  for (int i = 0; i < 8; i++)
    corners.emplace_back(i & 4 ? high.x : low.x, i & 2 ? high.y : low.y, i & 1 ? high.z : low.z);
  Orbit orbit;
  orbit.center = (low + high) * 0.5f;
  if (crowd) orbit.pitch = 0.4;
  const double halfWidth = kFramedWidth * width / 2.0, halfHeight = kFramedHeight * height / 2.0;
  const csVector3 extent = high - low;
  const double size =
      std::max(1e-6, std::sqrt(static_cast<double>(extent.x) * extent.x + extent.y * extent.y +
                               static_cast<double>(extent.z) * extent.z));
  auto fits = [&](double distance) {
    orbit.distance = distance;
    const csOrthoTransform camera = orbit.Transform();
    for (const csVector3& corner : corners) {
      const csVector3 c = camera.Other2This(corner);
      if (c.z <= 0.0f || std::abs(focalLength * c.x / c.z) > halfWidth ||
          std::abs(focalLength * c.y / c.z) > halfHeight)
        return false;
    }
    return true;
  };
  auto fit = [&] {
    double near = 0.0, far = size;
    for (int i = 0; i < 60 && !fits(far); i++) near = far, far *= 2;
    for (int i = 0; i < 50; i++) {
      const double middle = (near + far) / 2;
      (fits(middle) ? far : near) = middle;
    }
    orbit.distance = far;
  };
  // Seen from above and aside, the middle of the box is not the middle of
  // its picture: move what the camera looks at until the picture is centred.
  for (int pass = 0; pass < 4; pass++) {
    fit();
    const csOrthoTransform camera = orbit.Transform();
    csBox2 screen;
    for (const csVector3& corner : corners) {
      const csVector3 c = camera.Other2This(corner);
      screen.AddBoundingVertex(csVector2(c.x / c.z, c.y / c.z));
    }
    const float dx = (screen.minbox.x + screen.maxbox.x) / 2;
    const float dy = (screen.minbox.y + screen.maxbox.y) / 2;
    const float depth = static_cast<float>(orbit.distance);
    orbit.center += camera.This2Other(csVector3(dx * depth, dy * depth, 0)) - camera.GetOrigin();
  }
  fit();
  return orbit;
}

// Frame times, the first frame apart: it uploads the textures and lets the
// GL driver warm up, and would swamp short runs.
struct Timing {
  struct Sum {
    double draw = 0;     // DrawTest and Draw of every object, the backend's time included
    double backend = 0;  // inside the GL backend
    int frames = 0;
  };
  Sum first, rest;
  int frames = 0;
};

void WritePicture(const std::string& path, const rwview::Picture& picture) {
  std::string error;
  if (!rwview::WritePng(path, picture, &error)) throw Failure{error};
}

std::string FramePath(const std::string& folder, int index) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%04d.png", index);
  return (fs::path(folder) / name).string();
}

// Whether `folder` is a folder whose files can be reached (errno says why
// not): what the root must be before anything below it is read.
bool CanEnter(const std::string& folder) {
  struct stat status {};
  if (stat(folder.c_str(), &status) != 0) return false;
  if (!S_ISDIR(status.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return access(folder.c_str(), X_OK) == 0;
}

// Whether a file can be made in `folder` (tried, then removed): permissions
// alone do not tell, for root or on a read-only file system.
bool CanWriteInto(const std::string& folder, std::string& reason) {
  const std::string probe =
      (fs::path(folder) / (".rigweave-view-" + std::to_string(getpid()))).string();
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::string Quoted(const std::string& path) {
  if (path.find_first_of(" \t'\"$\\;&|<>()*?`") == std::string::npos) return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class Viewer {
 public:
  explicit Viewer(Options options) : options_(std::move(options)) {}
  ~Viewer() {
    Release();
    RemoveLinkedRoots();
  }
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  void Run() {
    ReadModels();
    CheckOutputs();
    csSetTickSource(&Clock::Read, &clock_);
    if (!options_.list) {
      OpenContext();
      backend_ = std::make_unique<rwengine::GlBackend>(context_->Api());
      backend_->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
    }
    stage_ = std::make_unique<rwengine::Stage>(backend_.get(), options_.width, options_.height,
                                               options_.root);
    const std::string module = FindModule(options_);
    if (!stage_->LoadModule(module))
      throw Failure{"cannot load the module " + module + ": " + stage_->LastError()};
    MakeCharacters();
    if (options_.list) {
      for (Model& model : models_) List(model);
      return;
    }
    Frame();
    stage_->GetCamera()->SetMirrored(options_.mirror);
    RenderFrames();
    Report();
  }

 private:
  // The folder that holds models/: the module reads below it through the
  // stage's file system, and so does the viewer.
  std::string Root() const { return options_.root.empty() ? "." : options_.root; }
  static std::string ModelPath(const Model& model, const std::string& name) {
    return (model.folder / name).string();
  }

  void RequireModelsFolder() const {
    std::error_code error;
    const fs::path models = fs::path(Root()) / "models";
    if (fs::is_directory(models, error)) return;
    fs::path here = fs::canonical(Root(), error);
    if (error) here = Absolute(Root());
    throw Failure{"no models/ folder in " + here.string() +
                  (!fs::exists(fs::symlink_status(models, error)) || error
                       ? ""
                       : " (models cannot be entered)")};
  }

  // Where a model named on the command line is read from, and its lines:
  // below the root's models/ as the module names it, or else, when the name
  // is the path of a configuration, from that file. Its values are then
  // taken relative to the nearest folder above it named models when its
  // skeleton is found there (a model of another root), and otherwise
  // relative to its own folder, as exporters leave them.
  void Place(const std::string& name, Model& model) {
    std::error_code error;
    const fs::path models = fs::path(Root()) / "models";
    const fs::path given(name);
    if ((given.is_relative() && fs::exists(fs::symlink_status(models / name, error))) ||
        !fs::is_regular_file(given, error)) {
      RequireModelsFolder();
      model.name = name;
      model.root = options_.root;
      model.folder = models;
      model.config = Absolute((models / name).string());
      std::string reason;
      if (!rwtools::ReadConfig(ModelPath(model, name), model.entries, reason)) {
        if (reason == rigweave::FileErrorText(rigweave::FileError::Missing))
          throw Failure{"unknown model " + name + ": there is no file models/" + name};
        throw Failure{"model " + name + ": models/" + name + " cannot be read (" + reason + ")"};
      }
      return;
    }
    const fs::path file = fs::absolute(given, error).lexically_normal();
    std::string reason;
    if (error || !rwtools::ReadConfig(file.string(), model.entries, reason))
      throw Failure{"model " + name + " cannot be read (" + (error ? error.message() : reason) +
                    ")"};
    fs::path base = file.parent_path();
    const std::vector<std::string> skeletons = model.entries.Values(rigweave::ConfigKey::Skeleton);
    for (fs::path up = base; up.has_relative_path(); up = up.parent_path()) {
      if (up.filename() != "models") continue;
      if (up == base || (!skeletons.empty() && fs::exists(up / skeletons.front(), error)))
        base = up;
      break;
    }
    model.name = file.lexically_relative(base).string();
    model.folder = base;
    model.config = file.string();
    model.root = base.filename() == "models" ? base.parent_path().string() : LinkedRoot(base);
  }

  // A temporary folder whose models/ is a link to `folder`: the module reads
  // below a root's models/, wherever the configuration lies.
  std::string LinkedRoot(const fs::path& folder) {
    for (const auto& [linked, root] : linkedRoots_)
      if (linked == folder) return root;
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    std::string root = ((error ? fs::path("/tmp") : temporary) / "rigweave-view-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr)
      throw Failure{"cannot make a folder in " + fs::path(root).parent_path().string() + " (" +
                    std::strerror(errno) + ")"};
    linkedRoots_.emplace_back(folder, root);
    fs::create_directory_symlink(folder, fs::path(root) / "models", error);
    if (error)
      throw Failure{"cannot link " + (fs::path(root) / "models").string() + " to " +
                    folder.string() + " (" + error.message() + ")"};
    return root;
  }

  void RemoveLinkedRoots() {
    for (const auto& [linked, root] : linkedRoots_) {
      std::error_code error;
      fs::remove(fs::path(root) / "models", error);  // the link, never what it names
      fs::remove(root, error);
    }
    linkedRoots_.clear();
  }

  // Reads each configuration with the module's own line parser and finds
  // the animations asked for, so that a wrong name stops the run before the
  // first frame.
  void ReadModels() {
    if (options_.empty) {
      RequireModelsFolder();
      return;
    }
    models_.reserve(options_.models.size());
    for (const std::string& name : options_.models) {
      Model model;
      Place(name, model);
      model.animations = model.entries.AnimationNames();
      if (options_.cycle.empty()) {
        if (!model.animations.empty()) model.cycle = model.animations.front();
      } else {
        model.cycle = Resolve(model, options_.cycle);
      }
      for (const TimedAction& action : options_.actions)
        model.actions.push_back(Resolve(model, action.name));
      models_.push_back(std::move(model));
    }
  }

  static std::string Resolve(const Model& model, const std::string& asked) {
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

  // Where the pictures go must take them before anything is rendered.
  void CheckOutputs() {
    std::string reason;
    if (!options_.out.empty()) {
      std::error_code error;
      fs::create_directories(options_.out, error);
      if (error || !fs::is_directory(options_.out, error))
        throw Failure{"cannot make the folder " + options_.out +
                      (error ? " (" + error.message() + ")" : " (a file has that name)")};
      if (!CanWriteInto(options_.out, reason))
        throw Failure{"cannot write into " + options_.out + " (" + reason + ")"};
    }
    if (!options_.screenshot.empty()) {
      std::error_code error;
      if (fs::is_directory(options_.screenshot, error))
        throw Failure{"cannot write " + options_.screenshot + " (a folder has that name)"};
      const fs::path parent = fs::path(options_.screenshot).parent_path();
      if (!CanWriteInto(parent.empty() ? "." : parent.string(), reason))
        throw Failure{"cannot write " + options_.screenshot + " (" + reason + ")"};
      if (access(options_.screenshot.c_str(), F_OK) == 0 &&
          access(options_.screenshot.c_str(), W_OK) != 0)
        throw Failure{"cannot write " + options_.screenshot + " (" + std::strerror(errno) + ")"};
    }
  }

  void OpenContext() {
    std::string error;
    if (options_.window)
      context_ = rwview::CreateWindowContext(options_.width, options_.height, kProgram, error);
    else
      context_ = rwview::CreateOffscreenContext(options_.width, options_.height, error,
                                                options_.offscreen);
    if (!context_) throw Failure{error};
  }

  // The module reports its loading on standard output. Those lines are kept
  // aside (shown with --verbose, once per model) so that standard output
  // carries only the summary; the last one explains a failed load.
  bool Load(Character& character, bool firstOfModel, std::string& lastMessage) {
    // Each model is read below its own root.
    stage_->GetFileSystem()->SetRoot(character.model->root);
    bool loaded = false;
    Diverted(options_.verbose && firstOfModel, lastMessage, [&] {
      loaded = character.state->LoadModel(character.model->name.c_str(), stage_->GetLoader(),
                                          stage_->GetEngine());
    });
    return loaded;
  }

  // Runs `step` with the module's lines kept aside (or shown on standard
  // error), and keeps the last of them.
  template <typename Step>
  static void Diverted(bool show, std::string& lastMessage, Step&& step) {
    std::FILE* messages = std::tmpfile();
    {
      StdoutDiversion diversion(show || messages == nullptr ? STDERR_FILENO : fileno(messages));
      step();
    }
    if (messages != nullptr) {
      std::rewind(messages);
      char line[512];
      while (std::fgets(line, sizeof line, messages) != nullptr) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        if (!text.empty()) lastMessage = text;
      }
      std::fclose(messages);
    }
  }

  void MakeCharacters() {
    if (options_.empty) return;
    const int count = options_.crowd > 0 ? options_.crowd : static_cast<int>(models_.size());
    std::vector<bool> loadedOnce(models_.size(), false);
    for (int i = 0; i < count; i++) {
      const size_t which = static_cast<size_t>(i) % models_.size();
      Character character;
      character.model = &models_[which];
      // A crowd in step looks like one character copied: each is made at a
      // different moment, so its first frame finds it further into its cycle.
      clock_.now = kStartTicks - static_cast<csTicks>(std::fmod(i * 0.618034, 1.0) * 1000.0);
      std::string lastMessage;
      Diverted(false, lastMessage,
               [&] { character.mesh = stage_->NewMeshObject(rwengine::Stage::kRigweaveClass); });
      if (!character.mesh && lastMessage.find("Out of memory") != std::string::npos)
        throw Failure{"out of memory after " + std::to_string(i) + " of " + std::to_string(count) +
                      " characters (the module's last word: " + lastMessage + ")"};
      if (!character.mesh)
        throw Failure{
            std::string("the module gives no mesh object of class ") +
            rwengine::Stage::kRigweaveClass +
            (lastMessage.empty() ? "" : " (the module's last word: " + lastMessage + ")")};
      character.state =
          csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(character.mesh.get()));
      if (!character.state) throw Failure{"the mesh object does not offer iCal3DState"};
      rwengine::Engine* engine = stage_->GetEngine();
      const int materialsBefore = engine->GetMaterialCount();
      if (!Load(character, !loadedOnce[which], lastMessage))
        throw Failure{
            "cannot load model " + character.model->name +
            (lastMessage.empty() ? "" : " (the module's last word: " + lastMessage + ")")};
      if (!loadedOnce[which]) {
        // The module makes a material named like each map file it could read.
        for (int m = materialsBefore; m < engine->GetMaterialCount(); m++)
          character.model->loadedMaps.insert(engine->GetMaterial(m)->GetName());
        if (!options_.quiet && !options_.list) ReportMaps(*character.model);
        loadedOnce[which] = true;
      }
      const std::string& cycle = character.model->cycle;
      if (!cycle.empty() && !character.state->SetCycle(cycle.c_str(), 0.0f, 0.0f, 1.0f))
        throw Failure{"model " + character.model->name + " has no animation named " + cycle};
      character.state->SetLodLevel(static_cast<float>(options_.lod));
      character.movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
      character.movable->UpdateMove();
      characters_.push_back(std::move(character));
    }
    clock_.now = kStartTicks;
  }

  // Each map of each material the configuration names, as Cal3D reads it.
  struct MaterialMaps {
    std::string file;
    std::string problem;  // why the material could not be read, or empty
    std::vector<std::string> maps;
  };

  std::vector<MaterialMaps> ReadMaterials(const Model& model) const {
    std::vector<MaterialMaps> materials;
    for (const std::string& file : model.entries.Values(rigweave::ConfigKey::Material)) {
      MaterialMaps entry;
      entry.file = file;
      std::vector<uint8_t> bytes;
      if (!rwtools::ReadCheckedCal3D(ModelPath(model, file), rigweave::Cal3DKind::Material, 0,
                                     bytes, entry.problem)) {
        materials.push_back(entry);
        continue;
      }
      CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
      if (!material) {
        entry.problem = "Cal3D cannot read it";
      } else {
        for (int j = 0; j < material->getMapCount(); j++)
          entry.maps.push_back(material->getMapFilename(j));
      }
      materials.push_back(entry);
    }
    return materials;
  }

  // Why a map the module did not load could not be read, and the command
  // that makes it readable when there is one ("" when none).
  std::string MapProblem(const Model& model, const std::string& map, std::string& fix) const {
    const std::string path = ModelPath(model, map);
    const std::string config = Quoted(model.config);
    const std::string importRoot = Quoted((fs::path(options_.startFolder) / "imported").string());
    std::vector<uint8_t> bytes;
    std::string reason;
    const bool readable =
        rwtools::ReadRegularFile(path, rwtools::kMaxPictureFileBytes, bytes, reason);
    if (rwtools::NamesPicture(map)) {
      fix = "rigweave-import " + config + " " + importRoot;
      return readable ? "a picture, not a raw texture" : "missing (" + reason + ")";
    }
    if (!readable) {
      // A picture beside it under the same name converts to the raw file.
      const std::string stem =
          path.substr(0, path.size() - fs::path(path).extension().string().size());
      for (const char* extension :
           {".png", ".tga", ".jpg", ".jpeg", ".bmp", ".PNG", ".TGA", ".JPG", ".JPEG", ".BMP"}) {
        std::error_code error;
        if (fs::is_regular_file(stem + extension, error)) {
          fix = "rigweave-raw " + Quoted(Absolute(stem + extension)) + " " + Quoted(Absolute(path));
          break;
        }
      }
      return "cannot be read (" + reason + ")";
    }
    rigweave::RawTextureHeader header;
    const rigweave::RawTextureError error =
        rigweave::ParseRawTextureHeader(bytes.data(), bytes.size(), header);
    if (error != rigweave::RawTextureError::None)
      return std::string("not a raw texture: ") + rigweave::RawTextureErrorText(error);
    if (bytes.size() - rigweave::kRawHeaderSize < header.DataSize())
      return "not a raw texture: shorter than its header announces";
    return "not loaded by the module";
  }

  // One line per map the module could not read, with the command that fixes it.
  void ReportMaps(const Model& model) const {
    std::set<std::string> reported;
    for (const MaterialMaps& material : ReadMaterials(model)) {
      for (const std::string& map : material.maps) {
        if (model.loadedMaps.count(map) > 0 || !reported.insert(map).second) continue;
        std::string fix;
        const std::string problem = MapProblem(model, map, fix);
        std::fprintf(stderr, "%s: %s: map %s: %s%s\n", kProgram, model.name.c_str(), map.c_str(),
                     problem.c_str(), fix.empty() ? "" : ("; to fix: " + fix).c_str());
      }
    }
  }

  // --list: what the configuration gives, as the module and Cal3D see it.
  void List(const Model& model) const {
    std::printf("model %s\n", model.name.c_str());
    int bones = 0;
    std::vector<uint8_t> bytes;
    std::string reason;
    for (const rigweave::ConfigEntry& entry : model.entries.entries) {
      const std::string path = ModelPath(model, entry.value);
      switch (entry.key) {
        case rigweave::ConfigKey::Scale:
          std::printf("  scale %s\n", entry.value.c_str());
          break;
        case rigweave::ConfigKey::Skeleton:
          if (rwtools::ReadCheckedCal3D(path, rigweave::Cal3DKind::Skeleton, 0, bytes, reason,
                                        &bones))
            std::printf("  skeleton %s: %d bones\n", entry.value.c_str(), bones);
          else
            std::printf("  skeleton %s: %s\n", entry.value.c_str(), reason.c_str());
          break;
        case rigweave::ConfigKey::Animation: {
          const std::string name(rigweave::AnimationNameFromFile(entry.value));
          std::printf("  animation %s%s\n", name.c_str(), name == model.cycle ? " (played)" : "");
          break;
        }
        case rigweave::ConfigKey::Mesh: {
          CalCoreMeshPtr mesh;
          if (rwtools::ReadCheckedCal3D(path, rigweave::Cal3DKind::Mesh, bones, bytes, reason))
            mesh = rigweave::ReadCoreMesh(
                bytes, rigweave::NamesCal3DXmlFile(entry.value, rigweave::Cal3DKind::Mesh));
          if (!mesh) {
            std::printf("  mesh %s: %s\n", entry.value.c_str(),
                        reason.empty() ? "Cal3D cannot read it" : reason.c_str());
            break;
          }
          std::printf("  mesh %s: %d sub-meshes\n", entry.value.c_str(),
                      mesh->getCoreSubmeshCount());
          for (int i = 0; i < mesh->getCoreSubmeshCount(); i++) {
            CalCoreSubmesh* sub = mesh->getCoreSubmesh(i);
            std::printf("    sub-mesh %d: %d vertices, %d faces, material %d\n", i,
                        sub->getVertexCount(), sub->getFaceCount(), sub->getCoreMaterialThreadId());
          }
          break;
        }
        case rigweave::ConfigKey::Material:
        case rigweave::ConfigKey::MorphAnimation:
        case rigweave::ConfigKey::Other:
          break;
      }
      reason.clear();
    }
    for (const MaterialMaps& material : ReadMaterials(model)) {
      if (!material.problem.empty()) {
        std::printf("  material %s: %s\n", material.file.c_str(), material.problem.c_str());
        continue;
      }
      std::printf("  material %s: %zu map%s\n", material.file.c_str(), material.maps.size(),
                  material.maps.size() == 1 ? "" : "s");
      for (const std::string& map : material.maps) {
        std::string fix;
        std::printf("    map %s: %s\n", map.c_str(),
                    model.loadedMaps.count(map) > 0
                        ? "loaded"
                        : ("not loaded, " + MapProblem(model, map, fix)).c_str());
      }
    }
  }

  // Measures what the characters draw in their first frame and places the
  // camera (and a crowd's grid) from it, whatever units their files use.
  void Frame() {
    const float focal = stage_->GetCamera()->FocalLength(options_.width);
    csVector3 low(-0.55f, 0.0f, -0.55f), high(0.55f, 2.05f, 0.55f);
    if (characters_.empty()) {
      orbit_ = FrameBox(low, high, false, focal, options_.width, options_.height);
      FinishFraming(low, high);
      return;
    }
    rwengine::BoundsBackend bounds;
    stage_->SetBackend(&bounds);
    // The camera at the world's origin: camera space is world space.
    stage_->GetCamera()->SetTransform(csOrthoTransform());

    // Each model's size, drawn alone at the origin, spaces the grid.
    float spacing = 0.0f;
    for (Model& model : models_) {
      for (const Character& c : characters_) {
        if (c.model != &model) continue;
        bounds.Reset();
        stage_->DrawFrame({{c.mesh.get(), c.movable.get()}});
        if (!bounds.Empty()) model.size = bounds.Max() - bounds.Min();
        break;
      }
      spacing =
          std::max({spacing, 1.3f * std::max(model.size.x, model.size.z), 0.5f * model.size.y});
    }
    if (!(spacing > 0.0f) || !std::isfinite(spacing)) spacing = 1.4f;
    const std::vector<csVector3> positions =
        Placements(static_cast<int>(characters_.size()), spacing);
    for (size_t i = 0; i < characters_.size(); i++) {
      csReversibleTransform place;
      if (characters_.size() > 1) {
        const double turn = (std::fmod(i * 0.381966, 1.0) - 0.5) * 0.8;
        place.SetO2T(csYRotMatrix3(static_cast<float>(turn)));
      }
      place.SetOrigin(positions[i]);
      characters_[i].movable->SetTransform(place);
      characters_[i].movable->UpdateMove();
    }

    bounds.Reset();
    std::vector<std::pair<iMeshObject*, iMovable*>> objects;
    for (const Character& c : characters_) objects.emplace_back(c.mesh.get(), c.movable.get());
    stage_->DrawFrame(objects);
    stage_->SetBackend(backend_.get());
    if (!bounds.Empty()) low = bounds.Min(), high = bounds.Max();
    orbit_ = FrameBox(low, high, characters_.size() > 1, focal, options_.width, options_.height);
    FinishFraming(low, high);
  }

  void FinishFraming(const csVector3& low, const csVector3& high) {
    orbit_.distance /= options_.zoom;
    framedDistance_ = orbit_.distance;
    const csVector3 extent = high - low;
    sceneRadius_ = 0.5 * std::sqrt(static_cast<double>(extent.x) * extent.x +
                                   static_cast<double>(extent.y) * extent.y +
                                   static_cast<double>(extent.z) * extent.z);
  }

  // Near and far planes that keep the framed scene inside the depth range
  // at any scale, as the window's zoom moves the camera.
  void PlaceCamera() {
    stage_->GetCamera()->SetTransform(orbit_.Transform());
    const double near = std::max(orbit_.distance * 0.01, (orbit_.distance - sceneRadius_) * 0.5);
    backend_->SetDepthRange(near, (orbit_.distance + 2.0 * sceneRadius_) * 2.0 + near);
  }

  bool Interactive() const { return options_.window && !options_.framesGiven; }

  void RenderFrames() {
    try {
      RenderFramesOrThrow();
    } catch (const Failure&) {
      if (progressShown_) std::fputc('\n', stderr);
      throw;
    }
  }

  void RenderFramesOrThrow() {
    std::vector<std::pair<iMeshObject*, iMovable*>> objects;
    for (const Character& c : characters_) objects.emplace_back(c.mesh.get(), c.movable.get());
    const bool keepFrames = !options_.out.empty();
    std::unique_ptr<rwview::ContactSheet> sheet;
    if (keepFrames)
      sheet =
          std::make_unique<rwview::ContactSheet>(options_.frames, options_.width, options_.height);
    const auto started = std::chrono::steady_clock::now();
    auto lastFrame = started;
    double seconds = 0;  // animation time since the first frame

    for (int frame = 0; Interactive() || frame < options_.frames; frame++) {
      if (options_.window && !HandleInput()) break;
      if (Interactive()) {
        const auto now = std::chrono::steady_clock::now();
        seconds += std::chrono::duration<double>(now - lastFrame).count();
        lastFrame = now;
      } else {
        seconds = frame / options_.fps;
      }
      clock_.now = kStartTicks + static_cast<csTicks>(std::llround(seconds * 1000.0));
      for (size_t a = 0; a < options_.actions.size(); a++) {
        TimedAction& action = options_.actions[a];
        if (action.done || seconds + 1e-9 < action.seconds) continue;
        action.done = true;
        for (const Character& c : characters_) {
          const std::string& name = c.model->actions[a];
          if (!c.state->ExecuteAction(name.c_str(), 0.3f, 0.3f))
            throw Failure{"model " + c.model->name + " has no animation named " + name};
        }
      }
      PlaceCamera();

      backend_->ResetCounters();
      const auto before = std::chrono::steady_clock::now();
      stage_->DrawFrame(objects);
      const auto after = std::chrono::steady_clock::now();
      Timing::Sum& sum = timing_.frames == 0 ? timing_.first : timing_.rest;
      sum.draw += std::chrono::duration<double>(after - before).count();
      sum.backend += backend_->BusySeconds();
      sum.frames++;
      timing_.frames++;
      lastTriangles_ = backend_->TrianglesDrawn();

      const bool lastOfRun = !Interactive() && frame + 1 == options_.frames;
      if (keepFrames || (!options_.screenshot.empty() && (lastOfRun || Interactive()))) {
        backend_->ReadPixels(options_.width, options_.height, lastPicture_.rgb);
        lastPicture_.width = options_.width;
        lastPicture_.height = options_.height;
        if (keepFrames) {
          WritePicture(FramePath(options_.out, frame), lastPicture_);
          sheet->Add(frame, lastPicture_);
        }
      }
      context_->Present();
      if (Interactive()) {
        UpdateTitle(frame, std::chrono::steady_clock::now() - started);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      } else {
        std::fprintf(stderr, "\r%s: frame %d/%d", kProgram, frame + 1, options_.frames);
        std::fflush(stderr);
        progressShown_ = true;
      }
    }
    if (progressShown_) std::fputc('\n', stderr);
    progressShown_ = false;
    if (!options_.screenshot.empty() && lastPicture_.width > 0)
      WritePicture(options_.screenshot, lastPicture_);
    if (keepFrames) WritePicture((fs::path(options_.out) / "sheet.png").string(), sheet->Sheet());
  }

  // The first model's animation that a person asked for, or that a key means.
  std::string ActionName() const {
    if (models_.empty()) return "";
    const Model& model = models_.front();
    if (!model.actions.empty()) return model.actions.front();
    const rwtools::AnimationLookup wave = rwtools::FindAnimation(model.animations, "wave");
    if (wave.result == rwtools::AnimationLookup::Found) return wave.name;
    for (const std::string& name : model.animations)
      if (name != model.cycle) return name;
    return "";
  }

  // False when the person asked to quit.
  bool HandleInput() {
    rwview::InputEvent input;
    const std::vector<std::string> none;
    const std::vector<std::string>& animations =
        models_.empty() ? none : models_.front().animations;
    while (context_->PollInput(input)) {
      switch (input.kind) {
        case rwview::InputEvent::Quit:
          return false;
        case rwview::InputEvent::Cycle:
          if (input.index < static_cast<int>(animations.size())) {
            currentCycle_ = animations[static_cast<size_t>(input.index)];
            for (const Character& c : characters_)
              c.state->SetCycle(currentCycle_.c_str(), 0.3f, 0.3f, 1.0f);
          }
          break;
        case rwview::InputEvent::Action: {
          const std::string name = ActionName();
          for (const Character& c : characters_) c.state->ExecuteAction(name.c_str(), 0.3f, 0.3f);
          break;
        }
        case rwview::InputEvent::FinerDetail:
        case rwview::InputEvent::CoarserDetail:
          options_.lod = std::clamp(
              options_.lod + (input.kind == rwview::InputEvent::FinerDetail ? 0.1 : -0.1), 0.0,
              1.0);
          for (const Character& c : characters_)
            c.state->SetLodLevel(static_cast<float>(options_.lod));
          break;
        case rwview::InputEvent::OrbitLeft:
          orbit_.yaw -= 0.1;
          break;
        case rwview::InputEvent::OrbitRight:
          orbit_.yaw += 0.1;
          break;
        case rwview::InputEvent::OrbitUp:
          orbit_.pitch = std::min(1.4, orbit_.pitch + 0.08);
          break;
        case rwview::InputEvent::OrbitDown:
          orbit_.pitch = std::max(-1.4, orbit_.pitch - 0.08);
          break;
        case rwview::InputEvent::ZoomIn:
          orbit_.distance = std::max(framedDistance_ / 20, orbit_.distance / 1.1);
          break;
        case rwview::InputEvent::ZoomOut:
          orbit_.distance = std::min(framedDistance_ * 20, orbit_.distance * 1.1);
          break;
        case rwview::InputEvent::None:
          break;
      }
    }
    return true;
  }

  std::string CycleText() const {
    std::vector<std::string> cycles;
    for (const Model& model : models_) {
      const std::string text = model.cycle.empty() ? "rest pose" : "cycle " + model.cycle;
      if (std::find(cycles.begin(), cycles.end(), text) == cycles.end()) cycles.push_back(text);
    }
    return cycles.empty() ? "no cycle" : rwtools::JoinNames(cycles);
  }

  void UpdateTitle(int frame, std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (seconds - lastTitle_ < 0.5) return;
    lastTitle_ = seconds;
    char title[256];
    std::snprintf(title, sizeof title, "%s - %s, detail %.1f, %.0f fps", kProgram,
                  currentCycle_.empty() ? CycleText().c_str() : currentCycle_.c_str(), options_.lod,
                  (frame + 1) / std::max(seconds, 1e-3));
    context_->SetTitle(title);
  }

  void Report() {
    const Timing::Sum& steady = timing_.rest.frames > 0 ? timing_.rest : timing_.first;
    const double frames = std::max(1, steady.frames);
    const double total = 1000.0 * steady.draw / frames;
    const double renderer = 1000.0 * steady.backend / frames;
    std::string models;
    for (const std::string& m : options_.models) models += (models.empty() ? "" : ", ") + m;
    char pace[48];
    if (Interactive())
      std::snprintf(pace, sizeof pace, "on the wall clock");
    else
      std::snprintf(pace, sizeof pace, "at %g fps", options_.fps);
    std::printf("%s: %s, %s, %d frames of %dx%d %s%s\n", kProgram,
                options_.empty ? "empty scene" : models.c_str(), CycleText().c_str(),
                timing_.frames, options_.width, options_.height, pace,
                options_.mirror ? ", mirrored" : "");
    std::printf("renderer: %s\n", context_->Description().c_str());
    std::printf("characters: %zu\n", characters_.size());
    std::printf("triangles per frame: %ld (every face drawn with both windings)\n", lastTriangles_);
    std::printf("ms per frame: %.2f (module %.2f, renderer %.2f)%s; first frame %.2f\n", total,
                total - renderer, renderer, timing_.rest.frames > 0 ? " after the first" : "",
                1000.0 * timing_.first.draw);
    if (!options_.out.empty())
      std::printf("images: %s .. %s, contact sheet %s\n", FramePath(options_.out, 0).c_str(),
                  FramePath(options_.out, timing_.frames - 1).c_str(),
                  (fs::path(options_.out) / "sheet.png").c_str());
    if (!options_.screenshot.empty()) std::printf("screenshot: %s\n", options_.screenshot.c_str());
  }

  // Module objects first while the module is loaded; cached textures hold
  // engine handles whose images the module made; GL objects need the context.
  void Release() {
    characters_.clear();
    if (backend_) backend_->ForgetAllTextures();
    stage_.reset();
    backend_.reset();
    context_.reset();
    csSetTickSource(nullptr, nullptr);
  }

  static constexpr csTicks kStartTicks = 100000;

  Options options_;
  Clock clock_;
  std::unique_ptr<rwview::GlContext> context_;
  std::unique_ptr<rwengine::GlBackend> backend_;
  std::unique_ptr<rwengine::Stage> stage_;
  std::vector<Model> models_;
  std::vector<std::pair<fs::path, std::string>> linkedRoots_;  // folder, the root linking it
  std::vector<Character> characters_;
  std::string currentCycle_;
  Orbit orbit_;
  double framedDistance_ = 3.5;
  double sceneRadius_ = 1.2;
  Timing timing_;
  long lastTriangles_ = 0;
  double lastTitle_ = -1;
  bool progressShown_ = false;
  rwview::Picture lastPicture_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseArguments(argc, argv);
  } catch (const BadArguments& bad) {
    std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, bad.text.c_str());
    return 2;
  }
  if (!options.root.empty() && !CanEnter(options.root)) {
    std::fprintf(stderr, "%s: cannot enter %s (%s)\n", kProgram, options.root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  try {
    Viewer viewer(std::move(options));
    viewer.Run();
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.text.c_str());
    return 1;
  } catch (const std::exception& error) {
    // A file system or memory failure none of the checks above foresaw.
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return 1;
  }
  return 0;
}
