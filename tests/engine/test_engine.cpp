// The stand-in engine's own behaviour: the transforms a mesh object composes,
// vertex buffer lending and shutdown, what reaches a backend, fog, materials,
// the loader, object accounting, and a Stage driving the real module.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/backend_null.h"
#include "engine/backend_recording.h"
#include "engine/camera.h"
#include "engine/engine.h"
#include "engine/graphics3d.h"
#include "engine/live_objects.h"
#include "engine/loader.h"
#include "engine/movable.h"
#include "engine/render_view.h"
#include "engine/stage.h"
#include "engine/vertex_buffer.h"
#include "host/image.h"
#include "ical3dstate.h"

#ifndef RIGWEAVE_MODULE_PATH
#error "RIGWEAVE_MODULE_PATH must name the built module"
#endif

namespace rwengine {
namespace {

constexpr float kHalfPi = 1.57079632679489661923f;
using Kind = RecordedCall::Kind;

template <class T>
csRef<T> Make(T* object) {
  return csRef<T>::Adopt(object);
}

void ExpectNear(const csVector3& actual, const csVector3& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-4f);
  EXPECT_NEAR(actual.y, expected.y, 1e-4f);
  EXPECT_NEAR(actual.z, expected.z, 1e-4f);
}

// The object-to-camera transform exactly as the module builds it in DrawTest.
csReversibleTransform ObjectToCamera(iCamera* camera, iMovable* movable) {
  return camera->GetTransform() / movable->GetFullTransform();
}

// Every engine class must be back to no instances when a test ends.
class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& [name, count] : LiveObjects::Snapshot())
      EXPECT_EQ(count, 0) << name << " instances left alive";
  }
};

// ---------------------------------------------------------------------------
// Transforms

TEST_F(EngineTest, ObjectPointReachesCameraSpaceThroughMovableAndCamera) {
  auto camera = Make(new Camera);
  auto movable = Make(new Movable);
  // Turned a quarter about y: the object's +x axis points along world +z.
  movable->SetTransform(csReversibleTransform(csYRotMatrix3(kHalfPi), csVector3(1, 0, 5)));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(1, 0, 6));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(0, 2, 0)),
             csVector3(1, 2, 5));

  // Stepping the camera back pushes everything deeper; SetPosition keeps the turn.
  camera->GetTransform().SetOrigin(csVector3(0, 0, -4));
  movable->SetPosition(csVector3(1, 0, 5));
  ExpectNear(movable->GetPosition(), csVector3(1, 0, 5));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(1, 0, 10));

  // A camera looking down -z from the front sees the object's right on its left.
  csOrthoTransform facing(csMatrix3(), csVector3(0, 0, 20));
  facing.LookAt(csVector3(0, 0, 0), csVector3(0, 1, 0));
  camera->SetTransform(facing);
  movable->SetTransform(csReversibleTransform(csMatrix3(), csVector3(0, 0, 0)));
  ExpectNear(ObjectToCamera(camera.get(), movable.get()).Other2This(csVector3(1, 0, 0)),
             csVector3(-1, 0, 20));
}

TEST_F(EngineTest, ParentTransformIsAppliedBeforeTheChild) {
  auto parent = Make(new Movable);
  parent->SetTransform(csReversibleTransform(csYRotMatrix3(kHalfPi), csVector3(10, 0, 0)));
  auto child = Make(new Movable(parent.get()));
  child->SetPosition(csVector3(0, 0, 1));
  // One unit along the parent's z, which the parent's turn points along world -x.
  ExpectNear(child->GetFullTransform().This2Other(csVector3(0, 0, 0)), csVector3(9, 0, 0));
  ExpectNear(child->GetTransform().This2Other(csVector3(0, 0, 0)), csVector3(0, 0, 1));

  // A cycle is refused rather than recursing forever.
  parent->SetParent(child.get());
  EXPECT_EQ(parent->GetParent(), nullptr);
  child->SetParent(nullptr);
}

TEST_F(EngineTest, FocalLengthFollowsTheFieldOfView) {
  auto camera = Make(new Camera);
  EXPECT_FLOAT_EQ(camera->GetFOVAngle(), 60.0f);
  EXPECT_NEAR(camera->FocalLength(640), 320.0f / std::tan(30.0f * kHalfPi / 90.0f), 1e-3f);
  camera->SetFOVAngle(90.0f);
  EXPECT_NEAR(camera->FocalLength(640), 320.0f, 1e-3f);
  camera->SetFOVAngle(0.0f);
  camera->SetFOVAngle(180.0f);
  EXPECT_FLOAT_EQ(camera->GetFOVAngle(), 90.0f);
  // The renderer starts with the default camera's projection.
  auto g3d = Make(new Graphics3D(640, 480));
  EXPECT_NEAR(g3d->GetPerspectiveAspect(), Make(new Camera)->FocalLength(640), 1e-3f);
  EXPECT_EQ(g3d->GetProjection().centerX, 320);
  EXPECT_EQ(g3d->GetProjection().centerY, 240);
}

// ---------------------------------------------------------------------------
// Vertex buffers

class CountingClient : public scfImplementation<CountingClient, iVertexBufferManagerClient> {
 public:
  explicit CountingClient(iVertexBufferManager* manager) : manager_(manager) {}
  ~CountingClient() override {
    if (manager_ != nullptr) manager_->RemoveClient(this);
  }
  // Like a mesh object: the manager may be gone once it has said so.
  void ManagerClosing() override {
    closings++;
    manager_ = nullptr;
    if (victim != nullptr) std::exchange(victim, nullptr)->DecRef();
  }
  int closings = 0;
  // Released on the first notification, like a mesh object that owns another.
  iBase* victim = nullptr;

 private:
  iVertexBufferManager* manager_;
};

TEST_F(EngineTest, CloseTellsEachClientOnceAndForgetsThem) {
  auto manager = Make(new VertexBufferManager);
  auto a = Make(new CountingClient(manager.get()));
  auto b = Make(new CountingClient(manager.get()));
  manager->AddClient(a.get());
  manager->AddClient(b.get());
  manager->AddClient(a.get());
  // Clients are not owned.
  EXPECT_EQ(a->GetRefCount(), 1);

  manager->Close();
  EXPECT_EQ(a->closings, 1);
  EXPECT_EQ(b->closings, 1);
  EXPECT_EQ(manager->ClientCount(), 0);
  manager->Close();
  EXPECT_EQ(a->closings, 1);

  manager->Reopen();
  manager->AddClient(a.get());
  manager->AddClient(b.get());
  manager->RemoveClient(a.get());
  manager->Close();
  EXPECT_EQ(a->closings, 1);
  EXPECT_EQ(b->closings, 2);
}

TEST_F(EngineTest, ClientDestroyedByAnotherDuringCloseIsNotTold) {
  auto manager = Make(new VertexBufferManager);
  auto first = Make(new CountingClient(manager.get()));
  auto* second = new CountingClient(manager.get());
  manager->AddClient(first.get());
  manager->AddClient(second);
  first->victim = second;  // the only reference: dies during the first notification
  manager->Close();        // would touch freed memory if `second` were still told
  EXPECT_EQ(first->closings, 1);
  EXPECT_EQ(LiveObjects::Count("VertexBufferManager"), 1);
}

TEST_F(EngineTest, BufferLendsTheLockedArraysOnlyWhileLocked) {
  RecordingBackend backend;
  auto manager = Make(new VertexBufferManager);
  manager->SetBackend(&backend);
  auto buffer = Make(manager->CreateBuffer(5));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer->GetRefCount(), 1);
  EXPECT_EQ(buffer->GetPriority(), 5);

  csVector3 vertices[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  csVector2 texels[3];
  csColor colors[3];
  EXPECT_TRUE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  EXPECT_TRUE(buffer->IsLocked());
  EXPECT_EQ(buffer->GetVertices(0), vertices);  // lent, not copied
  EXPECT_EQ(buffer->GetVertices(1), nullptr);
  EXPECT_EQ(buffer->GetTexels(), texels);
  EXPECT_EQ(buffer->GetColors(), colors);
  EXPECT_EQ(buffer->GetVertexCount(), 3);
  // Locking twice would silently replace what a draw is about to read.
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 2, 0));
  EXPECT_EQ(buffer->GetVertexCount(), 3);

  manager->UnlockBuffer(buffer.get());
  EXPECT_FALSE(buffer->IsLocked());
  EXPECT_EQ(buffer->GetVertices(0), nullptr);
  EXPECT_EQ(buffer->GetVertexCount(), 0);
  manager->UnlockBuffer(buffer.get());  // not reported twice

  ASSERT_EQ(backend.Calls().size(), 2u);
  const RecordedCall& lock = backend.Calls()[0];
  EXPECT_EQ(lock.kind, Kind::Lock);
  EXPECT_EQ(lock.buffer, buffer.get());
  EXPECT_EQ(lock.lockVertices, vertices);
  EXPECT_EQ(lock.count, 3);
  EXPECT_EQ(backend.Calls()[1].kind, Kind::Unlock);

  // Refused: another manager's buffer, bad counts, and anything once closed.
  auto other = Make(new VertexBufferManager);
  auto foreign = Make(other->CreateBuffer(0));
  EXPECT_FALSE(manager->LockBuffer(foreign.get(), vertices, texels, colors, 3, 0));
  EXPECT_FALSE(manager->LockBuffer(nullptr, vertices, texels, colors, 3, 0));
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, -1, 0));
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), nullptr, texels, colors, 3, 0));
  manager->Close();
  EXPECT_EQ(manager->CreateBuffer(0), nullptr);
  EXPECT_FALSE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  manager->Reopen();
  EXPECT_TRUE(manager->LockBuffer(buffer.get(), vertices, texels, colors, 3, 0));
  manager->UnlockBuffer(buffer.get());
}

// ---------------------------------------------------------------------------
// Renderer and backends

// A single triangle locked into a buffer of the renderer, as the module draws.
struct Triangle {
  explicit Triangle(Graphics3D* g3d)
      : manager(g3d->GetVertexBufferManager()), buffer(Make(manager->CreateBuffer(0))) {
    record.num_vertices_pool = 1;
    record.num_triangles = 1;
    record.triangles = triangles;
    record.buffers[0] = buffer.get();
    record.vertex_fog = fog;
  }
  void Lock(int count = 3) {
    manager->LockBuffer(buffer.get(), vertices, texels, colors, count, 0);
  }
  void Unlock() { manager->UnlockBuffer(buffer.get()); }

  iVertexBufferManager* manager;
  csRef<iVertexBuffer> buffer;
  csVector3 vertices[3] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
  csVector2 texels[3] = {{0, 0}, {1, 0}, {0, 1}};
  csColor colors[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  csTriangle triangles[1] = {{0, 1, 2}};
  G3DFogInfo fog[4] = {};
  G3DTriangleMesh record{};
};

TEST_F(EngineTest, RecordingBackendCopiesGeometryAtDrawTime) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D(320, 200));
  g3d->SetBackend(&backend);
  auto texture = Make(new TextureHandle(nullptr));
  auto material = Make(new MaterialHandle(texture.get()));
  Triangle tri(g3d.get());
  tri.record.mat_handle = material.get();
  tri.record.do_mirror = true;

  const csReversibleTransform o2c(csMatrix3(), csVector3(0, 0, -7));
  ASSERT_TRUE(g3d->BeginDraw());
  g3d->SetObjectToCamera(o2c);
  EXPECT_TRUE(g3d->SetRenderState(G3DRENDERSTATE_ZBUFFERMODE, CS_ZBUF_USE));
  tri.Lock();
  g3d->DrawTriangleMesh(tri.record);
  // The module reuses its scratch arrays right after each draw.
  tri.vertices[1] = csVector3(9, 9, 9);
  tri.texels[1] = csVector2(5, 5);
  tri.colors[1] = {0, 0, 0};
  tri.triangles[0] = {2, 1, 0};
  tri.record.mat_handle = nullptr;
  g3d->SetObjectToCamera(csReversibleTransform());
  tri.Unlock();
  g3d->FinishDraw();

  EXPECT_EQ(g3d->DrawsAccepted(), 1);
  const std::vector<const RecordedCall*> draws = backend.Of(Kind::Draw);
  ASSERT_EQ(draws.size(), 1u);
  const RecordedCall& draw = *draws[0];
  ASSERT_EQ(draw.count, 3);
  ASSERT_EQ(draw.vertices.size(), 3u);
  ExpectNear(draw.vertices[1], csVector3(1, 0, 1));
  ASSERT_EQ(draw.texels.size(), 3u);
  EXPECT_FLOAT_EQ(draw.texels[1].x, 1.0f);
  ASSERT_EQ(draw.colors.size(), 3u);
  EXPECT_FLOAT_EQ(draw.colors[1].green, 1.0f);
  ASSERT_EQ(draw.triangles.size(), 1u);
  EXPECT_EQ(draw.triangles[0].a, 0);
  EXPECT_EQ(draw.material, material.get());
  EXPECT_TRUE(draw.record.do_mirror);
  EXPECT_EQ(draw.zbufMode, CS_ZBUF_USE);
  ExpectNear(draw.transform.Other2This(csVector3(0, 0, 0)), csVector3(0, 0, 7));
  EXPECT_EQ(draw.projection.width, 320);
  EXPECT_EQ(draw.projection.centerY, 100);
  EXPECT_FLOAT_EQ(draw.projection.aspect, g3d->GetPerspectiveAspect());

  // Everything in the order it happened.
  std::vector<Kind> kinds;
  for (const RecordedCall& call : backend.Calls()) kinds.push_back(call.kind);
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::BeginFrame, Kind::ObjectToCamera, Kind::RenderState,
                                      Kind::Lock, Kind::Draw, Kind::ObjectToCamera, Kind::Unlock,
                                      Kind::EndFrame}));
  EXPECT_EQ(backend.Calls()[0].width, 320);
  backend.Clear();
  EXPECT_TRUE(backend.Calls().empty());
}

TEST_F(EngineTest, RecordsABackendCouldNotDrawSafelyAreDropped) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  Triangle tri(g3d.get());

  g3d->DrawTriangleMesh(tri.record);  // not locked
  tri.Lock(2);
  g3d->DrawTriangleMesh(tri.record);  // index 2 lies outside two vertices
  tri.Unlock();
  tri.Lock();
  tri.record.triangles = nullptr;
  g3d->DrawTriangleMesh(tri.record);
  tri.record.triangles = tri.triangles;
  tri.record.do_fog = true;
  tri.record.vertex_fog = nullptr;
  g3d->DrawTriangleMesh(tri.record);
  tri.record.do_fog = false;
  auto other = Make(new Graphics3D);
  tri.record.buffers[0] = other->GetVertexBufferManager()->CreateBuffer(0);
  g3d->DrawTriangleMesh(tri.record);
  tri.record.buffers[0]->DecRef();
  tri.record.buffers[0] = tri.buffer.get();
  tri.Unlock();

  EXPECT_EQ(g3d->DrawsRejected(), 5);
  EXPECT_EQ(g3d->DrawsAccepted(), 0);
  EXPECT_EQ(backend.CountOf(Kind::Draw), 0u);

  // Render states outside the table are refused, not written past it.
  EXPECT_FALSE(g3d->SetRenderState(static_cast<G3D_RENDERSTATEOPTION>(-1), 1));
  EXPECT_FALSE(
      g3d->SetRenderState(static_cast<G3D_RENDERSTATEOPTION>(Graphics3D::kRenderStateCount), 1));
  EXPECT_TRUE(g3d->SetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE, CS_ZBUF_TEST));
  EXPECT_EQ(g3d->GetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE), CS_ZBUF_TEST);
}

TEST_F(EngineTest, ClosingTheRendererTellsClientsAndOpenLetsThemBack) {
  auto g3d = Make(new Graphics3D);
  iVertexBufferManager* manager = g3d->GetVertexBufferManager();
  const int32_t refs = g3d->GetManager()->GetRefCount();
  auto client = Make(new CountingClient(manager));
  manager->AddClient(client.get());
  EXPECT_EQ(g3d->GetManager()->GetRefCount(), refs);  // handed out without a reference

  g3d->Close();
  EXPECT_EQ(client->closings, 1);
  EXPECT_FALSE(g3d->BeginDraw());
  EXPECT_EQ(manager->CreateBuffer(0), nullptr);
  EXPECT_TRUE(g3d->Open());
  EXPECT_TRUE(g3d->BeginDraw());
  auto buffer = Make(manager->CreateBuffer(0));
  EXPECT_TRUE(buffer);

  // A renderer going away tells the clients still registered.
  client = Make(new CountingClient(manager));
  manager->AddClient(client.get());
  g3d.reset();
  EXPECT_EQ(client->closings, 1);
}

TEST_F(EngineTest, NullBackendCountsWithoutKeepingAnything) {
  NullBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  Triangle tri(g3d.get());
  g3d->BeginDraw();
  tri.Lock();
  g3d->DrawTriangleMesh(tri.record);
  g3d->DrawTriangleMesh(tri.record);
  tri.Unlock();
  g3d->FinishDraw();
  EXPECT_EQ(backend.frames, 1);
  EXPECT_EQ(backend.draws, 2);
  EXPECT_EQ(backend.triangles, 2);
}

// ---------------------------------------------------------------------------
// Fog

TEST_F(EngineTest, FogFillsExactlyTheLockedVertices) {
  RecordingBackend backend;
  auto g3d = Make(new Graphics3D);
  g3d->SetBackend(&backend);
  auto view = Make(new RenderView(g3d.get(), Make(new Camera).get()));
  Triangle tri(g3d.get());
  const G3DFogInfo sentinel{7, 7, 7, 7};
  for (G3DFogInfo& f : tri.fog) f = sentinel;

  tri.record.do_fog = true;
  tri.Lock(2);
  view->CalculateFogMesh(csReversibleTransform(), tri.record);
  // No fog in the view: the record says so and no value is written.
  EXPECT_FALSE(tri.record.do_fog);
  EXPECT_FLOAT_EQ(tri.fog[0].intensity, 7.0f);

  view->SetFog({0.5f, 0.25f, 1.0f}, 0.5f);
  // Vertex 0 sits at camera depth 3, vertex 1 behind the eye.
  tri.vertices[1] = csVector3(0, 0, -5);
  view->CalculateFogMesh(csReversibleTransform(csMatrix3(), csVector3(0, 0, -2)), tri.record);
  EXPECT_TRUE(tri.record.do_fog);
  EXPECT_NEAR(tri.fog[0].intensity, 1.0f - std::exp(-0.5f * 3.0f), 1e-5f);
  EXPECT_FLOAT_EQ(tri.fog[0].g, 0.25f);
  EXPECT_FLOAT_EQ(tri.fog[1].intensity, 0.0f);
  EXPECT_FLOAT_EQ(tri.fog[2].intensity, 7.0f);
  tri.Unlock();

  // Nothing locked: nothing written.
  tri.fog[0] = sentinel;
  view->CalculateFogMesh(csReversibleTransform(), tri.record);
  EXPECT_FLOAT_EQ(tri.fog[0].intensity, 7.0f);

  const std::vector<const RecordedCall*> fogs = backend.Of(Kind::Fog);
  ASSERT_EQ(fogs.size(), 3u);
  EXPECT_EQ(fogs[0]->count, 2);
  EXPECT_EQ(fogs[0]->fogRecord, &tri.record);
  EXPECT_TRUE(fogs[1]->doFog);
  EXPECT_EQ(fogs[1]->fog.size(), 2u);
  EXPECT_EQ(fogs[2]->count, 0);
}

TEST_F(EngineTest, ClipBBoxClipsNothingUnlessToldOtherwise) {
  auto view = Make(new RenderView(Make(new Graphics3D).get(), Make(new Camera).get()));
  int portal = 5, plane = 5, zplane = 5;
  EXPECT_TRUE(view->ClipBBox(csBox2(), csBox3(), portal, plane, zplane));
  EXPECT_EQ(portal + plane + zplane, 0);
  EXPECT_EQ(view->clipBBoxCalls, 1);
  view->SetClipping(1, 2, 3);
  EXPECT_TRUE(view->ClipBBox(csBox2(), csBox3(), portal, plane, zplane));
  EXPECT_EQ(portal, 1);
  EXPECT_EQ(plane, 2);
  EXPECT_EQ(zplane, 3);
}

// ---------------------------------------------------------------------------
// Materials, textures and the loader

csRef<iImage> SmallImage() {
  return Make<iImage>(new csImageMemory(2, 2, new csRGBpixel[4], true));
}

TEST_F(EngineTest, FindMaterialReturnsTheLastOfAName) {
  auto engine = Make(new Engine);
  csRef<iImage> image = SmallImage();
  iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image.get());
  ASSERT_NE(texture, nullptr);
  iMaterialWrapper* first = engine->CreateMaterial("skin", texture);
  iMaterialWrapper* second = engine->CreateMaterial("skin", nullptr);
  engine->CreateMaterial("other", texture);
  EXPECT_EQ(engine->FindMaterial("skin"), second);
  EXPECT_NE(engine->FindMaterial("skin"), first);
  EXPECT_EQ(engine->FindMaterial("none"), nullptr);
  EXPECT_EQ(engine->FindMaterial(nullptr), nullptr);
  // Made from no texture: no handle, which the module must treat as unusable.
  EXPECT_EQ(second->GetMaterialHandle(), nullptr);
  ASSERT_NE(first->GetMaterialHandle(), nullptr);
  EXPECT_EQ(first->GetMaterialHandle()->GetTexture()->GetImage(), image.get());
  // Handed out without references: the engine's are the only ones.
  EXPECT_EQ(first->GetRefCount(), 1);
  EXPECT_EQ(texture->GetRefCount(), 1);
}

TEST_F(EngineTest, TextureListKeepsTheImageAfterItsCreatorLetsGo) {
  auto engine = Make(new Engine);
  iImage* image = new csImageMemory(2, 2, new csRGBpixel[4], true);
  iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image);
  ASSERT_NE(texture, nullptr);
  image->DecRef();  // what the module does right after NewTexture
  EXPECT_EQ(texture->GetImage()->GetWidth(), 2);
  EXPECT_EQ(texture->GetTextureHandle()->GetImage(), texture->GetImage());
  EXPECT_EQ(engine->GetTextureList()->GetCount(), 1);
  EXPECT_EQ(engine->GetTextureList()->Get(0), texture);
  EXPECT_EQ(engine->GetTextureList()->Get(1), nullptr);
  EXPECT_EQ(engine->GetTextureList()->NewTexture(nullptr), nullptr);
}

TEST_F(EngineTest, LoaderMakesTheStoneTextureAndRefusesOtherPaths) {
  auto engine = Make(new Engine);
  auto loader = Make(new Loader(engine.get()));
  iTextureWrapper* texture =
      loader->LoadTexture("hero.cfg", "/lib/std/stone4.gif", 2, nullptr, false);
  ASSERT_NE(texture, nullptr);
  EXPECT_STREQ(texture->GetName(), "hero.cfg");
  EXPECT_EQ(engine->GetTextureList()->FindByName("hero.cfg"), texture);
  iMaterialWrapper* material = engine->FindMaterial("hero.cfg");
  ASSERT_NE(material, nullptr);
  ASSERT_NE(material->GetMaterialHandle(), nullptr);
  iImage* image = material->GetMaterialHandle()->GetTexture()->GetImage();
  ASSERT_EQ(image, texture->GetImage());
  ASSERT_EQ(image->GetWidth(), 64);
  ASSERT_EQ(image->GetHeight(), 64);
  EXPECT_EQ(image->GetFormat(), CS_IMGFMT_TRUECOLOR);

  // Grey cobbles in dark mortar: every pixel grey and opaque, both present.
  const auto* pixels = static_cast<const csRGBpixel*>(image->GetImageData());
  int mortar = 0, stone = 0;
  for (int i = 0; i < 64 * 64; i++) {
    EXPECT_EQ(pixels[i].red, pixels[i].green);
    EXPECT_EQ(pixels[i].green, pixels[i].blue);
    EXPECT_EQ(pixels[i].alpha, 255);
    mortar += pixels[i].red < 64;
    stone += pixels[i].red > 96;
  }
  EXPECT_GT(mortar, 64 * 64 / 20);
  EXPECT_GT(stone, 64 * 64 / 2);

  EXPECT_EQ(loader->LoadTexture("x", "/lib/std/missing.gif", 2, nullptr, false), nullptr);
  EXPECT_EQ(loader->LoadTexture("x", "stone4.gif", 2, nullptr, false), nullptr);
  EXPECT_EQ(loader->LoadTexture("x", nullptr, 2, nullptr, false), nullptr);
  EXPECT_EQ(engine->FindMaterial("x"), nullptr);
  EXPECT_EQ(engine->GetTextureList()->GetCount(), 1);
}

// ---------------------------------------------------------------------------
// Live-object accounting

TEST_F(EngineTest, LiveCountsFollowEveryInstance) {
  const int before = LiveObjects::Total();
  {
    auto engine = Make(new Engine);
    auto loader = Make(new Loader(engine.get()));
    loader->LoadTexture("a", Loader::kStoneTexture, 0, nullptr, false);
    EXPECT_EQ(LiveObjects::Count("MaterialWrapper"), 1);
    EXPECT_EQ(LiveObjects::Count("MaterialHandle"), 1);
    EXPECT_EQ(LiveObjects::Count("TextureWrapper"), 1);
    EXPECT_EQ(LiveObjects::Count("TextureHandle"), 1);
    EXPECT_EQ(LiveObjects::Count("Engine"), 1);
    // The loader's hold keeps the engine alive after ours is gone.
    engine.reset();
    EXPECT_EQ(LiveObjects::Count("Engine"), 1);
  }
  EXPECT_EQ(LiveObjects::Total(), before);
  EXPECT_EQ(LiveObjects::Count("never-made"), 0);
}

// ---------------------------------------------------------------------------
// The Stage with the real module

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
