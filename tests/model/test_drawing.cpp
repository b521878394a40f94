// The frame path, call by call: time steps, the renderer calls per sub-mesh,
// the records, the axis turn, materials, the vertex buffer and the callback.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/live_objects.h"
#include "support/cal3d_reference.h"
#include "support/model_folder.h"
#include "support/probes.h"
#include "support/stage_fixture.h"
#include "ical3dstate.h"

namespace {

using rwengine::RecordedCall;
using rwtest::ModelFolder;
using rwtest::Quad;
using rwtest::ReferenceCharacter;
using rwtest::TestSubmesh;

const std::string kId = kRigweaveClassId;

// A loader that registers nothing, so that no default material exists.
class EmptyLoader : public scfImplementation<EmptyLoader, iLoader> {
 public:
  iTextureWrapper* LoadTexture(const char*, const char*, int, iTextureManager*, bool) override {
    return nullptr;
  }
};

// The engine, except that materials whose name starts with "nohandle" get no
// material handle.
class HandlelessEngine : public scfImplementation<HandlelessEngine, iEngine> {
 public:
  explicit HandlelessEngine(iEngine* engine) : engine_(engine) {}
  iMaterialWrapper* FindMaterial(const char* name, iRegion* region) override {
    return engine_->FindMaterial(name, region);
  }
  iTextureList* GetTextureList() override { return engine_->GetTextureList(); }
  iMaterialWrapper* CreateMaterial(const char* name, iTextureWrapper* texture) override {
    const bool handleless = std::string(name).rfind("nohandle", 0) == 0;
    return engine_->CreateMaterial(name, handleless ? nullptr : texture);
  }

 private:
  csRef<iEngine> engine_;
};

// A material wrapper that logs the calls the drawing makes on it, in front
// of one of the engine's.
class LoggingMaterial : public scfImplementation<LoggingMaterial, iMaterialWrapper> {
 public:
  LoggingMaterial(iMaterialWrapper* real, std::vector<std::string>* log) : real_(real), log_(log) {}
  const char* GetName() override { return real_->GetName(); }
  iMaterialHandle* GetMaterialHandle() override {
    log_->push_back(std::string(GetName()) + ".handle");
    return real_->GetMaterialHandle();
  }
  void Visit() override { log_->push_back(std::string(GetName()) + ".12"); }
  void ReservedSlot5() override { log_->push_back("5"); }
  void ReservedSlot6() override { log_->push_back("6"); }
  void ReservedSlot7() override { log_->push_back("7"); }
  void ReservedSlot9() override { log_->push_back("9"); }
  void ReservedSlot10() override { log_->push_back("10"); }
  void ReservedSlot11() override { log_->push_back("11"); }

 private:
  csRef<iMaterialWrapper> real_;
  std::vector<std::string>* log_;
};

// The engine, except that the materials it creates log what is done to them.
class LoggingEngine : public scfImplementation<LoggingEngine, iEngine> {
 public:
  LoggingEngine(iEngine* engine, std::vector<std::string>* log) : engine_(engine), log_(log) {}
  iMaterialWrapper* FindMaterial(const char* name, iRegion* region) override {
    return engine_->FindMaterial(name, region);
  }
  iTextureList* GetTextureList() override { return engine_->GetTextureList(); }
  iMaterialWrapper* CreateMaterial(const char* name, iTextureWrapper* texture) override {
    made_.push_back(csRef<LoggingMaterial>::Adopt(
        new LoggingMaterial(engine_->CreateMaterial(name, texture), log_)));
    return made_.back().get();
  }

 private:
  csRef<iEngine> engine_;
  std::vector<std::string>* log_;
  std::vector<csRef<LoggingMaterial>> made_;
};

// A visibility callback that notes, when it is released, how many vertex
// buffers still live.
class BufferCountingCallback : public rwtest::DrawCallback {
 public:
  using DrawCallback::DrawCallback;
  void DecRef() override {
    buffersAtRelease.push_back(rwengine::LiveObjects::Count("VertexBuffer"));
    DrawCallback::DecRef();
  }
  std::vector<int> buffersAtRelease;
};

class Drawing : public rwtest::StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    Use(folder);
  }
  // Skeleton, one mesh with the given sub-meshes, materials m<i>.crf with
  // maps t<i>.raw (or none where the name is empty), a 100-second cycle.
  void WriteModel(const std::vector<TestSubmesh>& submeshes,
                  const std::vector<std::string>& maps = {"t0.raw"},
                  const std::string& extra = "") {
    ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
    ASSERT_TRUE(folder.WriteAnimation("slide.caf", 100.0f, csVector3(0, 0, 100)));
    ASSERT_TRUE(folder.WriteMesh("hero.cmf", submeshes));
    std::string config = "skeleton = hero.csf\nanimation = slide.caf\nmesh = hero.cmf\n" + extra;
    for (size_t i = 0; i < maps.size(); i++) {
      const std::string material = "m" + std::to_string(i) + ".crf";
      std::vector<std::string> mapList;
      if (!maps[i].empty()) mapList.push_back(maps[i]);
      ASSERT_TRUE(folder.WriteMaterial(material, mapList));
      if (!maps[i].empty()) folder.WriteRawTexture(maps[i], 1, 1, 3, {10, 20, 30});
      config += "material = " + material + "\n";
    }
    folder.WriteFile("hero.cfg", config);
  }

  std::vector<RecordedCall::Kind> Kinds() const {
    std::vector<RecordedCall::Kind> kinds;
    for (const RecordedCall& call : recorder.Calls()) kinds.push_back(call.kind);
    return kinds;
  }

  static csRef<iPolygonMesh> PolygonsOf(iBase* mesh) {
    return csRef<iPolygonMesh>::Adopt(scfQueryInterface<iPolygonMesh>(mesh));
  }

  // How far the slide has moved the first vertex drawn, which sits at the
  // model's origin: the slide's time in seconds (one model unit a second).
  float SlideTime() const {
    const auto draws = recorder.Of(RecordedCall::Draw);
    if (draws.empty() || draws[0]->vertices.empty()) return -1.0f;
    return Norm(draws[0]->vertices[0]) / 0.02f;
  }
  // One frame `ticks` after the last, moving the reference alike: the
  // coordinates drawn that differ from it.
  long Frame(iMeshObject* mesh, ReferenceCharacter& reference, csTicks ticks) {
    now += ticks;
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh));
    reference.Advance(ticks);
    return rwtest::Mismatches(rwtest::DrawnSubmeshes(recorder), reference.Vertices());
  }

  ModelFolder folder;
};

TEST_F(Drawing, TimeMovesByTheUnsignedTickDifferenceSinceTheLastDraw) {
  ASSERT_TRUE(folder.WriteAnimation("lift.caf", 100.0f, csVector3(100, 0, 0)));
  WriteModel({Quad(csVector3(0, 0, 0), 1)}, {"t0.raw"}, "animation = lift.caf\n");
  now = 0xFFFFFF00u;  // the object is made just before the tick counter wraps
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "hero.cfg"));
  // An action's clock moves from the first update on, and the slide's
  // offset shows it.
  ASSERT_TRUE(StateOf(mesh.get())->ExecuteAction("slide", 0, 0));
  reference.Mixer().executeAction(0, 0.0f, 0.0f);

  // The first draw moves by the time since construction, loading included,
  // across the wrap.
  EXPECT_EQ(Frame(mesh.get(), reference, 0x164), 0);
  EXPECT_NEAR(SlideTime(), 0.356f, 1e-5f);

  // Two draws in one millisecond (two views of one frame): no time.
  EXPECT_EQ(Frame(mesh.get(), reference, 0), 0);
  EXPECT_NEAR(SlideTime(), 0.356f, 1e-5f);

  // A vetoing callback: time moves, nothing is drawn or set.
  auto veto = csRef<rwtest::DrawCallback>::Adopt(new rwtest::DrawCallback(nullptr, false));
  mesh->SetVisibleCallback(veto.get());
  now += 250;
  recorder.Clear();
  EXPECT_FALSE(mesh->Draw(stage->GetView(), movable.get(), CS_ZBUF_USE));
  reference.Advance(250);
  EXPECT_TRUE(recorder.Calls().empty());
  EXPECT_EQ(veto->calls, 1);
  EXPECT_EQ(veto->lastMesh, mesh.get());

  // The next draw moves only by the time since the vetoed one: an action
  // started in between is 40 ms in, not 290, and the slide 0.646 s.
  ASSERT_TRUE(StateOf(mesh.get())->ExecuteAction("lift", 0, 0));
  reference.Mixer().executeAction(1, 0.0f, 0.0f);
  veto->answer = true;
  EXPECT_EQ(Frame(mesh.get(), reference, 40), 0);
  EXPECT_EQ(veto->calls, 2);
}

TEST_F(Drawing, EachSubmeshIsLockedFoggedDrawnTwiceReversedAndUnlocked) {
  TestSubmesh strip = rwtest::Strip(3, 1);
  WriteModel({Quad(csVector3(0, 0, 0), 1, 0), strip}, {"t0.raw", "t1.raw"});
  const int buffersBefore = rwengine::LiveObjects::Count("VertexBuffer");
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  rwengine::RenderView* view = stage->GetView();
  // A foggy view with every vertex in front of the camera, so that each fog
  // value the view writes tells its vertex's depth.
  const csColor fogColor{0.25f, 0.5f, 0.75f};
  const float density = 0.3f;
  view->SetFog(fogColor, density);
  const csOrthoTransform camera(csMatrix3(), csVector3(0, 0, -5));
  stage->GetCamera()->SetTransform(camera);
  recorder.Clear();
  ASSERT_TRUE(mesh->DrawTest(view, movable.get()));
  ASSERT_TRUE(mesh->Draw(view, movable.get(), CS_ZBUF_TEST));

  using K = RecordedCall;
  const std::vector<K::Kind> perSubmesh = {K::Lock, K::Fog, K::Draw, K::Fog, K::Draw, K::Unlock};
  std::vector<K::Kind> expected = {K::ObjectToCamera, K::RenderState, K::RenderState};
  for (int i = 0; i < 2; i++) expected.insert(expected.end(), perSubmesh.begin(), perSubmesh.end());
  EXPECT_EQ(Kinds(), expected);

  const auto states = recorder.Of(K::RenderState);
  EXPECT_EQ(states[0]->op, G3DRENDERSTATE_ZBUFFERMODE);
  EXPECT_EQ(states[1]->op, static_cast<G3D_RENDERSTATEOPTION>(7));
  EXPECT_EQ(states[0]->value, CS_ZBUF_TEST);
  EXPECT_EQ(states[1]->value, CS_ZBUF_TEST);

  const auto draws = recorder.Of(K::Draw);
  const auto locks = recorder.Of(K::Lock);
  ASSERT_EQ(draws.size(), 4u);
  for (int d = 0; d < 4; d++) {
    SCOPED_TRACE(d);
    const int slot = d / 2;
    // What a renderer acts on: the sub-mesh's triangles over its vertices
    // and texels, the key colour cut out, lit without vertex colours.
    const RecordedCall& draw = *draws[d];
    EXPECT_EQ(draw.triangles.size(), slot == 0 ? 2u : 6u);
    EXPECT_EQ(draw.texels.size(), static_cast<size_t>(draw.count));
    EXPECT_NE(draw.record.mixmode & CS_FX_KEYCOLOR, 0u);
    EXPECT_FALSE(draw.record.use_vertex_color);
    EXPECT_FALSE(draw.record.do_mirror);
    // The object's one vertex buffer, locked for the sub-mesh.
    EXPECT_EQ(draw.record.buffers[0], locks[0]->buffer);
    EXPECT_EQ(locks[slot]->buffer, locks[0]->buffer);
    EXPECT_EQ(draws[d]->count, slot == 0 ? 4 : 8);
    EXPECT_EQ(locks[slot]->count, draws[d]->count);
    EXPECT_EQ(locks[slot]->bufNumber, 0);
  }
  EXPECT_EQ(rwengine::LiveObjects::Count("VertexBuffer"), buffersBefore + 1);
  // Each sub-mesh locks a colour array of its own.
  ASSERT_NE(locks[0]->lockColors, nullptr);
  EXPECT_NE(locks[0]->lockColors, locks[1]->lockColors);
  // Before each draw the view fogged exactly the locked vertices, seen
  // through the object-to-camera transform, into an array that holds them.
  const auto fogs = recorder.Of(K::Fog);
  ASSERT_EQ(fogs.size(), 4u);
  for (int d = 0; d < 4; d++) {
    SCOPED_TRACE(d);
    const int slot = d / 2;
    EXPECT_EQ(fogs[d]->count, locks[slot]->count);
    EXPECT_TRUE(draws[d]->record.do_fog);
    const std::vector<G3DFogInfo>& fog = draws[d]->fog;
    ASSERT_EQ(fog.size(), static_cast<size_t>(draws[d]->count));
    for (size_t i = 0; i < fog.size(); i++) {
      const csVector3 seen = camera.Other2This(draws[d]->vertices[i]);
      ASSERT_GT(seen.z, 0.0f);
      EXPECT_EQ(fog[i].r, fogColor.red);
      EXPECT_EQ(fog[i].g, fogColor.green);
      EXPECT_EQ(fog[i].b, fogColor.blue);
      EXPECT_NEAR(fog[i].intensity, 1.0f - std::exp(-density * seen.z), 1e-5f) << i;
    }
    // The view was handed the object's own record (not a copy) to fill.
    ASSERT_NE(fogs[d]->fogRecord, nullptr);
    EXPECT_NE(fogs[d]->fogRecord->vertex_fog, nullptr);
  }

  // The second draw of a sub-mesh has every triangle turned round.
  for (int slot = 0; slot < 2; slot++) {
    const auto& first = draws[2 * slot]->triangles;
    const auto& second = draws[2 * slot + 1]->triangles;
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); i++) {
      EXPECT_EQ(second[i].a, first[i].a);
      EXPECT_EQ(second[i].b, first[i].c);
      EXPECT_EQ(second[i].c, first[i].b);
    }
  }
  EXPECT_EQ(draws[2]->triangles[0].a, strip.faces[0][0]);
  EXPECT_EQ(draws[2]->triangles[0].b, strip.faces[0][1]);
  EXPECT_EQ(draws[2]->triangles[0].c, strip.faces[0][2]);

  // The next frame locks the same arrays into the same buffer and hands the
  // view the same records: nothing is made again.
  std::vector<const G3DTriangleMesh*> records;
  for (const RecordedCall* fog : fogs) records.push_back(fog->fogRecord);
  const std::vector<const csColor*> colours = {locks[0]->lockColors, locks[1]->lockColors};
  iVertexBuffer* buffer = locks[0]->buffer;
  now += 10;
  recorder.Clear();
  ASSERT_TRUE(DrawOnce(mesh.get(), CS_ZBUF_TEST));
  const auto again = recorder.Of(K::Lock);
  ASSERT_EQ(again.size(), 2u);
  for (int slot = 0; slot < 2; slot++) {
    EXPECT_EQ(again[slot]->lockColors, colours[slot]);
    EXPECT_EQ(again[slot]->buffer, buffer);
  }
  const auto fogsAgain = recorder.Of(K::Fog);
  ASSERT_EQ(fogsAgain.size(), 4u);
  for (int d = 0; d < 4; d++) EXPECT_EQ(fogsAgain[d]->fogRecord, records[d]);
  EXPECT_EQ(records[0], records[1]);
  EXPECT_NE(records[1], records[2]);
}

TEST_F(Drawing, VerticesAreScaledAndTurnedIntoEngineSpace) {
  TestSubmesh points;
  points.vertices = {csVector3(0, 0, 1), csVector3(0, 1, 0), csVector3(2, 0, 0)};
  points.faces = {{0, 1, 2}};
  WriteModel({points}, {"t0.raw"}, "scale = 50\n");
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const auto draws = recorder.Of(RecordedCall::Draw);
  ASSERT_FALSE(draws.empty());
  const std::vector<csVector3>& v = draws[0]->vertices;
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NEAR(v[0].x, 0, 1e-7);
  EXPECT_NEAR(v[0].y, 0.9999997, 1e-6);
  EXPECT_NEAR(v[0].z, 0.00079627, 1e-7);
  EXPECT_NEAR(v[1].x, 0, 1e-7);
  EXPECT_NEAR(v[1].y, 0.00079627, 1e-7);
  EXPECT_NEAR(v[1].z, -0.9999997, 1e-6);
  EXPECT_NEAR(v[2].x, 2, 1e-6);
  EXPECT_NEAR(v[2].y, 0, 1e-7);
  EXPECT_NEAR(v[2].z, 0, 1e-7);
}

TEST_F(Drawing, DrawTestSetsTheObjectToCameraTransformAndTheViewFields) {
  csRef<iMeshObject> mesh = NewMesh();
  movable->SetPosition(csVector3(1, 2, 3));
  csOrthoTransform camera(csYRotMatrix3(0.3f), csVector3(0, 0, -5));
  stage->GetCamera()->SetTransform(camera);
  // Nothing loaded: only the transform is set.
  recorder.Clear();
  EXPECT_TRUE(mesh->DrawTest(stage->GetView(), movable.get()));
  ASSERT_EQ(Kinds(), std::vector<RecordedCall::Kind>{RecordedCall::ObjectToCamera});
  const csReversibleTransform& o2c = recorder.Calls()[0].transform;
  const csVector3 objectPoint(0.5f, -1, 2);
  const csVector3 world = movable->GetFullTransform().This2Other(objectPoint);
  const csVector3 expected = camera.Other2This(world);
  const csVector3 got = o2c.Other2This(objectPoint);
  EXPECT_NEAR(got.x, expected.x, 1e-5);
  EXPECT_NEAR(got.y, expected.y, 1e-5);
  EXPECT_NEAR(got.z, expected.z, 1e-5);

  // Loaded: DrawTest gives every record the view's three clip values, each
  // in its own field, and the mirror flag; Draw hands on what DrawTest set,
  // whatever the view answers by then.
  WriteModel({Quad(csVector3(0, 0, 0), 1), Quad(csVector3(0, 0, 0), 1)});
  csRef<iMeshObject> core = NewMesh();
  ASSERT_TRUE(Load(core.get(), "hero.cfg"));
  auto drawAfterTest = [&](bool mirrored, int portal, int plane, int zPlane) {
    stage->GetCamera()->SetMirrored(mirrored);
    stage->GetView()->SetClipping(portal, plane, zPlane);
    const int clipCalls = stage->GetView()->clipBBoxCalls;
    EXPECT_TRUE(core->DrawTest(stage->GetView(), movable.get()));
    EXPECT_EQ(stage->GetView()->clipBBoxCalls, clipCalls + 1);
    stage->GetCamera()->SetMirrored(!mirrored);
    stage->GetView()->SetClipping(11, 13, 17);
    recorder.Clear();
    now += 10;
    EXPECT_TRUE(core->Draw(stage->GetView(), movable.get(), CS_ZBUF_USE));
    const auto draws = recorder.Of(RecordedCall::Draw);
    ASSERT_EQ(draws.size(), 4u);
    for (const RecordedCall* draw : draws) {
      EXPECT_EQ(draw->record.do_mirror, mirrored);
      EXPECT_EQ(draw->record.clip_portal, portal);
      EXPECT_EQ(draw->record.clip_plane, plane);
      EXPECT_EQ(draw->record.clip_z_plane, zPlane);
    }
  };
  drawAfterTest(true, 3, 5, 7);
  // The next view's answers replace these.
  drawAfterTest(false, 0, 0, 0);
}

TEST_F(Drawing, MissingMaterialsSkipTheSubmeshWithoutTakingItsSlot) {
  // Sub-mesh 0 uses a material without maps, sub-mesh 1 one with a texture.
  WriteModel({Quad(csVector3(0, 0, 0), 1, 0), Quad(csVector3(5, 0, 0), 2, 1)}, {"", "t1.raw"});
  auto loader = csRef<EmptyLoader>::Adopt(new EmptyLoader);
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(StateOf(mesh.get())->LoadModel("hero.cfg", loader.get(), stage->GetEngine()));
  // The loader made no fallback, so the engine has no default material to give.
  ASSERT_EQ(stage->GetEngine()->FindMaterial("hero.cfg"), nullptr);

  recorder.Clear();
  rwtest::CapturedOutput output;
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(output.Text(), kId + ": Used without material\n" + kId + ": Used without material\n");
  const auto draws = recorder.Of(RecordedCall::Draw);
  const auto locks = recorder.Of(RecordedCall::Lock);
  ASSERT_EQ(draws.size(), 4u);
  ASSERT_EQ(locks.size(), 2u);
  // Only sub-mesh 1 is drawn, each frame with its two triangles.
  EXPECT_EQ(draws[0]->vertices[0].x, 5 * 0.02f);
  for (const RecordedCall* draw : draws) EXPECT_EQ(draw->record.num_triangles, 2);
  const csColor* drawnColours = locks[0]->lockColors;
  EXPECT_EQ(locks[1]->lockColors, drawnColours);

  // With the default material, the map-less sub-mesh shows it. A reload
  // would share what the object holds, made without it: a failed load lets
  // that go first.
  {
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    ASSERT_FALSE(Load(mesh.get(), "no-such.cfg"));
  }
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  iMaterialWrapper* fallback = stage->GetEngine()->FindMaterial("hero.cfg");
  ASSERT_NE(fallback, nullptr);
  recorder.Clear();
  rwtest::CapturedOutput again;
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(again.Text(), "");
  ASSERT_EQ(recorder.CountOf(RecordedCall::Draw), 4u);
  EXPECT_EQ(recorder.Of(RecordedCall::Draw)[0]->material, fallback->GetMaterialHandle());
  // The sub-mesh skipped before took no slot: the one drawn then had the
  // first sub-mesh's colours, which it locks now.
  const auto locksNow = recorder.Of(RecordedCall::Lock);
  ASSERT_EQ(locksNow.size(), 2u);
  EXPECT_EQ(locksNow[0]->lockColors, drawnColours);
  EXPECT_NE(locksNow[1]->lockColors, drawnColours);
}

TEST_F(Drawing, AMaterialWithoutHandleIsReportedAndSkipped) {
  WriteModel({Quad(csVector3(0, 0, 0), 1, 0), Quad(csVector3(0, 0, 0), 1, 1)},
             {"nohandle.raw", "nohandle2.raw"});
  auto engine = csRef<HandlelessEngine>::Adopt(new HandlelessEngine(stage->GetEngine()));
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(StateOf(mesh.get())->LoadModel("hero.cfg", stage->GetLoader(), engine.get()));
  recorder.Clear();
  rwtest::CapturedOutput output;
  // Nothing can be drawn, and that is not a failure of the draw.
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(output.Text(),
            kId + ": Invalid material handle\n" + kId + ": Invalid material handle\n");
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 0u);
  EXPECT_EQ(recorder.CountOf(RecordedCall::Lock), 0u);
}

TEST_F(Drawing, OneVertexBufferTakenBackWhenTheManagerClosesAndMadeAgain) {
  WriteModel({Quad(csVector3(0, 0, 0), 1)});
  rwengine::VertexBufferManager* manager = stage->GetGraphics()->GetManager();
  const int buffersBefore = rwengine::LiveObjects::Count("VertexBuffer");
  auto buffers = [&] { return rwengine::LiveObjects::Count("VertexBuffer") - buffersBefore; };
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  EXPECT_EQ(buffers(), 0);

  // Closing before any draw changes nothing.
  manager->Close();
  manager->Reopen();
  EXPECT_EQ(buffers(), 0);
  EXPECT_EQ(manager->ClientCount(), 0);

  ASSERT_TRUE(DrawOnce(mesh.get()));
  ASSERT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(buffers(), 1);
  EXPECT_EQ(manager->ClientCount(), 1);

  // The object gives its buffer back when told, and makes one anew.
  manager->Close();
  EXPECT_EQ(buffers(), 0);
  manager->Reopen();
  recorder.Clear();
  ASSERT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(buffers(), 1);
  EXPECT_EQ(manager->ClientCount(), 1);
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 2u);

  // Destruction releases the buffer and leaves the manager nobody to notify.
  mesh.reset();
  EXPECT_EQ(buffers(), 0);
  EXPECT_EQ(manager->ClientCount(), 0);
  manager->Close();
  manager->Reopen();
}

TEST_F(Drawing, TheCallbackIsHeldOnceAndReleasedOnce) {
  std::vector<std::string> log;
  auto callback = csRef<rwtest::DrawCallback>::Adopt(new rwtest::DrawCallback(&log));
  csRef<iMeshObject> mesh = NewMesh();
  mesh->SetVisibleCallback(callback.get());
  EXPECT_EQ(callback->GetRefCount(), 2);
  EXPECT_EQ(mesh->GetVisibleCallback(), callback.get());
  EXPECT_EQ(callback->GetRefCount(), 2);
  // The same callback again stays alive: the new reference comes first.
  mesh->SetVisibleCallback(callback.get());
  EXPECT_EQ(callback->GetRefCount(), 2);
  mesh->SetVisibleCallback(nullptr);
  EXPECT_EQ(callback->GetRefCount(), 1);
  EXPECT_EQ(mesh->GetVisibleCallback(), nullptr);

  mesh->SetVisibleCallback(callback.get());
  log.clear();
  mesh.reset();
  EXPECT_EQ(log, std::vector<std::string>{"callback.DecRef"});
  EXPECT_EQ(callback->GetRefCount(), 1);
}

// A callback that loads a model into the object it is asked about, as an
// application may on first sight of a character.
class LoadingCallback : public rwtest::DrawCallback {
 public:
  LoadingCallback(iLoader* loader, iEngine* engine, const char* name)
      : loader_(loader), engine_(engine), name_(name) {}
  bool BeforeDrawing(iMeshObject* mesh, iRenderView* view) override {
    auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
    loaded = state->LoadModel(name_, loader_, engine_);
    return DrawCallback::BeforeDrawing(mesh, view);
  }
  bool loaded = false;

 private:
  iLoader* loader_;
  iEngine* engine_;
  const char* name_;
};

// Whatever the callback's load leaves, the Draw that asked it goes on with
// that: nothing after a failed load, the new character after a good one.
TEST_F(Drawing, ADrawGoesOnWithWhatTheCallbacksLoadLeft) {
  WriteModel({Quad(csVector3(0, 0, 0), 1, 0)});
  folder.WriteFile("two.cfg", "skeleton = hero.csf\nmesh = two.cmf\nmaterial = m0.crf\n");
  ASSERT_TRUE(folder.WriteMesh("two.cmf",
                               {Quad(csVector3(3, 0, 0), 1, 0), Quad(csVector3(6, 0, 0), 1, 0)}));
  struct Row {
    const char* load;
    bool drawn;
    size_t draws;
  };
  for (const Row& row : {Row{"missing.cfg", false, 0}, Row{"two.cfg", true, 4}}) {
    csRef<iMeshObject> mesh = NewMesh();
    ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
    auto callback = csRef<LoadingCallback>::Adopt(
        new LoadingCallback(stage->GetLoader(), stage->GetEngine(), row.load));
    mesh->SetVisibleCallback(callback.get());
    recorder.Clear();
    {
      rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
      EXPECT_EQ(DrawOnce(mesh.get()), row.drawn) << row.load;
    }
    EXPECT_EQ(callback->loaded, row.drawn) << row.load;
    EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), row.draws) << row.load;
    mesh->SetVisibleCallback(nullptr);
  }
}

TEST_F(Drawing, LightingPaintsExactlyTheVerticesOfEachSelectedSlot) {
  WriteModel({Quad(csVector3(0, 0, 0), 1), rwtest::Strip(5)});
  csRef<iMeshObject> mesh = NewMesh();
  mesh->UpdateLighting(nullptr, 0, movable.get());  // nothing loaded: nothing to do
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ASSERT_TRUE(DrawOnce(mesh.get()));
  // Each sub-mesh's colours are the array the object lends the renderer
  // when it locks the sub-mesh. They start uninitialised: a known pattern
  // in them shows exactly which colours get painted.
  const auto locks = recorder.Of(RecordedCall::Lock);
  ASSERT_EQ(locks.size(), 2u);
  csColor* colours[2] = {const_cast<csColor*>(locks[0]->lockColors),
                         const_cast<csColor*>(locks[1]->lockColors)};
  const csColor pattern{0.25f, 0.5f, 0.75f};
  for (csColor* slot : colours)
    for (int i = 0; i < 20; i++) slot[i] = pattern;
  auto expectPainted = [&](int first, int second) {
    const int painted[2] = {first, second};
    for (int slot = 0; slot < 2; slot++) {
      for (int i = 0; i < 20; i++) {
        const csColor want = i < painted[slot] ? csColor{1, 1, 1} : pattern;
        ASSERT_EQ(colours[slot][i].red, want.red) << "slot " << slot << " colour " << i;
        ASSERT_EQ(colours[slot][i].green, want.green) << "slot " << slot << " colour " << i;
        ASSERT_EQ(colours[slot][i].blue, want.blue) << "slot " << slot << " colour " << i;
      }
    }
  };
  // Neither a load nor a draw paints them.
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  now += 10;
  ASSERT_TRUE(DrawOnce(mesh.get()));
  expectPainted(0, 0);
  // Lighting paints the vertices Cal3D's renderer selects for each, no more.
  mesh->UpdateLighting(nullptr, 0, movable.get());
  expectPainted(4, 12);
  recorder.Clear();
  now += 10;
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const auto locksAfter = recorder.Of(RecordedCall::Lock);
  ASSERT_EQ(locksAfter.size(), 2u);
  EXPECT_EQ(locksAfter[0]->lockColors, colours[0]);
  EXPECT_EQ(locksAfter[1]->lockColors, colours[1]);
}

TEST_F(Drawing, EachResolvedWrapperIsVisitedOnceAfterItsHandleIsFetched) {
  // Two sub-meshes of material 0, one of material 1.
  WriteModel({Quad(csVector3(0, 0, 0), 1, 0), Quad(csVector3(0, 0, 0), 1, 1),
              Quad(csVector3(0, 0, 0), 1, 0)},
             {"t0.raw", "t1.raw"});
  std::vector<std::string> log;
  auto engine = csRef<LoggingEngine>::Adopt(new LoggingEngine(stage->GetEngine(), &log));
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(StateOf(mesh.get())->LoadModel("hero.cfg", stage->GetLoader(), engine.get()));
  log.clear();
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const std::vector<std::string> once = {"t0.raw.handle", "t0.raw.12",     "t1.raw.handle",
                                         "t1.raw.12",     "t0.raw.handle", "t0.raw.12"};
  EXPECT_EQ(log, once);
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 6u);
  // The same again in the next frame, and nothing in between.
  log.clear();
  now += 10;
  ASSERT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(log, once);
}

TEST_F(Drawing, ADrawnObjectReleasesItsCallbackBeforeItsVertexBuffer) {
  WriteModel({Quad(csVector3(0, 0, 0), 1)});
  const int buffersBefore = rwengine::LiveObjects::Count("VertexBuffer");
  auto callback = csRef<BufferCountingCallback>::Adopt(new BufferCountingCallback);
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  mesh->SetVisibleCallback(callback.get());
  ASSERT_TRUE(DrawOnce(mesh.get()));
  ASSERT_EQ(rwengine::LiveObjects::Count("VertexBuffer"), buffersBefore + 1);
  callback->buffersAtRelease.clear();
  mesh.reset();
  EXPECT_EQ(callback->buffersAtRelease, std::vector<int>{buffersBefore + 1});
  EXPECT_EQ(rwengine::LiveObjects::Count("VertexBuffer"), buffersBefore);
  EXPECT_EQ(callback->GetRefCount(), 1);
}

TEST_F(Drawing, OnceTheCallbackIsClearedNobodyIsAsked) {
  WriteModel({Quad(csVector3(0, 0, 0), 1)});
  auto veto = csRef<rwtest::DrawCallback>::Adopt(new rwtest::DrawCallback(nullptr, false));
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  mesh->SetVisibleCallback(veto.get());
  EXPECT_FALSE(DrawOnce(mesh.get()));
  EXPECT_EQ(veto->calls, 1);
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 0u);

  mesh->SetVisibleCallback(nullptr);
  EXPECT_EQ(veto->GetRefCount(), 1);
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(veto->calls, 1);
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 2u);
}

TEST_F(Drawing, NextFrameAndHardTransformMoveNeitherTimeNorGeometry) {
  WriteModel({Quad(csVector3(0, 0, 0), 1), rwtest::Strip(2)});
  ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "hero.cfg"));
  reference.Mixer().blendCycle(0, 1.0f, 0.0f);
  reference.Advance(0);
  // Two objects in step, of which only one is told the frame and a transform.
  csRef<iMeshObject> told = NewMesh(), untold = NewMesh();
  for (iMeshObject* mesh : {told.get(), untold.get()}) {
    ASSERT_TRUE(Load(mesh, "hero.cfg"));
    ASSERT_TRUE(StateOf(mesh)->BlendCycle("slide", 0, 1));
    ASSERT_TRUE(DrawOnce(mesh));
  }
  const csVector3* box = PolygonsOf(told.get())->GetVertices();
  const std::vector<csVector3> boxBefore(box, box + 8);

  told->NextFrame(now + 5000);
  told->HardTransform(csReversibleTransform(csYRotMatrix3(0.5f), csVector3(4, 5, 6)));
  EXPECT_FALSE(told->SupportsHardTransform());

  now += 250;
  reference.Advance(250);
  recorder.Clear();
  ASSERT_TRUE(DrawOnce(told.get()));
  const auto toldDraws = recorder.Of(RecordedCall::Draw);
  ASSERT_EQ(toldDraws.size(), 4u);
  // The slide is a quarter of a second in, as Cal3D has it.
  EXPECT_NEAR(SlideTime(), 0.25f, 1e-6f);
  EXPECT_EQ(rwtest::Mismatches(rwtest::DrawnSubmeshes(recorder), reference.Vertices()), 0);
  std::vector<std::vector<csVector3>> toldVertices;
  for (const RecordedCall* draw : toldDraws) toldVertices.push_back(draw->vertices);
  recorder.Clear();
  ASSERT_TRUE(DrawOnce(untold.get()));
  const auto untoldDraws = recorder.Of(RecordedCall::Draw);
  ASSERT_EQ(untoldDraws.size(), 4u);
  for (size_t d = 0; d < 4; d++) {
    ASSERT_EQ(toldVertices[d].size(), untoldDraws[d]->vertices.size());
    for (size_t i = 0; i < toldVertices[d].size(); i++) {
      EXPECT_EQ(toldVertices[d][i].x, untoldDraws[d]->vertices[i].x);
      EXPECT_EQ(toldVertices[d][i].y, untoldDraws[d]->vertices[i].y);
      EXPECT_EQ(toldVertices[d][i].z, untoldDraws[d]->vertices[i].z);
    }
  }
  box = PolygonsOf(told.get())->GetVertices();
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(box[i].x, boxBefore[i].x);
    EXPECT_EQ(box[i].y, boxBefore[i].y);
    EXPECT_EQ(box[i].z, boxBefore[i].z);
  }
}

}  // namespace
