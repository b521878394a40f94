// iRigweaveState's bounds, picking, outfits and light through the loaded
// module: the box against the vertices drawn, the engine's culling with it,
// beams against drawn triangles, hidden meshes against what the renderer
// receives, and lit colours against a hand computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/backend_recording.h"
#include "engine/light.h"
#include "host/scf_impl.h"
#include "irigweavestate.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rwengine::RecordedCall;

class Geometry : public rwtest::StageTest {
 protected:
  static csRef<iRigweaveState> Rigweave(iBase* mesh) {
    return csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh));
  }
  csRef<iMeshObject> LoadHero() {
    csRef<iMeshObject> mesh = NewMesh();
    EXPECT_TRUE(LoadQuietly(mesh.get(), "hero.cfg"));
    return mesh;
  }
  // The first draw of each sub-mesh in the last frame (the second is its
  // reversal).
  std::vector<const RecordedCall*> Forward() const {
    std::vector<const RecordedCall*> draws = recorder.Of(RecordedCall::Draw), forward;
    for (size_t i = 0; i < draws.size(); i += 2) forward.push_back(draws[i]);
    return forward;
  }
  std::vector<const RecordedCall*> DrawFrame(iMeshObject* mesh) {
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh));
    return Forward();
  }
};

// The box holds every vertex drawn and each of its six faces touches one.
void ExpectTightBox(const csBox3& box, const std::vector<const RecordedCall*>& draws,
                    const char* where) {
  float low[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF}, high[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
  for (const RecordedCall* call : draws)
    for (const csVector3& v : call->vertices)
      for (int c = 0; c < 3; c++)
        low[c] = std::min(low[c], v[c]), high[c] = std::max(high[c], v[c]);
  for (int c = 0; c < 3; c++) {
    EXPECT_EQ(box.Min()[c], low[c]) << where << ", axis " << c;
    EXPECT_EQ(box.Max()[c], high[c]) << where << ", axis " << c;
  }
}

TEST_F(Geometry, TheBoxFollowsAWalkAndAnActionDrawnOrOnlyAdvanced) {
  csRef<iMeshObject> mesh = LoadHero();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  csBox3 fixed;
  mesh->GetObjectBoundingBox(fixed, 0);
  state->SetBoundsFollow(true);
  ASSERT_TRUE(state->BlendCycle(state->FindAnimation("walk"), 1, 0));
  ASSERT_TRUE(state->PlayAction(state->FindAnimation("wave"), 0.1f, 0.1f, 1));
  for (int frame = 0; frame < 30; frame++) {
    // Drawn: the box of the pose Draw made.
    now += 37;
    const std::vector<const RecordedCall*> drawn = DrawFrame(mesh.get());
    csBox3 box;
    mesh->GetObjectBoundingBox(box, 0);
    ExpectTightBox(box, drawn, "drawn");
    // Advanced only: posed on request, then the same as a draw without
    // time shows.
    ASSERT_TRUE(state->Advance(0.045f));
    mesh->GetObjectBoundingBox(box, 0);
    state->SetDrawAdvances(false);
    ExpectTightBox(box, DrawFrame(mesh.get()), "advanced");
    state->SetDrawAdvances(true);
    csVector3 radius, centre;
    mesh->GetRadius(radius, centre);
    EXPECT_EQ(centre.y, box.GetCenter().y);
  }
  state->SetBoundsFollow(false);
  csBox3 again;
  mesh->GetObjectBoundingBox(again, 0);
  EXPECT_EQ(again.Max().x, fixed.Max().x);
  EXPECT_EQ(again.Min().y, fixed.Min().y);
}

TEST_F(Geometry, TheEngineCullsByTheFollowingBoxOnlyWhenAsked) {
  // The camera looks level at the head: the fixed box (up to y = 1 at the
  // feet's depth) is below the view, the character's head in it.
  stage->GetCamera()->SetTransform(csOrthoTransform(csMatrix3(), csVector3(0, 1.8f, -1.2f)));
  stage->SetCulling(true);
  csRef<iMeshObject> mesh = LoadHero();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  for (bool follow : {false, true, false}) {
    state->SetBoundsFollow(follow);
    recorder.Clear();
    stage->DrawFrame({{mesh.get(), movable.get()}});
    EXPECT_EQ(recorder.CountOf(RecordedCall::Draw) > 0, follow) << follow;
  }
  // Looking away, the following box is culled too.
  stage->GetCamera()->SetTransform(csOrthoTransform(csMatrix3(), csVector3(0, 1.8f, 3)));
  state->SetBoundsFollow(true);
  recorder.Clear();
  stage->DrawFrame({{mesh.get(), movable.get()}});
  EXPECT_EQ(recorder.CountOf(RecordedCall::Draw), 0u);
}

TEST_F(Geometry, ABeamThroughATrianglesCentreHitsItAndOneBesideHitsNothing) {
  csRef<iMeshObject> mesh = LoadHero();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_TRUE(state->BlendCycle(state->FindAnimation("walk"), 1, 0));
  now += 300;
  const std::vector<const RecordedCall*> drawn = DrawFrame(mesh.get());
  ASSERT_EQ(static_cast<int>(drawn.size()), state->GetSubmeshCount());
  csVector3 isect;
  float fraction = -1;
  // Off: the beam tests keep their fixed answer.
  EXPECT_FALSE(mesh->HitBeamObject(csVector3(0, 1, -5), csVector3(0, 1, 5), isect, &fraction));
  state->SetBoundsFollow(true);
  int checked = 0;
  for (int s = 0; s < static_cast<int>(drawn.size()); s++) {
    const RecordedCall& call = *drawn[static_cast<size_t>(s)];
    for (size_t t = 0; t < call.triangles.size(); t += 53) {
      const csTriangle& f = call.triangles[t];
      const csVector3 a = call.vertices[f.a], b = call.vertices[f.b], c = call.vertices[f.c];
      const csVector3 normal = Cross(b - a, c - a);
      if (Norm(normal) < 1e-6f) continue;  // no centre to aim at
      const csVector3 centre = (a + b + c) / 3.0f, step = Unit(normal) * 1e-4f;
      csRigweaveHit hit;
      ASSERT_TRUE(state->HitBeam(centre + step, centre - step, hit)) << s << "/" << t;
      EXPECT_EQ(hit.submesh, s);
      EXPECT_EQ(hit.triangle, static_cast<int>(t));
      EXPECT_LT(Norm(hit.point - centre), 1e-4f);
      checked++;
    }
  }
  EXPECT_GT(checked, 50);
  // Through the body from the front: the nearest hit, on the engine's beam test too.
  ASSERT_TRUE(mesh->HitBeamObject(csVector3(0, 1, -5), csVector3(0, 1, 5), isect, &fraction));
  EXPECT_GT(fraction, 0.0f);
  EXPECT_LT(isect.z, 0.0f);
  csRigweaveHit hit;
  EXPECT_FALSE(state->HitBeam(csVector3(3, 1, -5), csVector3(3, 1, 5), hit));
  EXPECT_FALSE(state->HitBeam(csVector3(0, 1, 0), csVector3(0, 1, 0), hit));
}

TEST_F(Geometry, HidingAMeshRemovesExactlyItsTrianglesForThatCharacterAlone) {
  csRef<iMeshObject> mesh = LoadHero(), other = LoadHero();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_EQ(state->GetMeshCount(), 2);
  const std::vector<const RecordedCall*> all = DrawFrame(mesh.get());  // read before the next frame
  std::vector<std::vector<csTriangle>> before;
  std::vector<iMaterialHandle*> materials;
  for (const RecordedCall* call : all) {
    before.push_back(call->triangles);
    materials.push_back(call->material);
  }
  EXPECT_FALSE(state->SetMeshVisible(2, false));
  EXPECT_FALSE(state->SetMeshVisible(-1, false));
  ASSERT_TRUE(state->SetMeshVisible(1, false));
  EXPECT_FALSE(state->IsMeshVisible(1));
  EXPECT_TRUE(state->IsMeshVisible(0));
  // The gear is the second mesh: its sub-meshes are the last ones drawn.
  const std::vector<const RecordedCall*> shown = DrawFrame(mesh.get());
  ASSERT_LT(shown.size(), before.size());
  ASSERT_GT(shown.size(), 0u);
  for (size_t s = 0; s < shown.size(); s++) {
    ASSERT_EQ(shown[s]->triangles.size(), before[s].size());
    EXPECT_TRUE(std::equal(before[s].begin(), before[s].end(), shown[s]->triangles.begin(),
                           [](const csTriangle& x, const csTriangle& y) {
                             return x.a == y.a && x.b == y.b && x.c == y.c;
                           }));
  }
  // The other character of the model still wears everything.
  EXPECT_EQ(DrawFrame(other.get()).size(), before.size());
  ASSERT_TRUE(state->SetMeshVisible(1, true));
  EXPECT_EQ(DrawFrame(mesh.get()).size(), before.size());
  // Material sets: the configuration's set 0 is known, no other.
  EXPECT_TRUE(state->SetMaterialSet(0));
  EXPECT_FALSE(state->SetMaterialSet(1));
  EXPECT_FALSE(state->SetSubmeshMaterial(0, 6));
  EXPECT_FALSE(state->SetSubmeshMaterial(state->GetSubmeshCount(), 0));
  // Some material of the six dresses sub-mesh 0 otherwise; the others keep theirs.
  bool changed = false;
  for (int material = 0; material < 6; material++) {
    ASSERT_TRUE(state->SetSubmeshMaterial(0, material));
    const std::vector<const RecordedCall*> dressed = DrawFrame(mesh.get());
    changed = changed || dressed[0]->material != materials[0];
    for (size_t s = 1; s < dressed.size(); s++) EXPECT_EQ(dressed[s]->material, materials[s]);
  }
  EXPECT_TRUE(changed);
}

TEST_F(Geometry, LitColoursForALightStraightOnAndAtNinetyDegreesAreAsByHand) {
  rwtest::ModelFolder folder;
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  // A square in the model's z = 0 plane, its normal +z.
  ASSERT_TRUE(folder.WriteMesh("quad.cmf", {rwtest::Quad(csVector3(-5, -5, 0), 10)}));
  folder.WriteFile("quad.cfg", "skeleton = one.csf\nmesh = quad.cmf\n");
  Use(folder);
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "quad.cfg"));
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  EXPECT_FALSE(state->GetLighting());
  EXPECT_FALSE(state->SetAmbientLight({-1, 0, 0}));
  ASSERT_TRUE(state->SetAmbientLight({0.125f, 0.25f, 0.0625f}));
  state->SetLighting(true);
  // Model +z is drawn at (0, -sin(-1.57), cos(-1.57)): the module's turn.
  const float angle = -1.57f;
  const csVector3 normal(0, -std::sin(angle), std::cos(angle));
  const csColor color{0.5f, 0.75f, 1.0f};
  struct Case {
    csVector3 at;
    float facing;
  };
  // Far away, so that every vertex sees the light along one direction.
  for (const Case& lit : {Case{normal * 1e5f, 1.0f}, Case{csVector3(1e5f, 0, 0), 0.0f}}) {
    csRef<rwengine::Light> light =
        csRef<rwengine::Light>::Adopt(new rwengine::Light(lit.at, color));
    iLight* lights[] = {light.get()};
    mesh->UpdateLighting(lights, 1, movable.get());
    const std::vector<const RecordedCall*> drawn = DrawFrame(mesh.get());
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_TRUE(drawn[0]->record.use_vertex_color);
    ASSERT_EQ(drawn[0]->colors.size(), 4u);
    for (const csColor& c : drawn[0]->colors) {
      EXPECT_NEAR(c.red, 0.125f + 0.5f * lit.facing, 1e-4f);
      EXPECT_NEAR(c.green, 0.25f + 0.75f * lit.facing, 1e-4f);
      EXPECT_NEAR(c.blue, 0.0625f + 1.0f * lit.facing, 1e-4f);
    }
  }
  // Off again: white, as without light.
  state->SetLighting(false);
  mesh->UpdateLighting(nullptr, 0, movable.get());
  const std::vector<const RecordedCall*> plain = DrawFrame(mesh.get());
  EXPECT_FALSE(plain[0]->record.use_vertex_color);
  EXPECT_EQ(plain[0]->colors[0].green, 1.0f);
}

}  // namespace
