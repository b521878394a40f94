#include "bench/walkers.h"

#include "bench/instruments.h"
#include "formats/config.h"
#include "render/engine_space.h"

namespace rwbench {

std::string CycleName(const CharacterFiles& files) {
  constexpr const char kWalk[] = "walk";
  if (files.AnimationId(kWalk) >= 0 || files.animations.empty()) return kWalk;
  return std::string(rigweave::AnimationNameFromFile(files.animations[0]));
}

std::string TagOf(const std::string& config) {
  return std::string(rigweave::AnimationNameFromFile(config));
}

void ToEngineSpace(Session& session, csVector3* vertices, int count, float factor) {
  rigweave::EngineSpaceJob job;
  job.input = {vertices, static_cast<size_t>(count)};
  job.output = {vertices, static_cast<size_t>(count)};
  job.scale = factor;
  if (!job.Run()) session.Fail("vertices the module could not turn");
}

csRef<iCal3DState> StateOf(iBase* mesh) {
  return csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
}

csRef<iMeshObject> NewWalker(Session& session, rwengine::Stage& stage, const char* config) {
  CharacterFiles files;
  if (!ReadCharacterFiles(session.modelFolder, config, files)) return nullptr;
  csRef<iMeshObject> mesh = stage.NewMeshObject();
  if (!mesh) return nullptr;
  csRef<iCal3DState> state = StateOf(mesh.get());
  if (!state) return nullptr;
  bool loaded;
  {
    SilencedStdout quiet;
    loaded = state->LoadModel(config, stage.GetLoader(), stage.GetEngine());
  }
  if (!loaded || !state->SetCycle(CycleName(files).c_str(), 0.3f, 0.3f, 1.0f)) return nullptr;
  return mesh;
}

int RecordsPerFrame(Session& session, const char* config) {
  CharacterFiles files;
  DirectCharacter direct;
  if (!ReadCharacterFiles(session.modelFolder, config, files) ||
      !direct.Load(session.modelFolder, files))
    return -1;
  CalRenderer* renderer = direct.Model()->getRenderer();
  if (!renderer->beginRendering()) return -1;
  int submeshes = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++)
    submeshes += renderer->getSubmeshCount(mesh);
  renderer->endRendering();
  return 2 * submeshes;
}

bool Walker::Load(Session& session, const char* config) {
  if (!ReadCharacterFiles(session.modelFolder, config, files) ||
      !direct.Load(session.modelFolder, files))
    return false;
  buffers.FitTo(*direct.Model());
  return direct.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
}

}  // namespace rwbench
