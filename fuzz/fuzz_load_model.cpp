// A whole LoadModel of the sample character, or of its twin made of XML
// files, with one of its files mutated, through the module's own code
// linked in; then one drawn frame, then frames steered as an application
// would (see Steer), then every object released. See fuzz/model_input.h for
// how an input reads.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <fstream>
#include <string>
#include <vector>

#include "engine/backend_null.h"
#include "engine/live_objects.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "formats/config.h"
#include "fuzz/model_input.h"
#include "host/clock.h"
#include "ical3dstate.h"
#include "plugin/class_table.h"

namespace fs = std::filesystem;

namespace {

struct Character {
  std::string config;
  std::vector<std::string> names;
  std::vector<std::string> pristine;
};
struct ModelCopy {
  fs::path root;  // private; holds models/ with both characters' files
  Character characters[2];
};
ModelCopy* copy = nullptr;

// The clock the module reads, so that a frame lands at the same animation
// time on every run.
csTicks ticks = 0;
csTicks ReadTicks(void*) {
  return ticks;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_load_model: %s\n", what);
  std::abort();
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

void RemoveCopy() {
  if (copy == nullptr) return;
  std::error_code ignored;
  fs::remove_all(copy->root, ignored);
  delete copy;
  copy = nullptr;
}

// The application's side between draws, with values from the input: every
// animation call and the level of detail given NaNs, infinities, huge and
// negative numbers, names that exist and one that does not, the visibility
// callback set, vetoing and removed, and the clock jumping (across its wrap
// too). The last bytes of the input are read as 8-byte steps.
class Callback : public scfImplementation<Callback, iMeshObjectDrawCallback> {
 public:
  bool BeforeDrawing(iMeshObject*, iRenderView*) override { return !veto; }
  bool veto = false;
};

float Value(uint8_t select, const uint8_t* bits) {
  static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                   -std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   0.0f,
                                   -0.0f,
                                   1e30f,
                                   -1e30f,
                                   std::numeric_limits<float>::denorm_min(),
                                   1.0f,
                                   -1.0f,
                                   0.5f};
  if (select & 0x80) return kSpecial[(select & 0x7f) % (sizeof kSpecial / sizeof kSpecial[0])];
  float value;
  std::memcpy(&value, bits, 4);
  return value;
}

constexpr size_t kStepSize = 8;
constexpr size_t kMostSteps = 16;

void Steer(rwengine::Stage& stage, iMeshObject* mesh, iMovable* movable,
           const std::vector<std::string>& animations, const uint8_t* data, size_t size) {
  auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
  auto callback = csRef<Callback>::Adopt(new Callback);
  const size_t steps = std::min(size / kStepSize, kMostSteps);
  const uint8_t* step = data + size - steps * kStepSize;
  for (size_t i = 0; i < steps; i++, step += kStepSize) {
    const size_t pick = step[1] % (animations.size() + 1);
    const char* name = pick < animations.size() ? animations[pick].c_str() : "nosuch";
    const float a = Value(step[2], step + 4), b = Value(step[3], step + 4);
    switch (step[0] % 10) {
      case 0:
        state->SetLodLevel(a);
        break;
      case 1:
        state->SetCycle(name, a, b, a);
        break;
      case 2:
        state->ExecuteAction(name, a, b);
        break;
      case 3:
        state->BlendCycle(name, a, b);
        break;
      case 4:
        state->ClearCycle(name, a);
        break;
      case 5:
        state->ClearAllCycles();
        break;
      case 6:
        mesh->SetVisibleCallback(step[1] & 1 ? callback.get() : nullptr);
        callback->veto = step[1] & 2;
        break;
      case 7:
        mesh->UpdateLighting(nullptr, 0, movable);
        break;
      case 8:
        // Hours at once, or round the clock's wrap.
        ticks += step[2] & 1 ? 0xfffff000u : 3600000u;
        break;
      default:
        break;
    }
    ticks += 1 + step[3] % 100;
    stage.DrawFrame({{mesh, movable}});
  }
  mesh->SetVisibleCallback(nullptr);
}

struct Outcome {
  bool loaded = false;
  long draws = 0;    // triangle meshes the renderer passed on
  int rejected = 0;  // triangle meshes the renderer refused as unsafe
};

// Loads the character as the engine would, with the module's class made
// through its own class table, then draws one frame if the load worked.
// `configBytes` is the configuration as the module reads it.
Outcome LoadAndDraw(const std::string& config, const std::string& configBytes, const uint8_t* data,
                    size_t size) {
  Outcome outcome;
  rwengine::NullBackend backend;
  // Draws nothing, but has the renderer check every index as if it read them.
  backend.checked = true;
  rwengine::Stage stage(&backend, 64, 48, copy->root.string());
  scfClassInfo* table = rigweave::ModuleInitialize(stage.GetSCF());
  {
    auto typeBase = csRef<iBase>::Adopt(table[0].factory(nullptr));
    if (!typeBase) Fail("the module made no type");
    auto type = csRef<iMeshObjectType>::Adopt(scfQueryInterface<iMeshObjectType>(typeBase.get()));
    auto component = csRef<iComponent>::Adopt(scfQueryInterface<iComponent>(typeBase.get()));
    if (!type || !component || !component->Initialize(stage.GetRegistry()))
      Fail("the module's type cannot be initialised");
    auto factory = csRef<iMeshObjectFactory>::Adopt(type->NewFactory());
    if (!factory) Fail("the module's type made no factory");
    auto mesh = csRef<iMeshObject>::Adopt(factory->NewInstance());
    auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh.get()));
    if (!mesh || !state) Fail("the module made no mesh object");

    ticks = 0;
    outcome.loaded = state->LoadModel(config.c_str(), stage.GetLoader(), stage.GetEngine());
    if (outcome.loaded) {
      // A load that worked named every animation line of the configuration.
      const std::vector<std::string> animations =
          rigweave::ParseConfig(reinterpret_cast<const uint8_t*>(configBytes.data()),
                                configBytes.size())
              .AnimationNames();
      // Every animation at once, so that each animation file is evaluated.
      for (const std::string& name : animations) state->BlendCycle(name.c_str(), 0.0f, 1.0f);
      auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
      movable->SetPosition(csVector3(0, -1, 4));
      ticks = 700;
      stage.DrawFrame({{mesh.get(), movable.get()}});
      Steer(stage, mesh.get(), movable.get(), animations, data, size);
    }
  }
  outcome.draws = backend.draws;
  outcome.rejected = stage.GetGraphics()->DrawsRejected();
  return outcome;
}

}  // namespace

// Defaults that the environment can still override. Huge pages for the
// shadow: the mesh object is tens of megabytes, and poisoning its shadow page
// by page on every input costs more than the load. A fill of fresh blocks:
// Cal3D reads what a short read left unset, and a crash must not depend on
// what an earlier input left in the heap.
extern "C" const char* __asan_default_options() {
  return "no_huge_pages_for_shadow=0:max_malloc_fill_size=65536";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* source = std::getenv("RIGWEAVE_FUZZ_MODELS");
  if (source == nullptr) source = RIGWEAVE_MODELS_DIR;
  copy = new ModelCopy;
  const std::vector<std::string> sample = rwfuzz::ModelFiles(source);
  if (sample.empty()) {
    std::fprintf(stderr, "fuzz_load_model: no sample character in %s\n", source);
    std::exit(1);
  }
  char folder[] = "/tmp/rigweave-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) Fail("cannot make a private folder");
  copy->root = folder;
  std::atexit(RemoveCopy);
  const fs::path models = copy->root / "models";
  fs::create_directories(models);
  for (const std::string& name : sample) {
    std::string bytes;
    if (!rwfuzz::ReadWholeFile(std::string(source) + "/" + name, bytes) ||
        !WriteFile(models / name, bytes))
      Fail("cannot copy the sample character");
  }
  if (!rwfuzz::WriteXmlTwin(models.string())) Fail("cannot write the XML twin");
  const char* configs[] = {rwfuzz::kModelName, rwfuzz::kXmlModelName};
  for (int c = 0; c < 2; c++) {
    Character& character = copy->characters[c];
    character.config = configs[c];
    character.names = rwfuzz::ModelFiles(models.string(), character.config);
    if (character.names.empty()) Fail("a character of the private folder does not load");
    for (const std::string& name : character.names) {
      std::string bytes;
      if (!rwfuzz::ReadWholeFile((models / name).string(), bytes)) Fail("cannot read a file");
      character.pristine.push_back(std::move(bytes));
    }
  }
  csSetTickSource(&ReadTicks, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool xml = data[0] >= rwfuzz::kXmlCharacter;
  const Character& character = copy->characters[xml ? 1 : 0];
  const size_t file = (data[0] - (xml ? rwfuzz::kXmlCharacter : 0)) % character.names.size();
  const std::string& pristine = character.pristine[file];
  const std::string mutated = rwfuzz::Mutate(pristine, data + 1, size - 1);
  const fs::path path = copy->root / "models" / character.names[file];
  const bool changed = mutated != pristine;
  if (changed && !WriteFile(path, mutated)) Fail("cannot write the mutated file");

  const std::string& config = file == 0 ? mutated : character.pristine[0];
  const Outcome outcome = LoadAndDraw(character.config, config, data, size);
  // As when the engine unloads the module: after its last object is gone.
  rigweave::ModuleFinalize();

  if (changed && !WriteFile(path, pristine)) Fail("cannot restore the mutated file");
  // The character as generated must load and reach the screen whole.
  if (!changed && !outcome.loaded) Fail("the sample character did not load");
  if (!changed && outcome.draws == 0) Fail("the sample character was not drawn");
  // The stand-in renderer refuses what a real one would read out of bounds
  // with (indices past the locked vertices, missing arrays): whatever the
  // files say, the module must not hand such a record on.
  if (outcome.rejected != 0) Fail("the module handed the renderer an unsafe triangle mesh");
  // Whatever the module took from the engine it must have given back.
  if (rwengine::LiveObjects::Total() != 0) {
    for (const auto& [name, count] : rwengine::LiveObjects::Snapshot())
      if (count != 0) std::fprintf(stderr, "still alive: %d %s\n", count, name.c_str());
    Fail("engine objects outlived their stage");
  }
  return 0;
}
