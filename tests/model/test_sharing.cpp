// Characters of one model share what does not change: an extra character
// costs little memory and makes no new material, a model whose files changed
// is loaded afresh, and the last character of a model lets it go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/backend_null.h"
#include "engine/engine.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "ical3dstate.h"
#include "support/output.h"
#include "support/memory.h"
#include "support/stage_fixture.h"

namespace {

using rwtest::Quad;
using rwtest::TestSubmesh;

csTicks clockNow = 0;
csTicks ReadClock(void*) {
  return clockNow;
}

csRef<iCal3DState> StateOf(iBase* mesh) {
  return csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
}

TEST(SharingMemory, AnExtraLitAndFoggedCharacterOfALoadedModelCostsAtMost128KiB) {
  constexpr int kExtra = 200;
  csSetTickSource(&ReadClock, nullptr);
  {
    rwengine::NullBackend backend;
    rwengine::Stage stage(&backend, 640, 480, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    stage.GetView()->SetFog(csColor{0.5f, 0.5f, 0.5f}, 0.05f);
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    movable->SetPosition(csVector3(0, 0, 5));
    std::vector<csRef<iMeshObject>> meshes;
    meshes.reserve(kExtra + 1);
    // Each character as a crowd has it: loaded, walking, lit and drawn fogged.
    auto addCharacter = [&] {
      meshes.push_back(stage.NewMeshObject());
      ASSERT_TRUE(meshes.back());
      csRef<iCal3DState> state = StateOf(meshes.back().get());
      ASSERT_TRUE(state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()));
      ASSERT_TRUE(state->SetCycle("walk", 0.0f, 0.0f, 1.0f));
      meshes.back()->UpdateLighting(nullptr, 0, movable.get());
      clockNow += 16;
      stage.DrawFrame({{meshes.back().get(), movable.get()}});
    };
    rwtest::CapturedOutput output;
    addCharacter();
    const int materials = stage.GetEngine()->GetMaterialCount();
    const int textures = stage.GetEngine()->GetTextureList()->GetCount();
    const long before = rwtest::ResidentKiB();
    for (int i = 0; i < kExtra && !HasFatalFailure(); i++) addCharacter();
    const long after = rwtest::ResidentKiB();
    const std::string printed = output.Text();
    ASSERT_FALSE(HasFatalFailure()) << printed;
    // Every load says what the first said.
    const std::string first = printed.substr(0, printed.size() / (kExtra + 1));
    EXPECT_NE(first.find(": Loading mesh hero_body.cmf"), std::string::npos) << first;
    std::string expected;
    for (int i = 0; i <= kExtra; i++) expected += first;
    EXPECT_EQ(printed, expected);
    // The engine sees no new texture or material.
    EXPECT_EQ(stage.GetEngine()->GetMaterialCount(), materials);
    EXPECT_EQ(stage.GetEngine()->GetTextureList()->GetCount(), textures);
    EXPECT_EQ(backend.draws, 2L * 6 * (kExtra + 1));
    const double perCharacter = static_cast<double>(after - before) / kExtra;
    RecordProperty("extra_character_kib", std::to_string(perCharacter));
    // Sanitizers pad and quarantine every allocation.
    if (!RIGWEAVE_SANITIZED) {
      EXPECT_LE(perCharacter, 128.0) << "resident KiB per extra character";
    }
    meshes.clear();
  }
  csSetTickSource(nullptr, nullptr);
}

class Sharing : public rwtest::StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    Use(folder);
  }
  // A one-bone model of the given sub-meshes, their material naming t0.raw
  // of `textureSide` pixels a side.
  void WriteModel(const std::vector<TestSubmesh>& submeshes, int textureSide) {
    ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
    ASSERT_TRUE(folder.WriteMesh("hero.cmf", submeshes));
    ASSERT_TRUE(folder.WriteMaterial("m0.crf", {"t0.raw"}));
    folder.WriteRawTexture("t0.raw", textureSide, textureSide, 3,
                           std::vector<uint8_t>(size_t(3 * textureSide * textureSide), 99));
    folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\nmaterial = m0.crf\n");
  }
  csBox3 BoxOf(iBase* mesh) {
    auto polygons = csRef<iPolygonMesh>::Adopt(scfQueryInterface<iPolygonMesh>(mesh));
    csBox3 box;
    for (int i = 0; i < polygons->GetVertexCount(); i++)
      box.AddBoundingVertex(polygons->GetVertices()[i]);
    return box;
  }
  // The material handle the object's first sub-mesh is drawn with.
  iMaterialHandle* DrawnMaterial(iMeshObject* mesh) {
    recorder.Clear();
    now += 10;
    if (!DrawOnce(mesh)) return nullptr;
    const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
    return draws.empty() ? nullptr : draws[0]->material;
  }
  int Materials() const { return stage->GetEngine()->GetMaterialCount(); }

  rwtest::ModelFolder folder;
};

TEST_F(Sharing, AModelWhoseFilesChangedIsLoadedAfreshAndTheOldCharacterKeepsItsOwn) {
  WriteModel({Quad(csVector3(0, 0, 0), 1)}, 2);
  csRef<iMeshObject> first = NewMesh();
  ASSERT_TRUE(Load(first.get(), "hero.cfg"));
  const int materials = Materials();
  iMaterialHandle* firstMaterial = DrawnMaterial(first.get());
  ASSERT_NE(firstMaterial, nullptr);

  // Unchanged: shared.
  csRef<iMeshObject> same = NewMesh();
  ASSERT_TRUE(Load(same.get(), "hero.cfg"));
  EXPECT_EQ(Materials(), materials);
  EXPECT_EQ(DrawnMaterial(same.get()), firstMaterial);

  // Another mesh and another texture, of other sizes.
  WriteModel({Quad(csVector3(0, 0, 0), 3), Quad(csVector3(0, 0, 1), 3)}, 4);
  csRef<iMeshObject> changed = NewMesh();
  ASSERT_TRUE(Load(changed.get(), "hero.cfg"));
  EXPECT_GT(Materials(), materials);
  iMaterialHandle* changedMaterial = DrawnMaterial(changed.get());
  ASSERT_NE(changedMaterial, nullptr);
  EXPECT_NE(changedMaterial, firstMaterial);
  ASSERT_EQ(recorder.CountOf(rwengine::RecordedCall::Draw), 4u);  // two sub-meshes now
  EXPECT_GT(BoxOf(changed.get()).Max().x, 2 * BoxOf(first.get()).Max().x);

  // The first characters keep what they loaded.
  EXPECT_EQ(DrawnMaterial(first.get()), firstMaterial);
  EXPECT_EQ(recorder.CountOf(rwengine::RecordedCall::Draw), 2u);
  EXPECT_EQ(BoxOf(same.get()).Max().x, BoxOf(first.get()).Max().x);
}

TEST_F(Sharing, TheLastCharacterOfAModelLetsItsSharedDataGo) {
  WriteModel({Quad(csVector3(0, 0, 0), 1)}, 2);
  csRef<iMeshObject> first = NewMesh();
  csRef<iMeshObject> second = NewMesh();
  ASSERT_TRUE(Load(first.get(), "hero.cfg"));
  const int materials = Materials();
  ASSERT_TRUE(Load(second.get(), "hero.cfg"));
  EXPECT_EQ(Materials(), materials);
  // One character left still holds it.
  first.reset();
  csRef<iMeshObject> third = NewMesh();
  ASSERT_TRUE(Load(third.get(), "hero.cfg"));
  EXPECT_EQ(Materials(), materials);
  // None left: the next load makes everything anew, its texture included.
  second.reset();
  third.reset();
  csRef<iMeshObject> fourth = NewMesh();
  ASSERT_TRUE(Load(fourth.get(), "hero.cfg"));
  EXPECT_GT(Materials(), materials);
  EXPECT_NE(DrawnMaterial(fourth.get()), nullptr);
  // The last character loading its own model again shares with itself.
  const int held = Materials();
  for (int reload = 0; reload < 3; reload++) ASSERT_TRUE(Load(fourth.get(), "hero.cfg"));
  EXPECT_EQ(Materials(), held);
  EXPECT_NE(DrawnMaterial(fourth.get()), nullptr);
}

}  // namespace
