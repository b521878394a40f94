// The viewer's command line: every option typed and range-checked as it is
// parsed, output paths made absolute from where the program was started.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "viewer/gl_context.h"

namespace rwview {

// Frames are rendered one at a time and only the contact sheet grows with
// their number (it is bounded too); 100000 frames are more than an hour at
// 24 fps.
constexpr int kMaxFrames = 100000;
constexpr int kMaxCrowd = 10000;
constexpr int kMaxThreads = 256;
constexpr int kMaxSide = 8192;  // a frame of 8192 x 8192 takes 192 MiB, its GL buffer 256 MiB

struct TimedAction {
  std::string name;  // as given
  double seconds = 0;
};

// A prop hung on each character's bone: --attach BONE=MODEL.cfg.
struct PropOption {
  std::string bone;
  std::string model;  // as given, placed as a character's model is
};

// A morph target's weight on each character: --morph NAME=WEIGHT.
struct MorphOption {
  std::string name;
  float weight = 0;
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
  std::vector<PropOption> props;
  std::vector<MorphOption> morphs;
  std::string morphAnimation;  // empty: each model's first morph animation, if it has one
  bool events = false;
  double lod = 1.0;
  double zoom = 1.0;
  int crowd = 0;
  int threads = 1;  // drawing threads; 0: one a core
  bool mirror = false;
  // Characters are lit by one light from the front above unless --unlit
  // (white, the module's look without light); --hide MESH hides that mesh
  // of every character.
  bool unlit = false;
  // --bounds: each character's box follows its pose and is drawn.
  bool bounds = false;
  std::vector<int> hide;
  // --pick X,Y: after the last frame, what lies under each of these pixels.
  std::vector<std::pair<int, int>> picks;
  bool empty = false;
  bool window = false;
  bool verbose = false;
  bool quiet = false;
  bool list = false;
  Offscreen offscreen = Offscreen::Any;
  // Where the camera looks from, in degrees (when not given: from the front,
  // a little aside and above), whether it turns once about the characters
  // over the frames, a grid on the ground, and the frames as an animated GIF.
  double yaw = 0, pitch = 0;
  bool yawGiven = false, pitchGiven = false;
  bool turntable = false;
  bool floor = false;
  std::string gif;
  std::string startFolder;  // where the program was started, for the commands it suggests

  // Whether the run writes any picture.
  bool WritesPictures() const { return !out.empty() || !screenshot.empty() || !gif.empty(); }
  // The window runs on the wall clock until closed unless --frames counts its steps.
  bool Interactive() const { return window && !framesGiven; }
};

// Throws BadArguments for anything wrong; prints the help and exits 0 for --help.
Options ParseOptions(int argc, char** argv);

// `path` made absolute from the current folder and normalised ("" stays "").
std::string Absolute(const std::string& path);

}  // namespace rwview
