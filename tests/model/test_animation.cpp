// Animation control against the real Cal3D mixer: what the module draws is
// compared, vertex for vertex, with a Cal3D character of the same files
// driven by the mixer calls each operation stands for.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "support/cal3d_reference.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rwengine::RecordedCall;
using rwtest::ReferenceCharacter;

class Animation : public rwtest::StageTest {
 protected:
  static constexpr csTicks kStep = 50;

  // Draws `seconds` of time in steps of 50 ms; with a reference, moves it
  // alike and counts, frame by frame, the coordinates that differ from it.
  long Play(iMeshObject* mesh, float seconds, ReferenceCharacter* reference = nullptr) {
    long mismatches = 0;
    for (int step = 0; step < static_cast<int>(seconds * 20 + 0.5f); step++) {
      now += kStep;
      recorder.Clear();
      EXPECT_TRUE(DrawOnce(mesh));
      if (reference == nullptr) continue;
      reference->Advance(kStep);
      mismatches += rwtest::Mismatches(rwtest::DrawnSubmeshes(recorder), reference->Vertices());
    }
    return mismatches;
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
  // The core animation ids of the cycles a mixer runs (fading ones included).
  static std::set<int> Cycles(ReferenceCharacter& character) {
    std::set<int> ids;
    CalCoreModel* core = character.Model()->getCoreModel();
    for (CalAnimationCycle* cycle : character.Mixer().getAnimationCycle())
      for (int id = 0; id < core->getCoreAnimationCount(); id++)
        if (core->getCoreAnimation(id) == cycle->getCoreAnimation()) ids.insert(id);
    return ids;
  }
  static size_t Actions(ReferenceCharacter& character) {
    return character.Mixer().getAnimationActionList().size();
  }

  // The sample character (idle, walk, wave, jump), made at the current tick.
  csRef<iMeshObject> LoadHero() {
    csRef<iMeshObject> mesh = NewMesh();
    EXPECT_TRUE(LoadQuietly(mesh.get(), "hero.cfg"));
    return mesh;
  }
};

TEST_F(Animation, ABlendedCycleMovesTheSkinnedVertices) {
  csRef<iMeshObject> mesh = LoadHero();
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
  csRef<iMeshObject> mesh = LoadHero();
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  csRef<iCal3DState> state = StateOf(mesh.get());
  // Every animation of the configuration is the module's by its name.
  ASSERT_EQ(reference.Animations(), (std::vector<std::string>{"idle", "walk", "wave", "jump"}));
  for (const std::string& name : reference.Animations())
    EXPECT_TRUE(state->ClearCycle(name.c_str(), 0)) << name;

  ASSERT_TRUE(state->BlendCycle("walk", 0.0f, 1.0f));
  reference.Mixer().blendCycle(reference.Id("walk"), 1.0f, 0.0f);
  for (const char* name : {"Walk", "WALK", "walk ", "wal", "walk.caf", "", "run"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(state->SetCycle(name, 0, 0, 1));
    EXPECT_FALSE(state->BlendCycle(name, 0, 1));
    EXPECT_FALSE(state->ExecuteAction(name, 0, 0));
    EXPECT_FALSE(state->ClearCycle(name, 0));
  }
  EXPECT_FALSE(state->SetCycle(nullptr, 0, 0, 1));
  EXPECT_FALSE(state->ExecuteAction(nullptr, 0, 0));
  // Walk alone runs, as in Cal3D with walk alone...
  EXPECT_EQ(Play(mesh.get(), 0.5f, &reference), 0);
  EXPECT_EQ(Cycles(reference), std::set<int>{reference.Id("walk")});
  EXPECT_EQ(Actions(reference), 0u);
  // ...and walk is still the animation started last: SetCycle fades it out.
  ASSERT_TRUE(state->SetCycle("idle", 0.2f, 0.2f, 1.0f));
  reference.Mixer().clearCycle(reference.Id("walk"), 0.2f);
  reference.Mixer().blendCycle(reference.Id("idle"), 1.0f, 0.2f);
  EXPECT_EQ(Play(mesh.get(), 0.5f, &reference), 0);
  EXPECT_EQ(Cycles(reference), std::set<int>{reference.Id("idle")});
}

TEST_F(Animation, SetCycleClearsTheAnimationStartedLast) {
  csRef<iMeshObject> mesh = LoadHero();
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  CalMixer& mixer = reference.Mixer();
  const int idle = reference.Id("idle"), walk = reference.Id("walk"), wave = reference.Id("wave"),
            jump = reference.Id("jump");
  csRef<iCal3DState> state = StateOf(mesh.get());
  // The first SetCycle clears id 0 (idle), which was never started: harmless.
  ASSERT_TRUE(state->SetCycle("walk", 0.2f, 0.2f, 1.0f));
  mixer.clearCycle(idle, 0.2f);
  mixer.blendCycle(walk, 1.0f, 0.2f);
  ASSERT_TRUE(state->BlendCycle("idle", 0.2f, 0.5f));
  mixer.blendCycle(idle, 0.5f, 0.2f);
  EXPECT_EQ(Play(mesh.get(), 0.5f, &reference), 0);
  EXPECT_EQ(Cycles(reference), (std::set<int>{idle, walk}));

  // Clears idle (the one started last), keeps walk.
  ASSERT_TRUE(state->SetCycle("jump", 0.2f, 0.2f, 1.0f));
  mixer.clearCycle(idle, 0.2f);
  mixer.blendCycle(jump, 1.0f, 0.2f);
  EXPECT_EQ(Play(mesh.get(), 0.6f, &reference), 0);
  EXPECT_EQ(Cycles(reference), (std::set<int>{walk, jump}));

  // An action becomes the one started last: the next SetCycle clears the
  // action's id, so the cycle that ran before it (jump) goes on.
  ASSERT_TRUE(state->ExecuteAction("wave", 0.1f, 0.1f));
  mixer.executeAction(wave, 0.1f, 0.1f);
  ASSERT_TRUE(state->SetCycle("idle", 0.2f, 0.2f, 1.0f));
  mixer.clearCycle(wave, 0.2f);
  mixer.blendCycle(idle, 1.0f, 0.2f);
  EXPECT_EQ(Play(mesh.get(), 0.5f, &reference), 0);
  EXPECT_EQ(Cycles(reference), (std::set<int>{idle, walk, jump}));

  // ClearCycle leaves the animation started last as it was: idle, which the
  // next SetCycle clears again (to no effect), keeping jump.
  ASSERT_TRUE(state->ClearCycle("idle", 0.1f));
  mixer.clearCycle(idle, 0.1f);
  EXPECT_EQ(Play(mesh.get(), 0.3f, &reference), 0);
  EXPECT_EQ(Cycles(reference), (std::set<int>{walk, jump}));

  // SetCycle on the animation started last clears it and blends it in again.
  ASSERT_TRUE(state->SetCycle("jump", 0.1f, 0.1f, 1.0f));
  mixer.clearCycle(idle, 0.1f);
  mixer.blendCycle(jump, 1.0f, 0.1f);
  ASSERT_TRUE(state->SetCycle("jump", 0.1f, 0.1f, 1.0f));
  mixer.clearCycle(jump, 0.1f);
  mixer.blendCycle(jump, 1.0f, 0.1f);
  EXPECT_EQ(Play(mesh.get(), 0.3f, &reference), 0);
  EXPECT_EQ(Cycles(reference).count(jump), 1u);
}

TEST_F(Animation, AnActionRunsOnceAndEnds) {
  csRef<iMeshObject> mesh = LoadHero();
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  ASSERT_TRUE(DrawOnce(mesh.get()));
  reference.Advance(0);
  const std::vector<csVector3> rest = LastDrawnVertices();
  ASSERT_TRUE(StateOf(mesh.get())->ExecuteAction("wave", 0.1f, 0.1f));
  reference.Mixer().executeAction(reference.Id("wave"), 0.1f, 0.1f);
  EXPECT_EQ(Play(mesh.get(), 0.6f, &reference), 0);
  EXPECT_EQ(Actions(reference), 1u);
  EXPECT_GT(Distance(rest, LastDrawnVertices()), 0.05f);
  // The wave lasts 1.5 seconds.
  EXPECT_EQ(Play(mesh.get(), 1.5f, &reference), 0);
  EXPECT_EQ(Actions(reference), 0u);
  recorder.Clear();
  EXPECT_EQ(Play(mesh.get(), 0.05f, &reference), 0);
  EXPECT_LT(Distance(rest, LastDrawnVertices()), 1e-3f);
}

TEST_F(Animation, ClearAllCyclesStopsEveryCycleAndLetsARunningActionEnd) {
  csRef<iMeshObject> mesh = LoadHero();
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  CalMixer& mixer = reference.Mixer();
  csRef<iCal3DState> state = StateOf(mesh.get());
  for (const char* name : {"idle", "walk", "jump"}) {
    ASSERT_TRUE(state->BlendCycle(name, 0.1f, 1.0f));
    mixer.blendCycle(reference.Id(name), 1.0f, 0.1f);
  }
  ASSERT_TRUE(state->ExecuteAction("wave", 0.1f, 0.1f));
  mixer.executeAction(reference.Id("wave"), 0.1f, 0.1f);
  EXPECT_EQ(Play(mesh.get(), 0.3f, &reference), 0);
  ASSERT_EQ(Cycles(reference).size(), 3u);
  ASSERT_EQ(Actions(reference), 1u);
  state->ClearAllCycles();
  for (int id = 0; id < 4; id++) mixer.clearCycle(id, 0.0f);
  EXPECT_EQ(Play(mesh.get(), 0.1f, &reference), 0);
  EXPECT_TRUE(Cycles(reference).empty());
  // The wave (1.5 s) plays on, and ends by itself.
  EXPECT_EQ(Actions(reference), 1u);
  EXPECT_EQ(Play(mesh.get(), 1.2f, &reference), 0);
  EXPECT_EQ(Actions(reference), 0u);

  // Never loaded: nothing to clear, no mixer to reach.
  csRef<iMeshObject> empty = NewMesh();
  StateOf(empty.get())->ClearAllCycles();
  EXPECT_FALSE(StateOf(empty.get())->SetCycle("idle", 0, 0, 1));

  // Loaded without animations: nothing to clear, and the model draws on in
  // its rest pose.
  rwtest::ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("still.csf"));
  ASSERT_TRUE(folder.WriteMesh("still.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("still.cfg", "skeleton = still.csf\nmesh = still.cmf\n");
  csRef<iMeshObject> still = NewMesh();
  ASSERT_TRUE(LoadQuietly(still.get(), "still.cfg"));
  ReferenceCharacter stillReference;
  ASSERT_TRUE(stillReference.Load(folder.Root(), "still.cfg"));
  StateOf(still.get())->ClearAllCycles();
  EXPECT_EQ(Play(still.get(), 0.1f, &stillReference), 0);
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
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "hero.cfg"));
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "hero.cfg"));
  ASSERT_EQ(reference.Animations(), (std::vector<std::string>{"walk", "walk"}));
  csRef<iCal3DState> state = StateOf(mesh.get());

  // Id 0 moves the bone along z, id 1 along x: the drawing tells them apart.
  ASSERT_TRUE(state->BlendCycle("walk", 0, 1));
  reference.Mixer().blendCycle(0, 1.0f, 0.0f);
  EXPECT_EQ(Play(mesh.get(), 0.2f, &reference), 0);
  ASSERT_TRUE(state->ExecuteAction("walk", 0, 0));
  reference.Mixer().executeAction(0, 0.0f, 0.0f);
  EXPECT_EQ(Play(mesh.get(), 0.2f, &reference), 0);
  ASSERT_EQ(Actions(reference), 1u);
  ASSERT_TRUE(state->ClearCycle("walk", 0));
  reference.Mixer().clearCycle(0, 0.0f);
  EXPECT_EQ(Play(mesh.get(), 0.05f, &reference), 0);
  EXPECT_TRUE(Cycles(reference).empty());
  // The drawn vertices moved along z, not x.
  const std::vector<csVector3> drawn = LastDrawnVertices();
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn[0].x, 0.0f);
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
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "lod.cfg"));

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
  StateOf(NewMesh().get())->SetLodLevel(0.5f);
}

}  // namespace
