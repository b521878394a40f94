// The polygon-mesh and sprite-state views of a mesh object.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

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
  csRef<csCal3DMeshObject> mesh = NewCoreMesh();
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

  // Setting the action is SetCycle with one-second fades and full weight.
  EXPECT_FALSE(sprite->SetAction("walk"));  // nothing loaded yet
  WriteModel(10);
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  EXPECT_FALSE(sprite->SetAction("run"));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 0);
  ASSERT_TRUE(sprite->SetAction("wave"));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 1);
  CalMixer* mixer = mesh->GetCalModel()->getMixer();
  ASSERT_EQ(mixer->getAnimationCycle().size(), 1u);
  mesh->GetCalModel()->update(0);
  mesh->GetCalModel()->update(0.5f);
  EXPECT_NEAR(mixer->getAnimationCycle().front()->getWeight(), 0.5f, 0.01f);
  mesh->GetCalModel()->update(0.6f);
  EXPECT_NEAR(mixer->getAnimationCycle().front()->getWeight(), 1.0f, 0.01f);

  // Again with the same name: cleared and blended in anew.
  ASSERT_TRUE(sprite->SetAction("wave"));
  EXPECT_EQ(mesh->GetCurrentAnimation(), 1);
  checkAnswers();
}

TEST_F(Views, SpriteSetActionFadesTheAnimationStartedLastOutOverOneSecond) {
  WriteModel(10);
  csRef<csCal3DMeshObject> mesh = NewCoreMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  csRef<iSprite3DState> sprite = View<iSprite3DState>(mesh.get());
  ASSERT_TRUE(StateOf(mesh.get())->BlendCycle("walk", 0, 1));
  CalModel* model = mesh->GetCalModel();
  model->update(0);
  CalCoreAnimation* walk = mesh->GetCalCoreModel()->getCoreAnimation(0);
  auto walkWeight = [&]() {
    for (CalAnimationCycle* cycle : model->getMixer()->getAnimationCycle())
      if (cycle->getCoreAnimation() == walk) return cycle->getWeight();
    return -1.0f;  // gone
  };
  ASSERT_FLOAT_EQ(walkWeight(), 1.0f);

  ASSERT_TRUE(sprite->SetAction("wave"));
  model->update(0.25f);
  EXPECT_NEAR(walkWeight(), 0.75f, 1e-4f);
  model->update(0.5f);
  EXPECT_NEAR(walkWeight(), 0.25f, 1e-4f);
  model->update(0.3f);
  EXPECT_EQ(walkWeight(), -1.0f);
}

}  // namespace
