// Vertex mismatches: what the module draws against Cal3D's renderer and the module's turn.
#include <cstring>
#include <string>
#include <vector>

#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/movable.h"
#include "formats/config.h"
#include "render/limits.h"

namespace rwbench {

// Coordinates the module drew that differ in any bit from Cal3D's renderer
// followed by the module's turn, on a Cal3D character of the same files
// driven by the same calls: `frames` walking frames with an action started
// every 300, at each level of detail. Adds to `compared` the coordinates
// compared; -1 when the two could not be driven alike.
namespace {

long CountMismatches(Session& session, rwengine::Stage& stage, BenchBackend& backend,
                     const char* config, int frames, long& compared) {
  long mismatches = 0;
  for (float lod : {1.0f, 0.5f}) {
    CharacterFiles files;
    DirectCharacter direct;
    csRef<iMeshObject> mesh = NewWalker(session, stage, config);
    if (!mesh || !ReadCharacterFiles(session.modelFolder, config, files) ||
        !direct.Load(session.modelFolder, files))
      return -1;
    const std::string cycle = CycleName(files);
    const int cycleId = files.AnimationId(cycle);
    const int actionId = files.AnimationId("wave") >= 0
                             ? files.AnimationId("wave")
                             : static_cast<int>(files.animations.size()) - 1;
    const std::string action(rigweave::AnimationNameFromFile(files.animations[actionId]));
    direct.Model()->getSkeleton()->calculateState();  // as the module's load does
    if (!direct.Walk(cycleId, 0.3f, 0.3f, 1.0f)) return -1;
    csRef<iCal3DState> state = StateOf(mesh.get());
    state->SetLodLevel(lod);
    direct.Model()->setLodLevel(lod);
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    const float factor = static_cast<float>(files.scale * 0.02);
    const float seconds = static_cast<float>(static_cast<double>(kTicksPerFrame) / 1000.0);

    std::vector<std::vector<csVector3>> drawn;
    backend.checked = true;  // the renderer hands geometry only to backends that read it
    backend.probe = [&](const rwengine::DrawGeometry& geometry) {
      drawn.emplace_back(geometry.vertices, geometry.vertices + geometry.count);
    };
    std::vector<csVector3> expected(rigweave::kMaxSubmeshVertices);
    for (int frame = 0; frame < frames && mismatches >= 0; frame++) {
      if (frame % 300 == 100) {
        state->ExecuteAction(action.c_str(), 0.3f, 0.3f);
        direct.Model()->getMixer()->executeAction(actionId, 0.3f, 0.3f);
      }
      drawn.clear();
      session.ticks += kTicksPerFrame;
      stage.DrawFrame({{mesh.get(), movable.get()}});
      direct.Update(seconds);
      CalRenderer* renderer = direct.Model()->getRenderer();
      if (!renderer->beginRendering()) return -1;
      size_t draw = 0;
      for (int m = 0; m < renderer->getMeshCount(); m++) {
        for (int sub = 0; sub < renderer->getSubmeshCount(m); sub++) {
          if (!renderer->selectMeshSubmesh(m, sub)) continue;
          const int count = renderer->getVertices(&expected[0].x);
          ToEngineSpace(session, expected.data(), count, factor);
          // Each sub-mesh is drawn twice, from the same vertices.
          for (int twice = 0; twice < 2; twice++, draw++) {
            if (draw >= drawn.size() || drawn[draw].size() != static_cast<size_t>(count)) {
              mismatches = -1;
              break;
            }
            compared += 3L * count;
            for (int v = 0; v < count; v++)
              for (int c = 0; c < 3; c++)
                mismatches +=
                    std::memcmp(&drawn[draw][v].x + c, &expected[v].x + c, sizeof(float)) != 0;
          }
        }
      }
      renderer->endRendering();
      if (draw != drawn.size()) mismatches = -1;
    }
    backend.probe = nullptr;
    backend.checked = false;
    if (mismatches < 0) return -1;
  }
  return mismatches;
}

}  // namespace

void MeasureMismatches(Session& session, rwengine::Stage& stage, BenchBackend& backend,
                       int frames) {
  long compared = 0, mismatches = 0;
  const int mismatchFrames = frames;
  std::string names;
  for (const std::string& model : session.options.models) {
    const long count =
        CountMismatches(session, stage, backend, model.c_str(), mismatchFrames, compared);
    if (count < 0) session.Fail("the module and Cal3D could not be compared on " + model);
    mismatches += count < 0 ? 0 : count;
    names += (names.empty() ? "" : ", ") + model;
  }
  session.Add("vertex_mismatches", static_cast<double>(mismatches), 0, "= 0", mismatches == 0,
              "drawn coordinates differing in any bit from Cal3D's renderer + the module's turn, "
              "over " +
                  std::to_string(mismatchFrames) +
                  " walking frames with an action every 300, at levels of detail 1 and 0.5, on " +
                  names + ": " + std::to_string(compared) + " compared");
}

}  // namespace rwbench
