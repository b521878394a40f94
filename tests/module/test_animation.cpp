// Animation control against the real Cal3D mixer.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rwengine::RecordedCall;

class Animation : public rwtest::StageTest {
 protected:
  // The core animation ids of the cycles the mixer runs (fading ones included).
  static std::set<int> Cycles(csCal3DMeshObject* mesh) {
    std::set<int> ids;
    CalCoreModel* core = mesh->GetCalCoreModel();
    for (CalAnimationCycle* cycle : mesh->GetCalModel()->getMixer()->getAnimationCycle())
      for (int id = 0; id < core->getCoreAnimationCount(); id++)
        if (core->getCoreAnimation(id) == cycle->getCoreAnimation()) ids.insert(id);
    return ids;
  }
  static size_t Actions(csCal3DMeshObject* mesh) {
    return mesh->GetCalModel()->getMixer()->getAnimationActionList().size();
  }
  // Draws `seconds` of time in steps of 50 ms.
  void Play(iMeshObject* mesh, float seconds) {
    for (int step = 0; step < static_cast<int>(seconds * 20 + 0.5f); step++) {
      now += 50;
      ASSERT_TRUE(DrawOnce(mesh));
    }
  }
  std::vector<csVector3> LastDrawnVertices() {
    std::vector<csVector3> all;
    const auto draws = recorder.Of(RecordedCall::Draw);
    for (const auto* call : draws)
      all.insert(all.end(), call->vertices.begin(), call->vertices.end());
    return all;
  }
  static float Distance(const std::vector<csVector3>& a, const std::vector<csVector3>& b) {
    float most = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); i++)
      most = std::max(most, Norm(a[i] - b[i]));
    return most;
  }

  // The sample character: idle, walk, wave, jump.
  csRef<csCal3DMeshObject> LoadHero() {
    csRef<csCal3DMeshObject> mesh = NewCoreMesh();
    testing::internal::CaptureStdout();
    const bool loaded = Load(mesh.get(), "hero.cfg");
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loaded);
    return mesh;
  }
};

TEST_F(Animation, ABlendedCycleMovesTheSkinnedVertices) {
  csRef<csCal3DMeshObject> mesh = LoadHero();
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const std::vector<csVector3> rest = LastDrawnVertices();
  ASSERT_GT(rest.size(), 1000u);

  // No cycle: time passes, nothing moves.
  recorder.Clear();
  Play(mesh.get(), 0.5f);
  EXPECT_EQ(Distance(rest, LastDrawnVertices()), 0.0f);

  ASSERT_TRUE(StateOf(mesh.get())->SetCycle("walk", 0.0f, 0.0f, 1.0f));
  Play(mesh.get(), 0.2f);
  recorder.Clear();
  Play(mesh.get(), 0.05f);
  const std::vector<csVector3> first = LastDrawnVertices();
  recorder.Clear();
  // A tenth of a second later the walking character stands differently.
  Play(mesh.get(), 0.1f);
  const std::vector<csVector3> second = LastDrawnVertices();
  EXPECT_GT(Distance(rest, first), 0.01f);
  EXPECT_GT(Distance(first, second), 0.01f);
}

TEST_F(Animation, NamesAreFoundExactlyAndUnknownOnesChangeNothing) {
  csRef<csCal3DMeshObject> mesh = LoadHero();
  csRef<iCal3DState> state = StateOf(mesh.get());
  ASSERT_EQ(mesh->GetAnimationCount(), 4);
  ASSERT_TRUE(state->BlendCycle("walk", 0.0f, 1.0f));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 1);
  for (const char* name : {"Walk", "WALK", "walk ", "wal", "walk.caf", "", "run"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(state->SetCycle(name, 0, 0, 1));
    EXPECT_FALSE(state->BlendCycle(name, 0, 1));
    EXPECT_FALSE(state->ExecuteAction(name, 0, 0));
    EXPECT_FALSE(state->ClearCycle(name, 0));
  }
  EXPECT_FALSE(state->SetCycle(nullptr, 0, 0, 1));
  EXPECT_FALSE(state->ExecuteAction(nullptr, 0, 0));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 1);
  EXPECT_EQ(Cycles(mesh.get()), std::set<int>{1});
  EXPECT_EQ(Actions(mesh.get()), 0u);
}

TEST_F(Animation, SetCycleClearsTheAnimationStartedLast) {
  csRef<csCal3DMeshObject> mesh = LoadHero();
  csRef<iCal3DState> state = StateOf(mesh.get());
  // The first SetCycle clears id 0 (idle), which was never started: harmless.
  ASSERT_TRUE(state->SetCycle("walk", 0.2f, 0.2f, 1.0f));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 1);
  ASSERT_TRUE(state->BlendCycle("idle", 0.2f, 0.5f));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 0);
  Play(mesh.get(), 0.5f);
  EXPECT_EQ(Cycles(mesh.get()), (std::set<int>{0, 1}));

  // Clears idle (the one started last), keeps walk.
  ASSERT_TRUE(state->SetCycle("jump", 0.2f, 0.2f, 1.0f));
  Play(mesh.get(), 0.6f);
  EXPECT_EQ(Cycles(mesh.get()), (std::set<int>{1, 3}));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 3);

  // An action becomes the one started last: the next SetCycle clears the
  // action's id, so the cycle that ran before it (jump) goes on.
  ASSERT_TRUE(state->ExecuteAction("wave", 0.1f, 0.1f));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 2);
  ASSERT_TRUE(state->SetCycle("idle", 0.2f, 0.2f, 1.0f));
  Play(mesh.get(), 0.5f);
  EXPECT_EQ(Cycles(mesh.get()), (std::set<int>{0, 1, 3}));

  // ClearCycle leaves the current animation as it was.
  ASSERT_TRUE(state->ClearCycle("idle", 0.1f));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 0);
  Play(mesh.get(), 0.3f);
  EXPECT_EQ(Cycles(mesh.get()), (std::set<int>{1, 3}));

  // SetCycle on the current animation clears it and blends it in again.
  ASSERT_TRUE(state->SetCycle("jump", 0.1f, 0.1f, 1.0f));
  ASSERT_TRUE(state->SetCycle("jump", 0.1f, 0.1f, 1.0f));
  Play(mesh.get(), 0.3f);
  EXPECT_EQ(Cycles(mesh.get()).count(3), 1u);
}

TEST_F(Animation, AnActionRunsOnceAndEnds) {
  csRef<csCal3DMeshObject> mesh = LoadHero();
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const std::vector<csVector3> rest = LastDrawnVertices();
  ASSERT_TRUE(StateOf(mesh.get())->ExecuteAction("wave", 0.1f, 0.1f));
  EXPECT_EQ(Actions(mesh.get()), 1u);
  recorder.Clear();
  Play(mesh.get(), 0.6f);
  EXPECT_EQ(Actions(mesh.get()), 1u);
  EXPECT_GT(Distance(rest, LastDrawnVertices()), 0.05f);
  // The wave lasts 1.5 seconds.
  Play(mesh.get(), 1.5f);
  EXPECT_EQ(Actions(mesh.get()), 0u);
  recorder.Clear();
  Play(mesh.get(), 0.05f);
  EXPECT_LT(Distance(rest, LastDrawnVertices()), 1e-3f);
}

TEST_F(Animation, ClearAllCyclesStopsEveryCycleAndLetsARunningActionEnd) {
  csRef<csCal3DMeshObject> mesh = LoadHero();
  csRef<iCal3DState> state = StateOf(mesh.get());
  ASSERT_TRUE(state->BlendCycle("idle", 0.1f, 1.0f));
  ASSERT_TRUE(state->BlendCycle("walk", 0.1f, 1.0f));
  ASSERT_TRUE(state->BlendCycle("jump", 0.1f, 1.0f));
  ASSERT_TRUE(state->ExecuteAction("wave", 0.1f, 0.1f));
  Play(mesh.get(), 0.3f);
  ASSERT_EQ(Cycles(mesh.get()).size(), 3u);
  ASSERT_EQ(Actions(mesh.get()), 1u);
  state->ClearAllCycles();
  EXPECT_EQ(mesh->GetCurrentAnimation(), 2);
  Play(mesh.get(), 0.1f);
  EXPECT_TRUE(Cycles(mesh.get()).empty());
  // The wave (1.5 s) plays on, and ends by itself.
  EXPECT_EQ(Actions(mesh.get()), 1u);
  Play(mesh.get(), 1.2f);
  EXPECT_EQ(Actions(mesh.get()), 0u);

  // Never loaded: nothing to clear, no mixer to reach.
  csRef<csCal3DMeshObject> empty = NewCoreMesh();
  empty->ClearAllCycles();
  EXPECT_FALSE(StateOf(empty.get())->SetCycle("idle", 0, 0, 1));

  // Loaded without animations: an empty table, and the model draws on.
  rwtest::ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("still.csf"));
  ASSERT_TRUE(folder.WriteMesh("still.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("still.cfg", "skeleton = still.csf\nmesh = still.cmf\n");
  csRef<csCal3DMeshObject> still = NewCoreMesh();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Load(still.get(), "still.cfg"));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(still->GetAnimationCount(), 0);
  StateOf(still.get())->ClearAllCycles();
  EXPECT_EQ(still->GetCurrentAnimation(), 0);
  EXPECT_TRUE(Cycles(still.get()).empty());
  EXPECT_EQ(Actions(still.get()), 0u);
  recorder.Clear();
  EXPECT_TRUE(DrawOnce(still.get()));
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 2u);
}

TEST_F(Animation, OfTwoEqualNamesTheLowerIdIsUsed) {
  rwtest::ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteAnimation("walk.caf", 1.0f, csVector3(0, 0, 10)));
  ASSERT_TRUE(folder.WriteAnimation("walk.old", 1.0f, csVector3(10, 0, 0)));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("hero.cfg",
                   "skeleton = hero.csf\nanimation = walk.caf\nanimation = walk.old\n"
                   "mesh = hero.cmf\n");
  csRef<csCal3DMeshObject> mesh = NewCoreMesh();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(mesh->GetAnimationCount(), 2);
  ASSERT_EQ(mesh->GetAnimationName(1), "walk");
  csRef<iCal3DState> state = StateOf(mesh.get());

  ASSERT_TRUE(state->BlendCycle("walk", 0, 1));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 0);
  EXPECT_EQ(Cycles(mesh.get()), std::set<int>{0});
  ASSERT_TRUE(state->ExecuteAction("walk", 0, 0));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 0);
  ASSERT_EQ(Actions(mesh.get()), 1u);
  EXPECT_EQ(mesh->GetCalModel()->getMixer()->getAnimationActionList().front()->getCoreAnimation(),
            mesh->GetCalCoreModel()->getCoreAnimation(0));
  ASSERT_TRUE(state->ClearCycle("walk", 0));
  Play(mesh.get(), 0.05f);
  EXPECT_TRUE(Cycles(mesh.get()).empty());
}

TEST_F(Animation, LevelOfDetailReachesCal3DUnchanged) {
  // A strip of four squares whose last six vertices collapse in pairs, the
  // higher-numbered first: each odd one takes the last two faces that are
  // left with it, each even one none. A second sub-mesh has no such data.
  rwtest::TestSubmesh strip = rwtest::Strip(4);
  strip.lodCount = 6;
  strip.collapseIds = {-1, -1, -1, -1, 2, 2, 4, 4, 6, 6};
  strip.faceCollapses = {0, 0, 0, 0, 0, 2, 0, 2, 0, 2};
  rwtest::ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("lod.csf"));
  ASSERT_TRUE(folder.WriteMesh("lod.cmf", {strip, rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("lod.cfg", "skeleton = lod.csf\nmesh = lod.cmf\n");
  csRef<csCal3DMeshObject> mesh = NewCoreMesh();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Load(mesh.get(), "lod.cfg"));
  testing::internal::GetCapturedStdout();

  // Cal3D's own answer: a model made straight from the same files.
  CalCoreModel core("reference");
  ASSERT_TRUE(core.loadCoreSkeleton(folder.Path("lod.csf")));
  ASSERT_EQ(core.loadCoreMesh(folder.Path("lod.cmf")), 0);
  CalModel reference(&core);
  ASSERT_TRUE(reference.attachMesh(0));
  CalRenderer* renderer = reference.getRenderer();

  std::set<int> faceCounts;
  for (float lod : {1.0f, 0.9f, 0.8f, 0.5f, 0.3f, 0.0f, 1.5f, -1.0f, 0.65f}) {
    SCOPED_TRACE(lod);
    StateOf(mesh.get())->SetLodLevel(lod);
    recorder.Clear();
    ASSERT_TRUE(DrawOnce(mesh.get()));
    const auto draws = recorder.Of(RecordedCall::Draw);
    ASSERT_EQ(draws.size(), 4u);

    reference.setLodLevel(lod);
    reference.update(0);
    ASSERT_TRUE(renderer->beginRendering());
    for (int sub = 0; sub < 2; sub++) {
      ASSERT_TRUE(renderer->selectMeshSubmesh(0, sub));
      std::vector<CalIndex> faces(3 * static_cast<size_t>(renderer->getFaceCount()));
      const int faceCount = faces.empty() ? 0 : renderer->getFaces(faces.data());
      const RecordedCall& drawn = *draws[2 * sub];
      EXPECT_EQ(drawn.record.num_triangles, faceCount) << "sub-mesh " << sub;
      EXPECT_EQ(drawn.count, renderer->getVertexCount()) << "sub-mesh " << sub;
      ASSERT_EQ(drawn.triangles.size(), static_cast<size_t>(faceCount));
      for (int f = 0; f < faceCount; f++) {
        EXPECT_EQ(drawn.triangles[f].a, faces[3 * f]);
        EXPECT_EQ(drawn.triangles[f].b, faces[3 * f + 1]);
        EXPECT_EQ(drawn.triangles[f].c, faces[3 * f + 2]);
      }
      if (sub == 0) faceCounts.insert(faceCount);
    }
    renderer->endRendering();
  }
  // The levels tried reach several steps of the data, down to its last.
  EXPECT_GE(faceCounts.size(), 4u);
  EXPECT_EQ(*faceCounts.begin(), 2);

  // Before any load the call does nothing at all.
  NewCoreMesh()->SetLodLevel(0.5f);
}

}  // namespace
