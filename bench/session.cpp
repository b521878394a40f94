#include "bench/session.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

#include "formats/config.h"

namespace rwbench {
namespace {

csTicks ReadTicks(void* session) {
  return static_cast<Session*>(session)->ticks;
}

}  // namespace

Session::Session(Options given)
    : options(std::move(given)),
      modelFolder(options.root + "/models/"),
      sample(options.models.empty() ? "" : options.models.front()) {}

void Session::Fail(const std::string& what) {
  std::cerr << "rigweave-bench: " << what << "\n";
  failed = true;
}

void Session::Add(const std::string& name, double value, int decimals, const std::string& target,
                  bool met, const std::string& how) {
  if (!std::isfinite(value)) Fail("figure " + name + " is not a number");
  figures.push_back({group, name, value, decimals, target, met, how});
}

void Session::RequireEveryFigure() {
  if (!options.only.empty()) return;
  std::vector<std::string> required = {
      "vertex_mismatches", "load_ratio",        "empty_object_kib", "loaded_object_ratio",
      "crowd_60hz",        "crowd_60hz_direct", "crowd_60hz_ratio", "frame_allocations"};
  for (const std::string& model : options.models)
    required.push_back("draw_ratio_" + std::string(rigweave::AnimationNameFromFile(model)));
  for (const std::string& name : required) {
    const bool present = std::any_of(figures.begin(), figures.end(),
                                     [&](const Figure& f) { return f.name == name; });
    if (!present) Fail("no figure " + name);
  }
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

void Session::Print() const {
  std::vector<Figure> sorted = figures;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Figure& a, const Figure& b) { return a.group < b.group; });
  for (const Figure& f : sorted)
    std::cout << "figure " << f.name << " " << Fixed(f.value, f.decimals) << "\n";
  std::cout << "\n"
            << (options.quick ? "quick run (few samples: the values are not meaningful)\n" : "")
            << "Renderer: NullBackend. Animation clock: moved 16 ms per frame by hand (dt 0.016 "
               "s).\nTimes: medians of this thread's CPU time (CLOCK_THREAD_CPUTIME_ID), which "
               "leaves out other processes.\n\n";
  size_t nameWidth = 6, valueWidth = 5;
  for (const Figure& f : sorted) {
    nameWidth = std::max(nameWidth, f.name.size());
    valueWidth = std::max(valueWidth, Fixed(f.value, f.decimals).size());
  }
  std::cout << std::left << std::setw(static_cast<int>(nameWidth)) << "figure"
            << "  " << std::right << std::setw(static_cast<int>(valueWidth)) << "value"
            << "  " << std::left << std::setw(16) << "target"
            << "  "
            << "how measured\n";
  for (const Figure& f : sorted) {
    const std::string target = f.target.empty() ? "-" : f.target + (f.met ? " met" : " MISSED");
    std::cout << std::left << std::setw(static_cast<int>(nameWidth)) << f.name << "  " << std::right
              << std::setw(static_cast<int>(valueWidth)) << Fixed(f.value, f.decimals) << "  "
              << std::left << std::setw(16) << target << "  " << f.how << "\n";
  }
  std::cout.flush();
}

void Session::StartClock() {
  csSetTickSource(&ReadTicks, this);
}

void Session::StopClock() {
  csSetTickSource(nullptr, nullptr);
}

}  // namespace rwbench
