// The skinning unit alone, on each instruction set, against Cal3D's renderer.
#include <functional>
#include <string>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "model/cal3d_skinning.h"
#include "model/submesh_walk.h"
#include "render/engine_space.h"
#include "render/limits.h"

namespace rwbench {

// Vertices a second one core skins for `config` in a walking pose: through
// the unit on each instruction set this processor has, and through Cal3D's
// renderer followed by the module's turn (the path for what the unit does
// not reproduce). Medians of batches of `frames` frames.
void MeasureSkinning(Session& session, const char* config, int frames) {
  Walker cal3d, unit;
  if (!cal3d.Load(session, config) || !unit.Load(session, config))
    return session.Fail(std::string("cannot load ") + config);
  for (int i = 0; i < 20; i++) {
    cal3d.direct.Update(kFrameSeconds);
    unit.direct.Update(kFrameSeconds);
  }
  rigweave::Cal3DSkinning skinning(rigweave::BestSkinningIsa());
  CalModel& model = *unit.direct.Model();
  rigweave::Cal3DSkinning::Scratch scratch;
  if (!skinning.Prepare(model, scratch))
    return session.Fail("cannot lay out " + std::string(config));
  std::vector<float> output(3 * static_cast<size_t>(rigweave::kMaxSubmeshVertices));
  const float factor = static_cast<float>(unit.files.scale * rigweave::kDrawnUnitsPerModelUnit);
  const rigweave::AxisTurn& turn = rigweave::GetAxisTurn();
  rigweave::SubmeshSkinningJob job;
  job.skinning = &skinning;
  job.scale = factor;
  job.turnSine = turn.sine;
  job.turnCosine = turn.cosine;
  job.output = {output.data(), output.size()};
  const std::string tag = TagOf(config);
  auto rate = [&](const std::function<long()>& frame) {
    std::vector<double> rates;
    for (int batch = 0; batch < 7; batch++) {
      long vertices = 0;
      const Stopwatch watch;
      for (int f = 0; f < frames; f++) vertices += frame();
      rates.push_back(static_cast<double>(vertices) / watch.CpuUs());
    }
    return Median(rates);  // vertices per microsecond: millions per second
  };
  for (rigweave::SkinningIsa isa : {rigweave::SkinningIsa::Scalar, rigweave::SkinningIsa::Sse2,
                                    rigweave::SkinningIsa::Avx2, rigweave::SkinningIsa::Avx512}) {
    const std::string name = "skin_mvps_" + tag + "_" + rigweave::SkinningIsaName(isa);
    if (!skinning.SetIsa(isa)) {
      session.Add(name, 0, 1, "", true, "not measured: this processor lacks it");
      continue;
    }
    bool drawnByCal3D = false;
    const double mvps = rate([&] {
      long vertices = 0;
      skinning.BeginFrame(model);
      rigweave::ForEachSubmesh(model, [&](const rigweave::SubmeshVisit& visit) {
        job.index = visit.index;
        job.submesh = &visit.submesh;
        const bool skinned = job.Run();
        drawnByCal3D = drawnByCal3D || !skinned;
        if (skinned) vertices += visit.submesh.getVertexCount();
        return true;
      });
      return vertices;
    });
    session.Add(name, mvps, 1, "", true,
                std::string("million vertices a second on one core, the unit on ") +
                    rigweave::SkinningIsaName(isa) + " (bone palette included)" +
                    (drawnByCal3D ? "; some sub-meshes left to Cal3D, not counted" : ""));
  }
  CalRenderer* renderer = cal3d.direct.Model()->getRenderer();
  auto* vertices = reinterpret_cast<csVector3*>(output.data());
  const double cal3dRate = rate([&] {
    long count = 0;
    if (!renderer->beginRendering()) return count;
    for (int m = 0; m < renderer->getMeshCount(); m++)
      for (int sub = 0; sub < renderer->getSubmeshCount(m); sub++) {
        if (!renderer->selectMeshSubmesh(m, sub)) continue;
        const int n = renderer->getVertices(output.data());
        ToEngineSpace(session, vertices, n, factor);
        count += n;
      }
    renderer->endRendering();
    return count;
  });
  session.Add(
      "skin_mvps_" + tag + "_cal3d", cal3dRate, 1, "", true,
      "the same through Cal3D's renderer and the module's turn, the path for sub-meshes the unit "
      "does not reproduce");
}

}  // namespace rwbench
