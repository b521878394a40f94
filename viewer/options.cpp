#include "viewer/options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "viewer/animated_output.h"
#include "viewer/failure.h"

namespace rwview {
namespace {

namespace fs = std::filesystem;

const char kDescription[] =
    "Renders the characters whose configurations are below models/ (hero.cfg when none),\n"
    "framed from what they draw, playing each one's first animation unless --cycle says.\n"
    "Window keys: 1-9 cycles, a or Enter action, space pause, . one step (paused), [ ] half\n"
    "and double speed, +/- detail, arrows orbit, PgUp/PgDn or wheel zoom, Esc or q quits.";

// A number of type T read whole from `text`, finite and within [low, high].
template <typename T>
bool ReadWithin(const std::string& text, T low, T high, T& value) {
  return CLI::detail::lexical_cast(text, value) && std::isfinite(static_cast<double>(value)) &&
         value >= low && value <= high;
}

// Refuses what ReadWithin refuses, saying `what` the value must be.
template <typename T>
CLI::Validator Within(T low, T high, const std::string& what) {
  return CLI::Validator(
      [=](std::string& text) {
        T value{};
        return ReadWithin(text, low, high, value) ? std::string() : text + ": not " + what;
      },
      what);
}

CLI::Validator NotEmpty(const std::string& what) {
  return CLI::Validator(
      [=](std::string& text) { return text.empty() ? "needs " + what : std::string(); }, what);
}

// WIDTHxHEIGHT, each side within the picture sizes the backend takes.
CLI::Validator SizeFormat() {
  return CLI::Validator(
      [](std::string& text) {
        const size_t x = text.find('x');
        int side = 0;
        if (x != std::string::npos && ReadWithin(text.substr(0, x), 16, kMaxSide, side) &&
            ReadWithin(text.substr(x + 1), 16, kMaxSide, side))
          return std::string();
        return text + ": not WIDTHxHEIGHT (16 to 8192 each)";
      },
      "WxH");
}

// X,Y: a pixel, counted from the picture's top left, within the largest picture.
bool ReadPixel(const std::string& text, std::pair<int, int>& pixel) {
  const size_t comma = text.find(',');
  return comma != std::string::npos &&
         ReadWithin(text.substr(0, comma), 0, kMaxSide - 1, pixel.first) &&
         ReadWithin(text.substr(comma + 1), 0, kMaxSide - 1, pixel.second);
}

CLI::Validator PixelFormat() {
  return CLI::Validator(
      [](std::string& text) {
        std::pair<int, int> pixel;
        return ReadPixel(text, pixel) ? std::string() : text + ": not X,Y (a pixel)";
      },
      "X,Y");
}

// NAME@SECONDS, the time finite and not negative, or NAME alone (at once).
bool ReadAction(const std::string& text, TimedAction& action) {
  const size_t at = text.rfind('@');
  action.name = text.substr(0, at);
  action.seconds = 0;
  if (at == std::string::npos) return !text.empty();
  return at > 0 && ReadWithin(text.substr(at + 1), 0.0, 1e9, action.seconds);
}

CLI::Validator ActionFormat() {
  return CLI::Validator(
      [](std::string& text) {
        TimedAction action;
        return ReadAction(text, action) ? std::string() : text + ": not NAME or NAME@SECONDS";
      },
      "NAME[@SECONDS]");
}

// BONE=MODEL.cfg, neither empty.
bool ReadProp(const std::string& text, PropOption& prop) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  prop.bone = text.substr(0, equals);
  prop.model = text.substr(equals + 1);
  return !prop.bone.empty() && !prop.model.empty();
}

CLI::Validator PropFormat() {
  return CLI::Validator(
      [](std::string& text) {
        PropOption prop;
        return ReadProp(text, prop) ? std::string() : text + ": not BONE=MODEL.cfg";
      },
      "BONE=MODEL.cfg");
}

bool ReadMorph(const std::string& text, MorphOption& morph) {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) return false;
  morph.name = text.substr(0, equals);
  return ReadWithin(text.substr(equals + 1), 0.0f, 100.0f, morph.weight);
}

CLI::Validator MorphFormat() {
  return CLI::Validator(
      [](std::string& text) {
        MorphOption morph;
        return ReadMorph(text, morph) ? std::string()
                                      : text + ": not NAME=WEIGHT (a weight from 0 to 100)";
      },
      "NAME=WEIGHT");
}

const std::map<std::string, Offscreen> kOffscreenNames = {
    {"auto", Offscreen::Any}, {"egl", Offscreen::Egl}, {"osmesa", Offscreen::OsMesa}};

// The options that take a value; those given as text are split by ReadChecked.
void AddValues(CLI::App& app, Options& options, std::string& size, std::string& offscreen,
               std::vector<std::string>& actions, std::vector<std::string>& props,
               std::vector<std::string>& morphs) {
  app.add_option("MODEL.cfg", options.models, "configurations below models/ (default hero.cfg)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--root", options.root,
                 "folder holding models/ (default: the current folder when it has one, else the "
                 "sample characters)");
  app.add_option("--module", options.module,
                 "the module file (default: rigweave.so beside this program)");
  app.add_option("--frames", options.frames, "frames to render (default 24, at most 100000)")
      ->check(Within(1, kMaxFrames, "a count from 1 to " + std::to_string(kMaxFrames)));
  app.add_option("--fps", options.fps, "animation clock steps of 1000/F ms a frame (default 24)")
      ->check(Within(1e-9, 1000.0, "a frame rate (above 0, at most 1000)"));
  app.add_option("--size", size, "picture size WxH, 16 to 8192 each (default 320x240)")
      ->check(SizeFormat());
  app.add_option("--out", options.out, "write frame_NNNN.png per frame and sheet.png into DIR")
      ->check(NotEmpty("a folder name"));
  app.add_option("--screenshot", options.screenshot, "write the last frame to PATH")
      ->check(NotEmpty("a file name"));
  app.add_option("--cycle", options.cycle,
                 "cycle to play: the module's name or the file's base name (default: the first)")
      ->check(NotEmpty("an animation name"));
  app.add_option("--action", actions,
                 "play NAME once, SECONDS in (NAME@SECONDS) or at once (NAME); repeatable")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(ActionFormat());
  app.add_option("--attach", props,
                 "hang the model MODEL.cfg on each character's bone BONE (BONE=MODEL.cfg; "
                 "repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(PropFormat());
  app.add_option("--morph", morphs,
                 "weight the morph target NAME of every sub-mesh that has one (NAME=WEIGHT, 0 "
                 "to 100; repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(MorphFormat());
  app.add_option("--morphanim", options.morphAnimation,
                 "morph animation to loop: the module's name or the file's base name (default: "
                 "a model's first, if it has one)")
      ->check(NotEmpty("a morph animation name"));
  app.add_option("--lod", options.lod, "level of detail, 0 to 1 (default 1)")
      ->check(Within(0.0, 1.0, "a level between 0 and 1"));
  app.add_option("--zoom", options.zoom,
                 "show the characters F times as large as framed (0.01 to 100, default 1)")
      ->check(Within(0.01, 100.0, "a factor from 0.01 to 100"));
  app.add_option("--crowd", options.crowd, "N characters in a grid (at most 10000)")
      ->check(Within(1, kMaxCrowd, "a count from 1 to " + std::to_string(kMaxCrowd)));
  app.add_option("--threads", options.threads,
                 "draw the characters on N threads at once, 0 for one a core (default 1)")
      ->check(Within(0, kMaxThreads, "a count from 0 to " + std::to_string(kMaxThreads)));
  app.add_option("--offscreen", offscreen, "off-screen GL: auto (EGL, else OSMesa), egl, osmesa")
      ->check(CLI::Validator(
          [](std::string& text) {
            return kOffscreenNames.count(text) > 0 ? std::string()
                                                   : text + ": not auto, egl or osmesa";
          },
          "auto|egl|osmesa"));
}

// The camera, the ground and the animated picture.
void AddViewpoint(CLI::App& app, Options& options) {
  app.add_option("--yaw", options.yaw,
                 "look from DEG degrees about the vertical, 0 facing the characters (-360 to 360)")
      ->check(Within(-360.0, 360.0, "degrees from -360 to 360"));
  app.add_option("--pitch", options.pitch, "look from DEG degrees above the ground (-89 to 89)")
      ->check(Within(-89.0, 89.0, "degrees from -89 to 89"));
  app.add_flag("--turntable", options.turntable,
               "turn the camera once about the characters over the frames");
  app.add_flag("--floor", options.floor, "a grid on the ground the characters stand on");
  app.add_option("--gif", options.gif, "write the frames as an animated GIF into FILE")
      ->check(NotEmpty("a file name"));
}

void AddFlags(CLI::App& app, Options& options, std::vector<std::string>& picks) {
  app.add_flag("--mirror", options.mirror, "mirrored camera");
  app.add_flag("--bounds", options.bounds,
               "draw each character's box, which then follows its pose (the engine culls by it)");
  app.add_flag("--unlit", options.unlit,
               "no light: every vertex white, as the module draws without light");
  app.add_option("--hide", options.hide,
                 "hide mesh N (its place among the mesh lines) of every character")
      ->check(Within(0, 1000, "a mesh id from 0"));
  app.add_option("--pick", picks,
                 "after the last frame, print what lies under pixel X,Y (from the top left): "
                 "the character, mesh, sub-mesh and triangle")
      ->check(PixelFormat())
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--empty", options.empty, "no characters, background only");
  app.add_flag("--list", options.list,
               "print the animations (with their durations), meshes, materials and maps of each "
               "model, and stop");
  app.add_flag("--events", options.events,
               "print each animation's start and each action's end as the first character "
               "crosses them");
  app.add_flag("--verbose", options.verbose, "show the module's loading messages");
  app.add_flag("--quiet", options.quiet, "hide the lines about maps that did not load");
  app.add_flag("--window", options.window, "interactive window (SDL2)");
}

// The values the validators above have accepted, split into their parts.
void ReadChecked(const std::string& size, const std::string& offscreen,
                 const std::vector<std::string>& actions, const std::vector<std::string>& props,
                 const std::vector<std::string>& morphs, const std::vector<std::string>& picks,
                 Options& options) {
  options.offscreen = kOffscreenNames.at(offscreen);
  if (!size.empty()) {
    const size_t x = size.find('x');
    ReadWithin(size.substr(0, x), 16, kMaxSide, options.width);
    ReadWithin(size.substr(x + 1), 16, kMaxSide, options.height);
  }
  for (const std::string& text : actions) {
    TimedAction action;
    ReadAction(text, action);
    options.actions.push_back(action);
  }
  for (const std::string& text : props) {
    PropOption prop;
    ReadProp(text, prop);
    options.props.push_back(prop);
  }
  for (const std::string& text : morphs) {
    MorphOption morph;
    ReadMorph(text, morph);
    options.morphs.push_back(morph);
  }
  for (const std::string& text : picks) {
    std::pair<int, int> pixel;
    ReadPixel(text, pixel);
    if (pixel.first >= options.width || pixel.second >= options.height)
      throw BadArguments{"--pick " + text + ": outside the picture of " +
                         std::to_string(options.width) + "x" + std::to_string(options.height)};
    options.picks.push_back(pixel);
  }
}

}  // namespace

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  CLI::App app(kDescription, kProgram);
  // As with most programs, a later value of an option replaces an earlier one.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  std::string size, offscreen = "auto";
  std::vector<std::string> actions, props, morphs, picks;
  AddValues(app, options, size, offscreen, actions, props, morphs);
  AddFlags(app, options, picks);
  AddViewpoint(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    std::exit(0);
  } catch (const CLI::ParseError& error) {
    throw BadArguments{error.what()};
  }
  ReadChecked(size, offscreen, actions, props, morphs, picks, options);
  options.framesGiven = app.count("--frames") > 0;
  options.yawGiven = app.count("--yaw") > 0;
  options.pitchGiven = app.count("--pitch") > 0;
  if (options.models.empty()) options.models.push_back("hero.cfg");
  if (options.window && !options.framesGiven && !options.out.empty())
    throw BadArguments{"--out with --window needs --frames"};
  if (options.window && !options.framesGiven && !options.gif.empty())
    throw BadArguments{"--gif with --window needs --frames"};
  if (!options.gif.empty() &&
      double(options.frames) * options.width * options.height > kMaxGifPixels)
    throw BadArguments{"--gif: " + std::to_string(options.frames) + " frames of " +
                       std::to_string(options.width) + "x" + std::to_string(options.height) +
                       " are more than a GIF may hold here (256 Mi pixels in all)"};
  // Output paths are taken from where the program was started.
  options.out = Absolute(options.out);
  options.screenshot = Absolute(options.screenshot);
  options.gif = Absolute(options.gif);
  options.module = Absolute(options.module);
  options.startFolder = Absolute(".");
  return options;
}

}  // namespace rwview
