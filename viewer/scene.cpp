#include "viewer/scene.h"

#include <cmath>
#include <filesystem>

#include "engine/bone_attachment.h"
#include "tools/model_files.h"
#include "viewer/event_printer.h"
#include "viewer/failure.h"
#include "engine/light.h"
#include "viewer/bounds_frame.h"
#include "viewer/floor.h"
#include "viewer/interrupt.h"
#include "viewer/model_report.h"
#include "viewer/module_messages.h"

namespace rwview {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kBackground[3] = {200, 208, 222};

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
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate.lexically_normal().string();
  }
  return (here / "rigweave.so").string();
}

std::string LastWord(const std::string& message) {
  return message.empty() ? "" : " (the module's last word: " + message + ")";
}

}  // namespace

Scene::Scene(const Options& options, std::vector<Model>& models, std::vector<Model>& propModels)
    : options(options), models(models), propModels(propModels), lod(options.lod) {}

// Module objects first while the module is loaded; cached textures hold
// engine handles whose images the module made; GL objects need the context.
Scene::~Scene() {
  boundsFrames.clear();
  characters.clear();
  floor.reset();
  if (backend) backend->ForgetAllTextures();
  stage.reset();
  backend.reset();
  context.reset();
  csSetTickSource(nullptr, nullptr);
}

void Scene::Open() {
  csSetTickSource(&Clock::Read, &clock);
  if (!options.list) {
    std::string error;
    if (options.window)
      context = CreateWindowContext(options.width, options.height, kProgram, error);
    else
      context = CreateOffscreenContext(options.width, options.height, error, options.offscreen);
    if (!context) throw Failure{error};
    backend = std::make_unique<rwengine::GlBackend>(context->Api());
    backend->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
  }
  stage =
      std::make_unique<rwengine::Stage>(backend.get(), options.width, options.height, options.root);
  // Lit, a material without a readable map shows its diffuse colour, not grey cobbles.
  if (!options.unlit) stage->GetLoader()->SetPlainFallback(true);
  const std::string module = FindModule(options);
  if (!stage->LoadModule(module))
    throw Failure{"cannot load the module " + module + ": " + stage->LastError()};
}

void Scene::MakeCharacters() {
  if (options.empty) return;
  // A box reads its character's pose, which another thread could be drawing.
  if (options.bounds && options.threads != 1)
    throw Failure{"--bounds draws on one thread: leave out --threads"};
  if (!options.unlit) {
    // Far in front of the characters (they face +z), to the left and above,
    // so that it lights every character alike.
    csRef<rwengine::Light> light = csRef<rwengine::Light>::Adopt(
        new rwengine::Light(csVector3(-40, 60, 80), csColor{0.75f, 0.75f, 0.75f}));
    stage->AddLight(light.get());
  }
  const int count = options.crowd > 0 ? options.crowd : static_cast<int>(models.size());
  std::vector<bool> loadedOnce(models.size(), false);
  for (int i = 0; i < count; i++) {
    ThrowIfInterrupted();
    const size_t which = static_cast<size_t>(i) % models.size();
    Character character = MakeCharacter(i, count);
    character.model = &models[which];
    Load(character, !loadedOnce[which]);
    loadedOnce[which] = true;
    SetMorphs(character);
    HangProps(character, i == 0);
    if (i == 0 && options.events) PrintEvents(character, seconds);
    if (options.bounds) {
      character.rigweave->SetBoundsFollow(true);
      boundsFrames.push_back(MakeBoundsFrame(character.mesh.get()));
    }
    characters.push_back(std::move(character));
  }
  clock.now = Clock::kStart;
}

Character Scene::MakeCharacter(int index, int count) {
  Character character;
  // A crowd in step looks like one character copied: each is made at a
  // different moment, so its first frame finds it further into its cycle.
  clock.now = Clock::kStart - static_cast<csTicks>(std::fmod(index * 0.618034, 1.0) * 1000.0);
  // The first makes the module's type, which says in a line when it cannot
  // skin on the instruction set RIGWEAVE_SKINNING_ISA names.
  const std::string last = RunAside(
      false, [&] { character.mesh = stage->NewMeshObject(rwengine::Stage::kRigweaveClass); },
      "RIGWEAVE_SKINNING_ISA");
  if (!character.mesh && last.find("Out of memory") != std::string::npos)
    throw Failure{"out of memory after " + std::to_string(index) + " of " + std::to_string(count) +
                  " characters (the module's last word: " + last + ")"};
  if (!character.mesh)
    throw Failure{std::string("the module gives no mesh object of class ") +
                  rwengine::Stage::kRigweaveClass + LastWord(last)};
  character.state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(character.mesh.get()));
  if (!character.state) throw Failure{"the mesh object does not offer iCal3DState"};
  character.rigweave =
      csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(character.mesh.get()));
  if (!character.rigweave) throw Failure{"the mesh object does not offer iRigweaveState"};
  character.movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  character.movable->UpdateMove();
  return character;
}

// The module's loading lines are shown with --verbose, and the maps it could
// not read are reported, once per model.
void Scene::Load(Character& character, bool firstOfModel) {
  Model& model = *character.model;
  rwengine::Engine* engine = stage->GetEngine();
  const int materialsBefore = engine->GetMaterialCount();
  // A model below the root is read where the module reads by default; any
  // other from the folder it lies in, named to the engine's file system.
  stage->GetFileSystem()->SetModelFolder(model.belowRoot ? "" : model.folder.string());
  bool loaded = false;
  const std::string last = RunAside(options.verbose && firstOfModel, [&] {
    loaded = character.state->LoadModel(model.name.c_str(), stage->GetLoader(), stage->GetEngine());
  });
  if (!loaded) throw Failure{"cannot load model " + model.name + LastWord(last)};
  if (!model.cycle.empty() && !character.state->SetCycle(model.cycle.c_str(), 0.0f, 0.0f, 1.0f))
    throw Failure{"model " + model.name + " has no animation named " + model.cycle};
  character.state->SetLodLevel(static_cast<float>(lod));
  if (!options.unlit) {
    character.rigweave->SetAmbientLight({0.35f, 0.35f, 0.35f});
    character.rigweave->SetLighting(true);
  }
  for (int mesh : options.hide)
    if (!character.rigweave->SetMeshVisible(mesh, false))
      throw Failure{"model " + model.name + " has no mesh " + std::to_string(mesh) + " (it has " +
                    std::to_string(character.rigweave->GetMeshCount()) + ")"};
  if (!firstOfModel) return;
  // The module makes a material named like each map file it could read.
  for (int m = materialsBefore; m < engine->GetMaterialCount(); m++)
    model.loadedMaps.insert(engine->GetMaterial(m)->GetName());
  if (!options.quiet && !options.list) ReportMaps(model, options.startFolder);
}

namespace {

// The morph animation named by the module's name or, as cycles are, the
// file's base name; -1 when none is.
int FindMorphAnimation(iRigweaveState& state, const std::string& name) {
  const int id = state.FindMorphAnimation(name.c_str());
  if (id >= 0) return id;
  for (int a = 0; a < state.GetMorphAnimationCount(); a++) {
    const std::string full = state.GetMorphAnimationName(a);
    if (full.substr(full.rfind('/') + 1) == name) return a;
  }
  return -1;
}

}  // namespace

void Scene::SetMorphs(Character& character) {
  iRigweaveState& state = *character.rigweave;
  const std::string& model = character.model->name;
  for (const MorphOption& morph : options.morphs) {
    int set = 0;
    for (int m = 0; m < state.GetMeshCount(); m++)
      for (int s = 0; s < state.GetSubmeshCount(m); s++) {
        const int target = state.FindMorphTarget(m, s, morph.name.c_str());
        if (target >= 0 && state.SetMorphTargetWeight(m, s, target, morph.weight, 0.0f)) set++;
      }
    if (set == 0) throw Failure{"model " + model + " has no morph target named " + morph.name};
  }
  // As Cal3D's newer viewer plays a configuration's first morph animation.
  int played = state.GetMorphAnimationCount() > 0 ? 0 : -1;
  if (!options.morphAnimation.empty()) {
    played = FindMorphAnimation(state, options.morphAnimation);
    if (played < 0)
      throw Failure{"model " + model + " has no morph animation named " + options.morphAnimation};
  }
  if (played >= 0) state.BlendMorphAnimation(played, 1.0f, 0.0f);
}

void Scene::HangProps(Character& character, bool first) {
  for (size_t p = 0; p < propModels.size(); p++) {
    const std::string& bone = options.props[p].bone;
    Character prop = MakeCharacter(0, 1);
    prop.model = &propModels[p];
    Load(prop, first);
    if (rwengine::AttachToBone(*prop.movable, character.movable.get(), character.rigweave.get(),
                               bone.c_str(), csReversibleTransform()) >= 0) {
      character.props.push_back(std::move(prop));
      continue;
    }
    std::vector<std::string> bones;
    for (int b = 0; b < character.rigweave->GetBoneCount(); b++)
      bones.emplace_back(character.rigweave->GetBoneName(b));
    throw Failure{"model " + character.model->name + " has no bone named " + bone +
                  " (it has: " + rwtools::JoinNames(bones) + ")"};
  }
}

std::vector<std::pair<iMeshObject*, iMovable*>> Scene::Objects() const {
  std::vector<std::pair<iMeshObject*, iMovable*>> objects;
  if (floor) objects.emplace_back(floor.get(), floorPlace.get());
  for (const Character& c : characters) objects.emplace_back(c.mesh.get(), c.movable.get());
  for (const Character& c : characters)
    for (const Character& prop : c.props) objects.emplace_back(prop.mesh.get(), prop.movable.get());
  for (size_t i = 0; i < boundsFrames.size() && i < characters.size(); i++)
    objects.emplace_back(boundsFrames[i].get(), characters[i].movable.get());
  return objects;
}

void Scene::AddFloor(const csVector3& low, const csVector3& high) {
  floor = MakeFloor(low, high);
  floorPlace = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
}

}  // namespace rwview
