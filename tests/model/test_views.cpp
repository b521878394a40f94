// The polygon-mesh and sprite-state views of a mesh object.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/cal3d_reference.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

class Views : public rwtest::StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    Use(folder);
  }
  template <class I>
  static csRef<I> View(iBase* mesh) {
    return csRef<I>::Adopt(scfQueryInterface<I>(mesh));
  }
  void WriteModel(float size) {
    ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
    ASSERT_TRUE(folder.WriteAnimation("walk.caf", 1, csVector3(0, 0, 1)));
    ASSERT_TRUE(folder.WriteAnimation("wave.caf", 1, csVector3(0, 1, 0)));
    ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), size)}));
    folder.WriteFile("hero.cfg",
                     "skeleton = hero.csf\nanimation = walk.caf\nanimation = wave.caf\n"
                     "mesh = hero.cmf\n");
  }
  static void ExpectValidBox(iPolygonMesh* polygons) {
    ASSERT_EQ(polygons->GetVertexCount(), 8);
    ASSERT_EQ(polygons->GetPolygonCount(), 6);
    ASSERT_NE(polygons->GetVertices(), nullptr);
    ASSERT_NE(polygons->GetPolygons(), nullptr);
    std::set<int> used;
    for (int p = 0; p < 6; p++) {
      const csMeshedPolygon& polygon = polygons->GetPolygons()[p];
      ASSERT_EQ(polygon.num_vertices, 4);
      ASSERT_NE(polygon.vertices, nullptr);
      for (int j = 0; j < 4; j++) {
        ASSERT_GE(polygon.vertices[j], 0);
        ASSERT_LT(polygon.vertices[j], 8);
        used.insert(polygon.vertices[j]);
        // Readable, as a caller trusting the counts would read it.
        volatile float x = polygons->GetVertices()[polygon.vertices[j]].x;
        (void)x;
      }
    }
    EXPECT_EQ(used.size(), 8u);
  }

  // One frame `ticks` after the last, moving the reference alike: the
  // coordinates drawn that differ from it.
  long Draw(iMeshObject* mesh, csTicks ticks, rwtest::ReferenceCharacter& reference) {
    now += ticks;
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh));
    reference.Advance(ticks);
    return rwtest::Mismatches(rwtest::DrawnSubmeshes(recorder), reference.Vertices());
  }

  rwtest::ModelFolder folder;
};

TEST_F(Views, PolygonMeshServesTheBoxAndSafeStorageBeforeIt) {
  csRef<iMeshObject> mesh = NewMesh();
  csRef<iPolygonMesh> polygons = View<iPolygonMesh>(mesh.get());
  ASSERT_TRUE(polygons);
  // Before a load: the counts hold and the pointers lead somewhere valid.
  ExpectValidBox(polygons.get());
  EXPECT_EQ(polygons->GetVertices()[7].x, 0.0f);

  WriteModel(100);
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ExpectValidBox(polygons.get());
  csVector3* corners = polygons->GetVertices();
  csMeshedPolygon* faces = polygons->GetPolygons();
  EXPECT_FLOAT_EQ(corners[7].x, 1.0f);
  EXPECT_LE(corners[0].z, corners[7].z);

  // Cleanup drops nothing the object owns.
  polygons->Cleanup();
  EXPECT_EQ(polygons->GetVertices(), corners);
  EXPECT_EQ(polygons->GetPolygons(), faces);
  EXPECT_FLOAT_EQ(polygons->GetVertices()[7].x, 1.0f);

  // A new load builds a new box, which the view then serves.
  WriteModel(300);
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ExpectValidBox(polygons.get());
  EXPECT_FLOAT_EQ(polygons->GetVertices()[7].x, 3.0f);
}

TEST_F(Views, SpriteStateAnswersAsAFacadeOverAnimationControl) {
  csRef<iMeshObject> mesh = NewMesh();
  csRef<iSprite3DState> sprite = View<iSprite3DState>(mesh.get());
  ASSERT_TRUE(sprite);
  auto checkAnswers = [&] {
    EXPECT_EQ(sprite->GetMaterialWrapper(), nullptr);
    EXPECT_EQ(sprite->GetMixMode(), 0u);
    EXPECT_TRUE(sprite->IsLighting());
    EXPECT_EQ(sprite->GetSkeletonState(), nullptr);
    EXPECT_EQ(sprite->GetCurFrame(), 0);
    EXPECT_EQ(sprite->GetFrameCount(), 0);
    EXPECT_EQ(sprite->GetCurAction(), nullptr);
    EXPECT_TRUE(sprite->IsTweeningEnabled());
    EXPECT_EQ(sprite->GetLightingQuality(), 0);
    EXPECT_EQ(sprite->GetLightingQualityConfig(), 0);
    EXPECT_EQ(sprite->GetLodLevelConfig(), 0);
    EXPECT_TRUE(sprite->IsLodEnabled());
  };
  checkAnswers();
  // The setters change nothing any operation can see.
  sprite->SetMaterialWrapper(stage->GetEngine()->FindMaterial("anything"));
  sprite->SetMixMode(0x04000000);
  sprite->SetLighting(false);
  sprite->SetFrame(5);
  sprite->EnableTweening(false);
  sprite->UnsetTexture();
  sprite->SetLightingQuality(3);
  sprite->SetLightingQualityConfig(2);
  sprite->SetLodLevelConfig(7);
  sprite->SetLodFactor(0.25f);
  sprite->SetLodLevels(4);
  checkAnswers();
  EXPECT_EQ(mesh->GetRefCount(), 2);

  // Setting the action is SetCycle with one-second fades and full weight:
  // what is drawn equals Cal3D driven with those calls.
  EXPECT_FALSE(sprite->SetAction("walk"));  // nothing loaded yet
  WriteModel(10);
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  rwtest::ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "hero.cfg"));
  EXPECT_FALSE(sprite->SetAction("run"));
  // The animation started last is still id 0 (walk, never started).
  ASSERT_TRUE(sprite->SetAction("wave"));
  reference.Mixer().clearCycle(0, 1.0f);
  reference.Mixer().blendCycle(1, 1.0f, 1.0f);
  // Half a second in, wave weighs about half; after another 0.6, all of it.
  for (csTicks step : {0u, 500u, 600u}) {
    EXPECT_EQ(Draw(mesh.get(), step, reference), 0) << step;
    if (step == 500) {
      EXPECT_NEAR(reference.Mixer().getAnimationCycle().front()->getWeight(), 0.5f, 0.01f);
    }
  }
  EXPECT_NEAR(reference.Mixer().getAnimationCycle().front()->getWeight(), 1.0f, 0.01f);

  // Again with the same name: wave, now the animation started last, is
  // cleared and blended in anew.
  ASSERT_TRUE(sprite->SetAction("wave"));
  reference.Mixer().clearCycle(1, 1.0f);
  reference.Mixer().blendCycle(1, 1.0f, 1.0f);
  for (csTicks step : {250u, 250u, 600u}) EXPECT_EQ(Draw(mesh.get(), step, reference), 0) << step;
  EXPECT_EQ(reference.Mixer().getAnimationCycle().size(), 1u);
  checkAnswers();
}

TEST_F(Views, SpriteSetActionFadesTheAnimationStartedLastOutOverOneSecond) {
  WriteModel(10);
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  rwtest::ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "hero.cfg"));
  csRef<iSprite3DState> sprite = View<iSprite3DState>(mesh.get());
  ASSERT_TRUE(StateOf(mesh.get())->BlendCycle("walk", 0, 1));
  reference.Mixer().blendCycle(0, 1.0f, 0.0f);
  // The cycle's clock starts with the first update Cal3D sees.
  EXPECT_EQ(Draw(mesh.get(), 0, reference), 0);
  CalCoreAnimation* walk = reference.Model()->getCoreModel()->getCoreAnimation(0);
  auto walkWeight = [&]() {
    for (CalAnimationCycle* cycle : reference.Mixer().getAnimationCycle())
      if (cycle->getCoreAnimation() == walk) return cycle->getWeight();
    return -1.0f;  // gone
  };
  ASSERT_FLOAT_EQ(walkWeight(), 1.0f);

  ASSERT_TRUE(sprite->SetAction("wave"));
  reference.Mixer().clearCycle(0, 1.0f);
  reference.Mixer().blendCycle(1, 1.0f, 1.0f);
  EXPECT_EQ(Draw(mesh.get(), 250, reference), 0);
  EXPECT_NEAR(walkWeight(), 0.75f, 1e-4f);
  EXPECT_EQ(Draw(mesh.get(), 500, reference), 0);
  EXPECT_NEAR(walkWeight(), 0.25f, 1e-4f);
  EXPECT_EQ(Draw(mesh.get(), 300, reference), 0);
  EXPECT_EQ(walkWeight(), -1.0f);
}

}  // namespace
