// Loading: LoadModel against the same Cal3D load and texture reads done directly.
#include <unistd.h>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"

namespace rwbench {
namespace {

// One LoadModel of the sample into a new mesh object, in thread CPU time;
// the object goes with the call.
bool TimedLoad(Session& session, rwengine::Stage& stage, double& us) {
  csRef<iMeshObject> mesh = stage.NewMeshObject();
  csRef<iCal3DState> state = StateOf(mesh.get());
  SilencedStdout quiet;
  const Stopwatch watch;
  const bool loaded =
      state->LoadModel(session.sample.c_str(), stage.GetLoader(), stage.GetEngine());
  us = watch.CpuUs();
  return loaded;
}

}  // namespace

void MeasureLoad(Session& session, rwengine::Stage& stage, int repetitions) {
  CharacterFiles files;
  if (!ReadCharacterFiles(session.modelFolder, session.sample.c_str(), files))
    return session.Fail("cannot read the sample");

  // Once, into a file, to count what the module prints per load.
  int linesPerLoad = -1;
  if (std::FILE* capture = std::tmpfile()) {
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fileno(capture), 1);
    csRef<iMeshObject> mesh = stage.NewMeshObject();
    const bool loaded =
        mesh && StateOf(mesh.get())
                    ->LoadModel(session.sample.c_str(), stage.GetLoader(), stage.GetEngine());
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (!loaded) return session.Fail("cannot load the sample");
    std::rewind(capture);
    linesPerLoad = 0;
    for (int c; (c = std::fgetc(capture)) != EOF;) linesPerLoad += c == '\n';
    std::fclose(capture);
  }

  std::vector<double> module, direct;
  for (int i = 0; i < repetitions + 2; i++) {
    double moduleUs, directUs;
    if (!TimedLoad(session, stage, moduleUs)) return session.Fail("LoadModel of the sample failed");
    {
      DirectCharacter character;
      std::vector<std::vector<uint8_t>> textures;
      const Stopwatch watch;
      const bool loaded = character.Load(session.modelFolder, files) &&
                          character.ReadTextures(session.modelFolder, textures);
      directUs = watch.CpuUs();
      if (!loaded) return session.Fail("direct load of the sample failed");
    }
    // The first two warm the file cache and the allocator.
    if (i < 2) continue;
    module.push_back(moduleUs);
    direct.push_back(directUs);
  }
  const double moduleUs = Median(module), directUs = Median(direct);
  const double ratio = moduleUs / directUs;
  session.Add("load_ratio", ratio, 3, "<= 1.15", ratio <= 1.15,
              "median LoadModel " + Fixed(moduleUs, 0) +
                  " us vs direct Cal3D load + texture read " + Fixed(directUs, 0) + " us, " +
                  std::to_string(repetitions) + " interleaved, thread CPU time; the module's " +
                  std::to_string(linesPerLoad) +
                  " printed lines per load are included, written to /dev/null");
  session.Add("load_module_us", moduleUs, 0, "", true,
              "median LoadModel (making the object not timed)");
  session.Add("load_direct_us", directUs, 0, "", true,
              "median Cal3D core + instance + attach + material set + texture files read");
  session.Add("load_printed_lines", linesPerLoad, 0, "", true, "lines the module prints per load");

  // Again, while a character of the model is loaded: the files are only
  // checked unchanged and the new character shares what the first made.
  csRef<iMeshObject> holder = stage.NewMeshObject();
  DirectCharacter directHolder;
  {
    SilencedStdout quiet;
    if (!holder || !StateOf(holder.get())
                        ->LoadModel(session.sample.c_str(), stage.GetLoader(), stage.GetEngine()))
      return session.Fail("cannot load the sample");
  }
  if (!directHolder.Load(session.modelFolder, files)) return session.Fail("direct load failed");
  std::vector<double> again, directAgain;
  for (int i = 0; i < repetitions + 2; i++) {
    double moduleUs, directUs;
    if (!TimedLoad(session, stage, moduleUs)) return session.Fail("LoadModel of the sample failed");
    {
      DirectCharacter character;
      const Stopwatch watch;
      const bool shared = character.Share(directHolder);
      directUs = watch.CpuUs();
      if (!shared) return session.Fail("direct instance of the sample failed");
    }
    if (i < 2) continue;
    again.push_back(moduleUs);
    directAgain.push_back(directUs);
  }
  const double againUs = Median(again);
  session.Add("load_again_us", againUs, 0, "<= 150", againUs <= 150,
              "median LoadModel of the sample while another character holds it (its files "
              "checked unchanged, the lines printed again), thread CPU time; a direct Cal3D "
              "instance of a loaded core model with its meshes attached: " +
                  Fixed(Median(directAgain), 0) + " us");
}

}  // namespace rwbench
