// rigweave-view: shows animated characters the way an application would.
// It loads the module by class id through the component system, makes one
// mesh object per character, loads a model configuration into each through
// iCal3DState and steers their animation, then renders frames with the GL
// backend, off-screen into PNG files or into a window.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/backend_gl.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "host/ref.h"
#include "ical3dstate.h"
#include "viewer/gl_context.h"
#include "viewer/png.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kProgram[] = "rigweave-view";
constexpr uint8_t kBackground[3] = {200, 208, 222};

const char kUsage[] =
    "usage: rigweave-view [options] [MODEL.cfg...]\n"
    "Renders the characters whose configurations are below models/ (hero.cfg when none).\n"
    "  --root DIR          folder holding models/ (default: the current folder)\n"
    "  --module PATH       the module file (default: rigweave.so beside this program)\n"
    "  --frames N          frames to render (default 24)\n"
    "  --fps F             animation clock steps of 1000/F ms a frame (default 24)\n"
    "  --size WxH          picture size (default 320x240)\n"
    "  --out DIR           write frame_NNNN.png per frame and sheet.png into DIR\n"
    "  --screenshot PATH   write the last frame to PATH\n"
    "  --cycle NAME        cycle to play (default walk)\n"
    "  --action NAME@SEC   play NAME once, SEC seconds in (may be repeated)\n"
    "  --lod L             level of detail, 0 to 1 (default 1)\n"
    "  --crowd N           N characters in a grid\n"
    "  --mirror            mirrored camera\n"
    "  --empty             no characters, background only\n"
    "  --verbose           show the module's loading messages\n"
    "  --window            interactive window: 1-9 cycles, space action, +/- detail,\n"
    "                      arrows orbit, PgUp/PgDn or wheel zoom, Esc or q quits\n";

struct TimedAction {
  std::string name;
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
  std::string cycle = "walk";
  std::vector<TimedAction> actions;
  double lod = 1.0;
  int crowd = 0;
  bool mirror = false;
  bool empty = false;
  bool window = false;
  bool verbose = false;
};

// Thrown for anything wrong on the command line; main prints it with the usage.
struct BadArguments {
  std::string text;
};
// Thrown for anything that stops the run later; main prints it alone.
struct Failure {
  std::string text;
};

bool ParseInt(const std::string& text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || parsed < -1000000000L || parsed > 1000000000L) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseDouble(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

std::string Absolute(const std::string& path) {
  return path.empty() ? path : fs::absolute(path).lexically_normal().string();
}

Options ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw BadArguments{arg + " needs a value"};
      return argv[++i];
    };
    auto positiveInt = [&](int& out) {
      const std::string text = value();
      if (!ParseInt(text, out) || out <= 0) throw BadArguments{arg + " " + text + ": not a count"};
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--root") {
      options.root = value();
    } else if (arg == "--module") {
      options.module = value();
    } else if (arg == "--frames") {
      positiveInt(options.frames);
      options.framesGiven = true;
    } else if (arg == "--fps") {
      const std::string text = value();
      if (!ParseDouble(text, options.fps) || options.fps <= 0 || options.fps > 1000)
        throw BadArguments{"--fps " + text + ": not a frame rate"};
    } else if (arg == "--size") {
      const std::string text = value();
      const size_t x = text.find('x');
      if (x == std::string::npos || !ParseInt(text.substr(0, x), options.width) ||
          !ParseInt(text.substr(x + 1), options.height) || options.width < 16 ||
          options.height < 16 || options.width > 8192 || options.height > 8192)
        throw BadArguments{"--size " + text + ": not WIDTHxHEIGHT (16 to 8192 each)"};
    } else if (arg == "--out") {
      options.out = value();
    } else if (arg == "--screenshot") {
      options.screenshot = value();
    } else if (arg == "--cycle") {
      options.cycle = value();
    } else if (arg == "--action") {
      const std::string text = value();
      const size_t at = text.rfind('@');
      TimedAction action;
      if (at == std::string::npos || at == 0 || !ParseDouble(text.substr(at + 1), action.seconds) ||
          action.seconds < 0)
        throw BadArguments{"--action " + text + ": not NAME@SECONDS"};
      action.name = text.substr(0, at);
      options.actions.push_back(action);
    } else if (arg == "--lod") {
      const std::string text = value();
      if (!ParseDouble(text, options.lod) || options.lod < 0 || options.lod > 1)
        throw BadArguments{"--lod " + text + ": not a level between 0 and 1"};
    } else if (arg == "--crowd") {
      positiveInt(options.crowd);
      if (options.crowd > 10000) throw BadArguments{"--crowd: at most 10000 characters"};
    } else if (arg == "--mirror") {
      options.mirror = true;
    } else if (arg == "--empty") {
      options.empty = true;
    } else if (arg == "--window") {
      options.window = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw BadArguments{"unknown option " + arg};
    } else {
      options.models.push_back(arg);
    }
  }
  if (options.models.empty()) options.models.push_back("hero.cfg");
  if (options.window && !options.framesGiven && !options.out.empty())
    throw BadArguments{"--out with --window needs --frames"};
  // Output paths are taken from where the program was started, before --root moves us.
  options.out = Absolute(options.out);
  options.screenshot = Absolute(options.screenshot);
  options.module = Absolute(options.module);
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
    if (fs::exists(candidate)) return candidate.lexically_normal().string();
  }
  return (here / "rigweave.so").string();
}

// The animation names a configuration gives, in its order: what the number
// keys switch between.
std::vector<std::string> AnimationNames(const std::string& model) {
  std::vector<std::string> names;
  std::ifstream file("models/" + model);
  std::string line;
  while (std::getline(file, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    key.erase(key.find_last_not_of(" \t") + 1);
    key.erase(0, key.find_first_not_of(" \t"));
    if (key != "animation") continue;
    std::string file_name = line.substr(equals + 1);
    file_name.erase(0, file_name.find_first_not_of(" \t"));
    file_name.erase(file_name.find_last_not_of(" \t\r") + 1);
    names.push_back(file_name.substr(0, file_name.rfind('.')));
  }
  return names;
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

struct Character {
  std::string model;
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

// Grid positions, centred on the origin, for `count` characters.
std::vector<csVector3> Placements(int count) {
  constexpr float kSpacing = 1.4f;
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  std::vector<csVector3> positions;
  for (int i = 0; i < count; i++) {
    const int column = i % columns, row = i / columns;
    positions.emplace_back((column - (columns - 1) / 2.0f) * kSpacing, 0.0f,
                           (row - (rows - 1) / 2.0f) * kSpacing);
  }
  return positions;
}

// Pulls the camera back until the corners of every character's box (about
// 2 units tall and 1.1 wide) land inside the middle 92% of the picture.
Orbit FrameScene(const std::vector<csVector3>& positions, float focalLength, int width,
                 int height) {
  std::vector<csVector3> corners;
  const std::vector<csVector3> feet =
      positions.empty() ? std::vector<csVector3>{csVector3(0, 0, 0)} : positions;
  csBox3 box;
  for (const csVector3& p : feet) {
    for (int i = 0; i < 8; i++) {
      const csVector3 corner =
          p + csVector3(i & 4 ? 0.55f : -0.55f, i & 2 ? 2.05f : 0.0f, i & 1 ? 0.55f : -0.55f);
      corners.push_back(corner);
      box.AddBoundingVertex(corner);
    }
  }
  Orbit orbit;
  orbit.center = box.GetCenter();
  if (feet.size() > 1) orbit.pitch = 0.4;
  const double halfWidth = 0.92 * width / 2.0, halfHeight = 0.92 * height / 2.0;
  auto fits = [&](double distance) {
    orbit.distance = distance;
    const csOrthoTransform camera = orbit.Transform();
    for (const csVector3& corner : corners) {
      const csVector3 c = camera.Other2This(corner);
      if (c.z <= 0.1f || std::abs(focalLength * c.x / c.z) > halfWidth ||
          std::abs(focalLength * c.y / c.z) > halfHeight)
        return false;
    }
    return true;
  };
  auto fit = [&] {
    double near = 0.5, far = 1.0;
    while (!fits(far) && far < 1e4) near = far, far *= 2;
    for (int i = 0; i < 40; i++) {
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

// Frames shrunk to half size (2x2 averages), in a grid.
rwview::Picture ContactSheet(const std::vector<rwview::Picture>& frames) {
  rwview::Picture sheet;
  if (frames.empty()) return sheet;
  constexpr int kGap = 2;
  const int count = static_cast<int>(frames.size());
  const int columns = std::max(
      1, std::min(count, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count) * 1.5)))));
  const int rows = (count + columns - 1) / columns;
  const int tw = frames[0].width / 2, th = frames[0].height / 2;
  sheet.width = columns * tw + (columns + 1) * kGap;
  sheet.height = rows * th + (rows + 1) * kGap;
  sheet.rgb.assign(static_cast<size_t>(sheet.width) * sheet.height * 3, 96);
  for (int i = 0; i < count; i++) {
    const rwview::Picture& frame = frames[static_cast<size_t>(i)];
    const int ox = kGap + (i % columns) * (tw + kGap), oy = kGap + (i / columns) * (th + kGap);
    for (int y = 0; y < th; y++) {
      for (int x = 0; x < tw; x++) {
        uint8_t* out = sheet.At(ox + x, oy + y);
        for (int c = 0; c < 3; c++) {
          const int sum = frame.At(2 * x, 2 * y)[c] + frame.At(2 * x + 1, 2 * y)[c] +
                          frame.At(2 * x, 2 * y + 1)[c] + frame.At(2 * x + 1, 2 * y + 1)[c];
          out[c] = static_cast<uint8_t>((sum + 2) / 4);
        }
      }
    }
  }
  return sheet;
}

void WritePicture(const std::string& path, const rwview::Picture& picture) {
  std::string error;
  if (!rwview::WritePng(path, picture, &error)) throw Failure{error};
}

std::string FramePath(const std::string& folder, int index) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%04d.png", index);
  return (fs::path(folder) / name).string();
}

class Viewer {
 public:
  explicit Viewer(Options options) : options_(std::move(options)) {}
  ~Viewer() { Release(); }
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  void Run() {
    CheckModels();
    csSetTickSource(&Clock::Read, &clock_);
    OpenContext();
    backend_ = std::make_unique<rwengine::GlBackend>(context_->Api());
    backend_->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
    stage_ = std::make_unique<rwengine::Stage>(backend_.get(), options_.width, options_.height);
    const std::string module = FindModule(options_);
    if (!stage_->LoadModule(module))
      throw Failure{"cannot load the module " + module + ": " + stage_->LastError()};
    MakeCharacters();
    orbit_ = FrameScene(positions_, stage_->GetCamera()->FocalLength(options_.width),
                        options_.width, options_.height);
    stage_->GetCamera()->SetMirrored(options_.mirror);
    if (!options_.out.empty()) {
      std::error_code error;
      fs::create_directories(options_.out, error);
      if (error) throw Failure{"cannot make the folder " + options_.out};
    }
    RenderFrames();
    Report();
  }

 private:
  void CheckModels() {
    if (!fs::is_directory("models"))
      throw Failure{"no models/ folder in " + fs::current_path().string()};
    if (options_.empty) return;
    for (const std::string& model : options_.models) {
      if (!fs::is_regular_file("models/" + model))
        throw Failure{"unknown model " + model + ": there is no file models/" + model};
    }
  }

  void OpenContext() {
    std::string error;
    if (options_.window)
      context_ = rwview::CreateWindowContext(options_.width, options_.height, kProgram, error);
    else
      context_ = rwview::CreateOffscreenContext(options_.width, options_.height, error);
    if (!context_) throw Failure{error};
  }

  // The module reports its loading on standard output. Those lines are kept
  // aside (shown with --verbose, once per model) so that standard output
  // carries only the summary; the last one explains a failed load.
  bool Load(Character& character, bool firstOfModel, std::string& lastMessage) {
    std::FILE* messages = std::tmpfile();
    bool loaded;
    {
      StdoutDiversion diversion(options_.verbose && firstOfModel ? STDERR_FILENO
                                : messages != nullptr            ? fileno(messages)
                                                                 : STDERR_FILENO);
      loaded = character.state->LoadModel(character.model.c_str(), stage_->GetLoader(),
                                          stage_->GetEngine());
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
    return loaded;
  }

  void MakeCharacters() {
    if (options_.empty) return;
    const int count =
        options_.crowd > 0 ? options_.crowd : static_cast<int>(options_.models.size());
    positions_ = Placements(count);
    for (int i = 0; i < count; i++) {
      Character character;
      character.model = options_.models[static_cast<size_t>(i) % options_.models.size()];
      // A crowd in step looks like one character copied: each is made at a
      // different moment, so its first frame finds it further into its cycle.
      clock_.now = kStartTicks - static_cast<csTicks>(std::fmod(i * 0.618034, 1.0) * 1000.0);
      character.mesh = stage_->NewMeshObject(rwengine::Stage::kRigweaveClass);
      if (!character.mesh)
        throw Failure{std::string("the module gives no mesh object of class ") +
                      rwengine::Stage::kRigweaveClass};
      character.state =
          csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(character.mesh.get()));
      if (!character.state) throw Failure{"the mesh object does not offer iCal3DState"};
      std::string lastMessage;
      if (!Load(character, i < static_cast<int>(options_.models.size()), lastMessage))
        throw Failure{
            "cannot load model " + character.model +
            (lastMessage.empty() ? "" : " (the module's last word: " + lastMessage + ")")};
      if (!character.state->SetCycle(options_.cycle.c_str(), 0.0f, 0.0f, 1.0f))
        throw Failure{"model " + character.model + " has no animation named " + options_.cycle};
      character.state->SetLodLevel(static_cast<float>(options_.lod));
      character.movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
      csReversibleTransform place;
      if (count > 1) {
        const double turn = (std::fmod(i * 0.381966, 1.0) - 0.5) * 0.8;
        place.SetO2T(csYRotMatrix3(static_cast<float>(turn)));
      }
      place.SetOrigin(positions_[static_cast<size_t>(i)]);
      character.movable->SetTransform(place);
      character.movable->UpdateMove();
      characters_.push_back(std::move(character));
    }
    animations_ = AnimationNames(options_.models.front());
    clock_.now = kStartTicks;
  }

  bool Interactive() const { return options_.window && !options_.framesGiven; }

  void RenderFrames() {
    std::vector<std::pair<iMeshObject*, iMovable*>> objects;
    for (const Character& c : characters_) objects.emplace_back(c.mesh.get(), c.movable.get());
    std::vector<rwview::Picture> sheetFrames;
    const bool keepFrames = !options_.out.empty();
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
      for (TimedAction& action : options_.actions) {
        if (action.done || seconds + 1e-9 < action.seconds) continue;
        action.done = true;
        for (const Character& c : characters_) {
          if (!c.state->ExecuteAction(action.name.c_str(), 0.3f, 0.3f))
            throw Failure{"model " + c.model + " has no animation named " + action.name};
        }
      }
      stage_->GetCamera()->SetTransform(orbit_.Transform());

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
          sheetFrames.push_back(lastPicture_);
        }
      }
      context_->Present();
      if (Interactive()) {
        UpdateTitle(frame, std::chrono::steady_clock::now() - started);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      } else {
        std::fprintf(stderr, "\r%s: frame %d/%d", kProgram, frame + 1, options_.frames);
        std::fflush(stderr);
      }
    }
    if (!Interactive()) std::fputc('\n', stderr);
    if (!options_.screenshot.empty() && lastPicture_.width > 0)
      WritePicture(options_.screenshot, lastPicture_);
    if (keepFrames)
      WritePicture((fs::path(options_.out) / "sheet.png").string(), ContactSheet(sheetFrames));
  }

  // False when the person asked to quit.
  bool HandleInput() {
    rwview::InputEvent input;
    while (context_->PollInput(input)) {
      switch (input.kind) {
        case rwview::InputEvent::Quit:
          return false;
        case rwview::InputEvent::Cycle:
          if (input.index < static_cast<int>(animations_.size())) {
            currentCycle_ = animations_[static_cast<size_t>(input.index)];
            for (const Character& c : characters_)
              c.state->SetCycle(currentCycle_.c_str(), 0.3f, 0.3f, 1.0f);
          }
          break;
        case rwview::InputEvent::Action: {
          const std::string name = options_.actions.empty() ? "wave" : options_.actions[0].name;
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
          orbit_.distance = std::max(0.5, orbit_.distance / 1.1);
          break;
        case rwview::InputEvent::ZoomOut:
          orbit_.distance = std::min(300.0, orbit_.distance * 1.1);
          break;
        case rwview::InputEvent::None:
          break;
      }
    }
    return true;
  }

  void UpdateTitle(int frame, std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (seconds - lastTitle_ < 0.5) return;
    lastTitle_ = seconds;
    char title[160];
    std::snprintf(title, sizeof title, "%s - %s, detail %.1f, %.0f fps", kProgram,
                  currentCycle_.empty() ? options_.cycle.c_str() : currentCycle_.c_str(),
                  options_.lod, (frame + 1) / std::max(seconds, 1e-3));
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
    std::printf("%s: %s, cycle %s, %d frames of %dx%d %s%s\n", kProgram,
                options_.empty ? "empty scene" : models.c_str(), options_.cycle.c_str(),
                timing_.frames, options_.width, options_.height, pace,
                options_.mirror ? ", mirrored" : "");
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
  std::vector<Character> characters_;
  std::vector<csVector3> positions_;
  std::vector<std::string> animations_;
  std::string currentCycle_;
  Orbit orbit_;
  Timing timing_;
  long lastTriangles_ = 0;
  double lastTitle_ = -1;
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
  if (!options.root.empty() && chdir(options.root.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot enter %s\n", kProgram, options.root.c_str());
    return 1;
  }
  try {
    Viewer viewer(std::move(options));
    viewer.Run();
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.text.c_str());
    return 1;
  }
  return 0;
}
