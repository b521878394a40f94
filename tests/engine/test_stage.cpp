// A Stage loading and driving the real module.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "ical3dstate.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;
using Kind = RecordedCall::Kind;

TEST_F(EngineTest, StageCreatesAndDrawsAnObjectOfTheModule) {
  RecordingBackend backend;
  {
    Stage stage(&backend);
    EXPECT_FALSE(stage.LoadModule("/nonexistent/rigweave.so"));
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    EXPECT_FALSE(stage.CreateType("no.such.class"));
    csRef<iMeshObject> mesh = stage.NewMeshObject();
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->GetRefCount(), 1);
    auto state = Make(scfQueryInterface<iCal3DState>(mesh.get()));
    ASSERT_TRUE(state);

    // Nothing to read, but the fallback material is made under the model's name.
    EXPECT_FALSE(state->LoadModel("no-such-model.cfg", stage.GetLoader(), stage.GetEngine()));
    EXPECT_NE(stage.GetEngine()->FindMaterial("no-such-model.cfg"), nullptr);

    auto movable = Make(new Movable);
    movable->SetPosition(csVector3(0, 0, 5));
    stage.DrawFrame({{mesh.get(), movable.get()}});
    EXPECT_EQ(stage.GetView()->clipBBoxCalls, 1);
    // An object without a model is tested but draws nothing.
    std::vector<Kind> kinds;
    for (const RecordedCall& call : backend.Calls()) kinds.push_back(call.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::BeginFrame, Kind::ObjectToCamera, Kind::EndFrame}));
    ExpectNear(backend.Calls()[1].transform.Other2This(csVector3(0, 0, 0)), csVector3(0, 0, 5));
  }
}

TEST_F(EngineTest, LaterStagesKeepTheInterfaceIdsEarlierOnesHandedOut) {
  // Every binary caches the ids it is given for good, so a later component
  // system must agree with the earlier ones whatever order ids are asked in.
  for (int round = 0; round < 2; round++) {
    Stage stage;
    iBase* engine = static_cast<iEngine*>(stage.GetEngine());
    if (round == 0) {
      EXPECT_FALSE(Make(scfQueryInterface<iLoader>(engine)));
    }
    EXPECT_TRUE(Make(scfQueryInterface<iEngine>(engine))) << "round " << round;
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    csRef<iMeshObject> mesh = stage.NewMeshObject();
    ASSERT_TRUE(mesh) << "round " << round;
    EXPECT_TRUE(Make(scfQueryInterface<iCal3DState>(mesh.get())));
  }
}

// The generated sample characters live in models/ in the build folder.
class SampleModelTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (access((std::string(RIGWEAVE_BUILD_DIR) + "/models/hero.cfg").c_str(), R_OK) != 0)
      GTEST_SKIP() << "no sample models in " << RIGWEAVE_BUILD_DIR << "/models";
  }
};

TEST_F(SampleModelTest, EveryDrawOfTheModuleIsLockedFoggedAndComplete) {
  RecordingBackend backend;
  Stage stage(&backend, 640, 480, RIGWEAVE_BUILD_DIR);
  ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
  csRef<iMeshObject> mesh = stage.NewMeshObject();
  ASSERT_TRUE(mesh);
  auto state = Make(scfQueryInterface<iCal3DState>(mesh.get()));
  ASSERT_TRUE(state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()));
  auto movable = Make(new Movable);
  movable->SetPosition(csVector3(0, -1, 5));
  stage.GetView()->SetFog({0.5f, 0.5f, 0.5f}, 0.1f);
  stage.DrawFrame({{mesh.get(), movable.get()}});

  EXPECT_EQ(stage.GetGraphics()->DrawsRejected(), 0);
  const std::vector<const RecordedCall*> draws = backend.Of(Kind::Draw);
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(backend.CountOf(Kind::Lock), backend.CountOf(Kind::Unlock));
  int locked = -1;
  const RecordedCall* lastFog = nullptr;
  for (const RecordedCall& call : backend.Calls()) {
    if (call.kind == Kind::Lock) locked = call.count;
    if (call.kind == Kind::Unlock) locked = -1;
    if (call.kind == Kind::Fog) lastFog = &call;
    if (call.kind != Kind::Draw) continue;
    EXPECT_EQ(call.count, locked);
    ASSERT_NE(lastFog, nullptr);
    EXPECT_EQ(lastFog->count, locked);
    EXPECT_TRUE(call.record.do_fog);
    EXPECT_EQ(call.zbufMode, CS_ZBUF_USE);
    ASSERT_NE(call.material, nullptr);
    EXPECT_NE(call.material->GetTexture()->GetImage(), nullptr);
    EXPECT_EQ(call.vertices.size(), static_cast<size_t>(locked));
    EXPECT_FALSE(call.triangles.empty());
  }

  // The renderer closing takes the module's buffer away while it lives...
  EXPECT_EQ(LiveObjects::Count("VertexBuffer"), 1);
  stage.GetGraphics()->Close();
  EXPECT_EQ(LiveObjects::Count("VertexBuffer"), 0);
  // ...and a destroyed object is never told again.
  stage.GetGraphics()->Open();
  backend.Clear();
  stage.DrawFrame({{mesh.get(), movable.get()}});
  EXPECT_FALSE(backend.Of(Kind::Draw).empty());
  EXPECT_EQ(stage.GetGraphics()->GetManager()->ClientCount(), 1);
  state.reset();
  mesh.reset();
  EXPECT_EQ(stage.GetGraphics()->GetManager()->ClientCount(), 0);
}

}  // namespace
}  // namespace rwengine
