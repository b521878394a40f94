// rigweave-view: shows animated characters the way an application would.
// It loads the module by class id through the component system, makes one
// mesh object per character, loads a model configuration into each through
// iCal3DState and steers their animation, then renders frames with the GL
// backend, off-screen into PNG files or into a window.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "viewer/failure.h"
#include "viewer/frame_loop.h"
#include "viewer/framing.h"
#include "viewer/interrupt.h"
#include "viewer/model_place.h"
#include "viewer/model_report.h"
#include "viewer/options.h"
#include "viewer/picking.h"
#include "viewer/outputs.h"
#include "viewer/scene.h"

namespace {

using namespace rwview;

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

void Run(const Options& options) {
  std::vector<Model> models = ReadModels(options);
  std::vector<Model> props = ReadProps(options);
  Outputs outputs(options.out, options.screenshot, options.gif);
  outputs.Check();
  Scene scene(options, models, props);
  scene.Open();
  scene.MakeCharacters();
  if (options.list) {
    // The first character of each model answers for its animations.
    for (Model& model : models)
      for (const Character& character : scene.characters)
        if (character.model == &model) {
          ListModel(model, options.startFolder, *character.rigweave);
          break;
        }
  } else {
    Framing framing = FrameScene(scene);
    if (options.floor) scene.AddFloor(framing.low, framing.high);
    scene.stage->GetCamera()->SetMirrored(options.mirror);
    RenderAndReport(scene, framing, outputs);
    for (const auto& [x, y] : options.picks)
      std::printf("%s\n",
                  DescribePick(scene, x, y, PickAt(scene, x, y, PickReach(framing))).c_str());
  }
  outputs.Keep();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const BadArguments& bad) {
    std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, bad.text.c_str());
    return 2;
  }
  if (!options.root.empty() && !CanEnter(options.root)) {
    std::fprintf(stderr, "%s: cannot enter %s (%s)\n", kProgram, options.root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (options.root.empty()) options.root = DefaultRoot();
  CatchInterrupts();
  try {
    Run(options);
  } catch (const Interrupted& interrupted) {
    EndBy(interrupted);
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
