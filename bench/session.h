// What every measurement of a benchmark run shares: the options, where the
// characters are, the figures so far and the clock the module reads.
#pragma once

#include <string>
#include <vector>

#include "host/clock.h"

namespace rwbench {

// One frame at 60 Hz, and the whole milliseconds the engine's clock moves
// between frames.
constexpr double kFrameBudgetUs = 16700.0;
constexpr csTicks kTicksPerFrame = 16;
constexpr float kFrameSeconds = 0.016f;

struct Options {
  bool quick = false;
  std::string root;    // the folder that holds models/
  std::string module;  // rigweave.so
  std::string only;    // one measurement, or all
  int frames = 0;      // 0: the measurement's own count
  std::vector<std::string> models;
};

// The order figures are listed in: the frame, the skinning unit, the load,
// memory, the crowd, allocations.
enum Group { kDraw, kSkinning, kLoad, kMemory, kCrowd, kAllocations };

struct Figure {
  Group group = kDraw;
  std::string name;
  double value = 0;
  int decimals = 3;
  std::string target;  // empty: no target, shown for information
  bool met = true;
  std::string how;
};

struct Session {
  explicit Session(Options given);

  Options options;
  std::string modelFolder;  // options.root + "/models/"
  std::string sample;       // the first character named
  // The clock the module reads while StartClock holds: moved by hand, one
  // frame at a time.
  csTicks ticks = 1000;
  Group group = kDraw;  // of the figures added from now on
  std::vector<Figure> figures;
  bool failed = false;

  bool Wants(const char* measurement) const {
    return options.only.empty() || options.only == measurement;
  }
  // A measurement that could not be made: the run fails, whatever else it measured.
  void Fail(const std::string& what);
  void Add(const std::string& name, double value, int decimals, const std::string& target, bool met,
           const std::string& how);
  // The figures the whole benchmark gives, each present (when nothing was left out).
  void RequireEveryFigure();
  // One "figure NAME VALUE" line per figure, then the table.
  void Print() const;

  void StartClock();
  void StopClock();
};

// `value` with `decimals` digits after the point.
std::string Fixed(double value, int decimals);

}  // namespace rwbench
