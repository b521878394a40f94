// Morph targets and morph animations through the loaded module: the weights
// drawn as Cal3D draws them, fades and morph animations in the character's
// time, one character's weights apart from another's, unknown ids refused.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "irigweavestate.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "sample/morph_character.h"
#include "sample/newer_files.h"
#include "support/cal3d_reference.h"
#include "support/stage_fixture.h"

namespace {

using rwtest::ReferenceCharacter;

class Morphs : public rwtest::StageTest {
 protected:
  static csRef<iRigweaveState> Rigweave(iBase* mesh) {
    return csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh));
  }
  std::vector<std::vector<csVector3>> Drawn(iMeshObject* mesh) {
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh));
    return rwtest::DrawnSubmeshes(recorder);
  }
};

// The body of hero-morph.cfg has each expression in every sub-mesh, named
// after its file; the gear has none. At weights 0, 0.5 and 1, mixed with
// another target and over a walking pose, the module draws exactly Cal3D's
// vertices for the same weights, and a second character of the same model
// keeps its own weights.
TEST_F(Morphs, WeightsDrawAsCal3DBlendsThem) {
  csRef<iMeshObject> mesh = NewMesh(), other = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "hero-morph.cfg"));
  ASSERT_TRUE(LoadQuietly(other.get(), "hero-morph.cfg"));
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_EQ(state->GetMeshCount(), 2);
  ASSERT_GT(state->GetSubmeshCount(0), 1);
  for (int s = 0; s < state->GetSubmeshCount(0); s++) {
    ASSERT_EQ(state->GetMorphTargetCount(0, s), 3);
    for (int t = 0; t < 3; t++)
      EXPECT_STREQ(state->GetMorphTargetName(0, s, t), rwsample::kExpressions[t]);
  }
  EXPECT_EQ(state->GetMorphTargetCount(1, 0), 0);

  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero-morph.cfg"));
  for (iMeshObject* character : {mesh.get(), other.get()})
    ASSERT_TRUE(Rigweave(character)->BlendCycle(state->FindAnimation("walk"), 1, 0));
  reference.Mixer().blendCycle(reference.Id("walk"), 1.0f, 0.0f);
  now += 300;
  DrawOnce(other.get());
  reference.Advance(300);

  CalMesh& body = *reference.Model()->getMesh(0);
  std::vector<std::vector<csVector3>> atZero, atOne;
  for (float weight : {0.0f, 0.5f, 1.0f}) {
    for (int s = 0; s < state->GetSubmeshCount(0); s++) {
      ASSERT_TRUE(state->SetMorphTargetWeight(0, s, 0, weight, 0));
      ASSERT_TRUE(state->SetMorphTargetWeight(0, s, 2, 0.25f, 0));
      body.getSubmesh(s)->setMorphTargetWeight(0, weight);
      body.getSubmesh(s)->setMorphTargetWeight(2, 0.25f);
      float read = -1;
      EXPECT_TRUE(state->GetMorphTargetWeight(0, s, 0, read));
      EXPECT_EQ(read, weight);
    }
    const auto drawn = Drawn(mesh.get());
    reference.Advance(0);
    EXPECT_EQ(rwtest::Mismatches(drawn, reference.Vertices()), 0) << "weight " << weight;
    (weight == 0 ? atZero : atOne) = drawn;
  }
  EXPECT_GT(rwtest::Mismatches(atOne, atZero), 0) << "the smile moves nothing";

  // The other character of the model still draws its body unmorphed.
  for (int s = 0; s < state->GetSubmeshCount(0); s++) {
    body.getSubmesh(s)->setMorphTargetWeight(0, 0.0f);
    body.getSubmesh(s)->setMorphTargetWeight(2, 0.0f);
  }
  EXPECT_EQ(rwtest::Mismatches(Drawn(other.get()), reference.Vertices()), 0);
}

// A blend mesh that fits no mesh loaded before it fails the load with a
// line that says why.
TEST_F(Morphs, BlendMeshesThatFitNoMeshRefuseTheLoad) {
  const std::string models = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
  rwtest::ModelFolder folder;
  for (const char* file : {"hero.csf", "hero_body.cmf"})
    folder.WriteFile(file, rwtest::ReadFile(models + file));
  folder.WriteFile("hero_body_gear.cmf", rwtest::ReadFile(models + "hero_gear.cmf"));
  const std::string base = "skeleton = hero.csf\nmesh = hero_body.cmf\n";
  folder.WriteFile("gear.cfg", base + "blendmesh = hero_body_gear.cmf\n");
  folder.WriteFile("before.cfg", "skeleton = hero.csf\nblendmesh = hero_body_gear.cmf\n" +
                                     base.substr(base.find("mesh")));
  Use(folder);
  for (const auto& [config, line] :
       {std::pair{"gear.cfg",
                  "Invalid Cal3D file hero_body_gear.cmf (another number of vertices than "
                  "hero_body.cmf)"},
        std::pair{"before.cfg", "No mesh before blend mesh hero_body_gear.cmf"}}) {
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = true;
    const std::string printed = LoadPrinting(mesh.get(), config, &loaded);
    EXPECT_FALSE(loaded) << config;
    EXPECT_NE(printed.find(line), std::string::npos) << printed;
  }
}

// A fade moves the weight linearly in the character's time, whether Draw or
// the application's Advance moves it.
TEST_F(Morphs, FadesRunWithTheCharactersTime) {
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "hero-morph.cfg"));
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_TRUE(state->SetMorphTargetWeight(0, 0, 1, 1.0f, 2.0f));
  float weight = -1;
  ASSERT_TRUE(state->Advance(0.5f));
  ASSERT_TRUE(state->GetMorphTargetWeight(0, 0, 1, weight));
  EXPECT_NEAR(weight, 0.25f, 1e-6f);
  now += 1000;
  DrawOnce(mesh.get());
  ASSERT_TRUE(state->GetMorphTargetWeight(0, 0, 1, weight));
  EXPECT_NEAR(weight, 0.75f, 1e-6f);
  ASSERT_TRUE(state->Advance(5.0f));
  ASSERT_TRUE(state->GetMorphTargetWeight(0, 0, 1, weight));
  EXPECT_EQ(weight, 1.0f);
}

// The weight between two keys, 0 before the first and from the last on.
float Interpolated(const std::vector<std::pair<float, float>>& keys, float time) {
  if (keys.empty() || time < keys.front().first || time >= keys.back().first) return 0;
  for (size_t k = 1; k < keys.size(); k++) {
    if (time >= keys[k].first) continue;
    const auto& [t0, w0] = keys[k - 1];
    const auto& [t1, w1] = keys[k];
    return w0 + (time - t0) / (t1 - t0) * (w1 - w0);
  }
  return 0;
}

// newer-hero.cfg's face.xpf: every track's target takes the linear
// interpolation of the track's keys at the animation's time, looping on its
// duration, times the animation's weight; cleared, the targets return to
// the weights set.
TEST_F(Morphs, MorphAnimationDrivesItsTargetsAlongItsKeysAndLoops) {
  const std::string models = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
  CalCoreMeshPtr body = CalLoader::loadCoreMesh(models + "hero_body.cmf");
  CalCoreMeshPtr gear = CalLoader::loadCoreMesh(models + "hero_gear.cmf");
  ASSERT_TRUE(body && gear);
  float duration = 0;
  const std::vector<rwsample::MorphTrackDef> tracks = rwsample::FaceTracks(
      rwsample::FaceMorphs(*body, rwsample::HeadLevel({body.get(), gear.get()})), duration);
  ASSERT_GE(tracks.size(), 3u);

  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "newer-hero.cfg"));
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_EQ(state->GetMorphAnimationCount(), 1);
  EXPECT_STREQ(state->GetMorphAnimationName(0), "newer/face");
  EXPECT_EQ(state->FindMorphAnimation("newer/face"), 0);
  EXPECT_EQ(state->GetMorphAnimationDuration(0), duration);
  ASSERT_TRUE(state->BlendMorphAnimation(0, 0.5f, 0));
  ASSERT_TRUE(state->IsMorphAnimationPlaying(0));

  float time = 0;
  for (float step : {0.1f, 0.3f, 0.35f, 0.5f, 0.45f, 0.6f, 0.25f, 1.1f}) {
    ASSERT_TRUE(state->Advance(step));
    time = std::fmod(time + step, duration);
    float played = -1;
    ASSERT_TRUE(state->GetMorphAnimationTime(0, played));
    EXPECT_NEAR(played, time, 1e-5f);
    for (const rwsample::MorphTrackDef& track : tracks) {
      float weight = -1;
      ASSERT_TRUE(state->GetMorphTargetWeight(0, track.submeshes[0], track.morphId, weight));
      EXPECT_NEAR(weight, 0.5f * Interpolated(track.keyframes, played), 1e-5f)
          << track.morphName << " at " << played;
    }
  }
  ASSERT_TRUE(state->ClearMorphAnimation(0, 0));
  EXPECT_FALSE(state->IsMorphAnimationPlaying(0));
  for (const rwsample::MorphTrackDef& track : tracks) {
    float weight = -1;
    ASSERT_TRUE(state->GetMorphTargetWeight(0, track.submeshes[0], track.morphId, weight));
    EXPECT_EQ(weight, 0.0f);
  }
}

// Unknown meshes, sub-meshes, targets and animations, and bad weights and
// fades, answer false (or -1, or null) and change nothing; so does every
// call before a model is loaded.
TEST_F(Morphs, UnknownIdsAndBadValuesChangeNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  csRef<iMeshObject> mesh = NewMesh();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  float weight = 7;
  EXPECT_EQ(state->GetMeshCount(), 0);
  EXPECT_FALSE(state->SetMorphTargetWeight(0, 0, 0, 1, 0));
  EXPECT_FALSE(state->BlendMorphAnimation(0, 1, 0));
  ASSERT_TRUE(LoadQuietly(mesh.get(), "newer-hero.cfg"));
  ASSERT_TRUE(state->SetMorphTargetWeight(0, 0, 0, 0.5f, 0));
  const int submeshes = state->GetSubmeshCount(0);
  const int targets = state->GetMorphTargetCount(0, 0);
  ASSERT_GT(targets, 0);
  for (const auto& [m, s, t] :
       {std::tuple{-1, 0, 0}, std::tuple{2, 0, 0}, std::tuple{0, -1, 0},
        std::tuple{0, submeshes, 0}, std::tuple{0, 0, -1}, std::tuple{0, 0, targets}}) {
    EXPECT_FALSE(state->SetMorphTargetWeight(m, s, t, 1, 0)) << m << " " << s << " " << t;
    EXPECT_FALSE(state->GetMorphTargetWeight(m, s, t, weight));
    EXPECT_EQ(state->GetMorphTargetName(m, s, t), nullptr);
  }
  EXPECT_EQ(weight, 7);
  EXPECT_EQ(state->GetSubmeshCount(2), -1);
  EXPECT_EQ(state->GetMorphTargetCount(0, submeshes), -1);
  EXPECT_EQ(state->FindMorphTarget(0, 0, "no such"), -1);
  EXPECT_EQ(state->FindMorphTarget(0, 0, nullptr), -1);
  for (float bad : {-1.0f, nan, std::numeric_limits<float>::infinity()}) {
    EXPECT_FALSE(state->SetMorphTargetWeight(0, 0, 0, bad, 0));
    EXPECT_FALSE(state->SetMorphTargetWeight(0, 0, 0, 1, bad));
    EXPECT_FALSE(state->BlendMorphAnimation(0, bad, 0));
    EXPECT_FALSE(state->BlendMorphAnimation(0, 1, bad));
    EXPECT_FALSE(state->ClearMorphAnimation(0, bad));
  }
  ASSERT_TRUE(state->GetMorphTargetWeight(0, 0, 0, weight));
  EXPECT_EQ(weight, 0.5f);
  for (int animation : {-1, 1}) {
    EXPECT_FALSE(state->BlendMorphAnimation(animation, 1, 0));
    EXPECT_FALSE(state->ClearMorphAnimation(animation, 0));
    EXPECT_EQ(state->GetMorphAnimationName(animation), nullptr);
    EXPECT_EQ(state->GetMorphAnimationDuration(animation), -1.0f);
    EXPECT_FALSE(state->GetMorphAnimationTime(animation, weight));
  }
  EXPECT_FALSE(state->IsMorphAnimationPlaying(0));
  EXPECT_EQ(state->FindMorphAnimation("face"), -1);
}

}  // namespace
