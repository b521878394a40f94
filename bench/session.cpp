#include "bench/session.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>
#include <utility>

#include "formats/config.h"

namespace rwbench {
namespace {

csTicks ReadTicks(void* session) {
  return static_cast<Session*>(session)->ticks;
}

// The processor as /proc/cpuinfo names it, its core count, and which of the
// instruction sets the skinning kernels could use it has.
std::string Processor() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown", flags;
  while (std::getline(cpuinfo, line)) {
    auto value = [&] { return line.substr(line.find(':') + 2); };
    if (model == "unknown" && line.rfind("model name", 0) == 0) model = value();
    if (flags.empty() && line.rfind("flags", 0) == 0) flags = " " + value() + " ";
  }
  std::string sets;
  for (const char* set : {"sse2", "avx", "avx2", "fma", "avx512f", "avx512bw", "avx512vl"})
    if (flags.find(" " + std::string(set) + " ") != std::string::npos)
      sets += (sets.empty() ? "" : " ") + std::string(set);
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) +
         " cores; instruction sets: " + (sets.empty() ? "none of sse2..avx512" : sets);
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
      "vertex_mismatches",   "load_ratio",         "empty_object_kib",
      "loaded_object_ratio", "crowd_60hz",         "crowd_60hz_direct_shared",
      "crowd_60hz_ratio",    "crowd_60hz_threads", "crowd_threads_ratio",
      "extra_character_kib", "load_again_us",      "frame_allocations"};
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
            << "Processor: " << Processor() << "\n"
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
