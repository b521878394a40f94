// Measures the module against the same Cal3D work done directly: frame
// time, load time, memory, crowd size at 60 Hz and heap allocations per
// frame. Prints one "figure NAME VALUE" line per figure, then a table.
//
//   rigweave-bench [--quick] [--root DIR] [--module PATH]
//                  [--only draw|load|memory|crowd|alloc|skin] [--frames N] [MODEL.cfg...]
//
// DIR's models/ folder holds the characters (by default the build folder
// and its generated sample and large characters). The frame figures and
// vertex_mismatches are given for every character named; load, memory,
// crowd and allocations for the first. Each measurement is a file of its
// own (bench/measure_*.cpp).
// Exits non-zero when a measurement could not be made (a load failed, the
// renderer rejected a record, a child process died), never for a missed
// target.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

#include "tools/command_line.h"
#include "bench/measurements.h"
#include "bench/session.h"
#include "bench/walkers.h"
#include "engine/stage.h"

namespace rwbench {
namespace {

int Run(Session& session) {
  const Options& options = session.options;
  std::error_code error;
  if (!std::filesystem::is_directory(session.modelFolder, error)) {
    std::cerr << "rigweave-bench: no models/ folder in " << options.root << "\n";
    return 2;
  }
  session.StartClock();
  const bool quick = options.quick;
  session.group = kMemory;
  if (session.Wants("memory")) MeasureMemory(session, quick ? 10 : 100);

  BenchBackend backend;
  {
    rwengine::Stage stage(&backend, 640, 480, options.root);
    if (!stage.LoadModule(options.module)) {
      std::cerr << "rigweave-bench: " << stage.LastError() << "\n";
      return 2;
    }
    session.group = kLoad;
    if (session.Wants("load")) MeasureLoad(session, stage, quick ? 5 : 200);

    session.group = kDraw;
    const int frames = options.frames > 0 ? options.frames : quick ? 60 : 3000;
    DrawTimes hero;
    if (session.Wants("draw") || session.Wants("crowd")) {
      for (const std::string& model : options.models) {
        const bool first = model == options.models.front();
        if (!session.Wants("draw") && !first) continue;
        const DrawTimes times = MeasureDraw(session, stage, backend, model.c_str(), frames);
        if (first) hero = times;
        if (session.Wants("draw")) AddDrawFigures(session, stage, backend, model, frames, times);
      }
    }
    if (session.Wants("draw")) MeasureMismatches(session, stage, backend, quick ? 60 : 1000);

    session.group = kSkinning;
    if (session.Wants("skin") || session.Wants("draw"))
      for (const std::string& model : options.models)
        MeasureSkinning(session, model.c_str(), quick ? 5 : 200);

    session.group = kCrowd;
    if (session.Wants("crowd") && hero.directUs > 0) {
      const double moduleUs = hero.drawUs + hero.drawTestUs;
      MeasureCrowd(session, stage, backend, moduleUs, hero.directUs, quick ? 3 : 15, quick ? 1 : 5,
                   "");
      // The null backend reads no geometry, so the renderer does not check
      // its indices; this is what a renderer that does check would cost.
      backend.checked = true;
      MeasureCrowd(session, stage, backend, moduleUs, hero.directUs, quick ? 3 : 15, quick ? 1 : 3,
                   "_checked");
      backend.checked = false;
    }

    session.group = kAllocations;
    if (session.Wants("alloc")) MeasureAllocations(session, stage, quick ? 100 : 1000);
    if (session.Wants("alloc")) MeasureApplication(session, stage, quick ? 100 : 1000);
  }
  session.StopClock();
  session.RequireEveryFigure();
  session.Print();
  return session.failed ? 1 : 0;
}

}  // namespace
}  // namespace rwbench

int main(int argc, char** argv) {
  constexpr const char kProgram[] = "rigweave-bench";
  CLI::App app("Measures the module against the same Cal3D work done directly.", kProgram);
  rwbench::Options options;
  options.root = RIGWEAVE_BUILD_DIR;
  options.module = RIGWEAVE_MODULE_PATH;
  app.add_flag("--quick", options.quick, "every figure from few samples (values not meaningful)");
  app.add_option("--root,--dir", options.root,
                 "the folder that holds models/ (default: the build folder)");
  app.add_option("--module", options.module, "the module file (default: the build's rigweave.so)");
  app.add_option("--only", options.only, "one measurement")
      ->check(CLI::IsMember({"draw", "load", "memory", "crowd", "alloc", "skin"}));
  app.add_option("--frames", options.frames, "frames a frame figure is measured over")
      ->check(CLI::NonNegativeNumber);
  app.add_option("MODEL.cfg", options.models,
                 "characters below models/ (default: hero.cfg large.cfg)");
  if (const int status = rwtools::ParseCommandLine(app, argc, argv, kProgram); status >= 0)
    return status;
  if (options.models.empty()) options.models = {"hero.cfg", "large.cfg"};
  rwbench::Session session(std::move(options));
  return rwbench::Run(session);
}
