// Loading a character through iCal3DState: the configuration format as the
// loader acts on it, its messages, the Cal3D state it builds, textures and
// materials, the limits it enforces, and the box mesh.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <fstream>
#include <string>
#include <vector>

#include "engine/materials.h"
#include "formats/cal3d_objects.h"
#include "formats/config.h"
#include "support/cal3d_reference.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/rows.h"
#include "support/stage_fixture.h"
#include "ical3dstate.h"

namespace {

using rwtest::ModelFolder;
using rwtest::Quad;
using rwtest::TestSubmesh;

const std::string kId = kRigweaveClassId;

std::string Line(const std::string& message) {
  return kId + message + "\n";
}

// The engine-space position of a model-space vertex at a given factor.
csVector3 Turned(const csVector3& v, double factor) {
  const float f = static_cast<float>(factor);
  const double angle = -1.57f;
  const float s = static_cast<float>(std::sin(angle)), c = static_cast<float>(std::cos(angle));
  const float x = v.x * f, y = v.y * f, z = v.z * f;
  return csVector3(x, c * y - s * z, s * y + c * z);
}

void ExpectNear(const csVector3& a, const csVector3& b, float tolerance = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

class Loading : public rwtest::StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    Use(folder);
  }
  // A skeleton, one mesh of one quad, and the given extra lines.
  void WriteBasicModel(const std::string& config, const std::vector<TestSubmesh>& submeshes = {
                                                      Quad(csVector3(0, 0, 0), 100)}) {
    ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
    ASSERT_TRUE(folder.WriteMesh("hero.cmf", submeshes));
    folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\n" + config);
  }
  csRef<iPolygonMesh> PolygonsOf(iBase* mesh) {
    return csRef<iPolygonMesh>::Adopt(scfQueryInterface<iPolygonMesh>(mesh));
  }
  // The texture image a material shows.
  static iImage* ImageOf(iMaterialHandle* handle) { return handle->GetTexture()->GetImage(); }

  ModelFolder folder;
};

TEST_F(Loading, ConfigurationLinesPrintAndLoadExactlyAsWritten) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  // Each animation moves the bone its own way, so that the drawing tells
  // which one a name started.
  const char* files[] = {"walk.caf", "wave.old.caf", "jump"};
  const csVector3 ends[] = {csVector3(0, 0, 10), csVector3(10, 0, 0), csVector3(0, 10, 0)};
  for (int i = 0; i < 3; i++) ASSERT_TRUE(folder.WriteAnimation(files[i], 1.0f, ends[i]));
  ASSERT_TRUE(folder.WriteMesh("body.cmf  ", {Quad(csVector3(0, 0, 0), 1)}));
  ASSERT_TRUE(folder.WriteMaterial("skin # red", {"skin.raw"}));
  folder.WriteRawTexture("skin.raw", 1, 1, 3, {200, 100, 50});
  // CR LF and LF lines, blanks, comments, unknown and wrongly cased keys,
  // and a last line without its LF.
  folder.WriteFile("hero.cfg",
                   "# a character\r\n\r\n   \t\r\ncolour = blue\r\nSkeleton = nothing.csf\n"
                   "skeleton = hero.csf\nanimation = walk.caf\r\nanimation=wave.old.caf\r\n"
                   "\tanimation\t=\tjump\nmesh = body.cmf  \nmaterial = skin # red");

  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(printed, Line(": Loading skeleton hero.csf") + Line(": Loading animation walk.caf") +
                         Line(": Loading animation wave.old.caf") +
                         Line(": Loading animation jump") + Line(": Loading mesh body.cmf  ") +
                         Line(": Loading material skin # red"));
  // The three animations, by the names their lines give them, in their order.
  csRef<iCal3DState> state = StateOf(mesh.get());
  for (const char* name : {"walk.caf", "wave", "jump.caf", "Walk", "colour", ""})
    EXPECT_FALSE(state->BlendCycle(name, 0, 1)) << name;
  const char* names[] = {"walk", "wave.old", "jump"};
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(names[i]);
    ASSERT_TRUE(state->ExecuteAction(names[i], 0, 0));
    now += 500;
    recorder.Clear();
    ASSERT_TRUE(DrawOnce(mesh.get()));
    // One sub-mesh, drawn twice, with the one material's texture, its
    // first vertex moved half way towards this animation's end.
    const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0]->material,
              stage->GetEngine()->FindMaterial("skin.raw")->GetMaterialHandle());
    ExpectNear(draws[0]->vertices[0], Turned(ends[i] * 0.5f, 0.02), 1e-6f);
    // The action ends before the next one starts.
    now += 1000;
    ASSERT_TRUE(DrawOnce(mesh.get()));
  }
}

TEST_F(Loading, LinesWithoutLoadingKeysPrintNothingAndNoSkeletonFailsSayingWhy) {
  folder.WriteFile("empty.cfg", "# nothing\n\n  \t\ncolour = red\nSkeleton = x.csf\n= orphan\n");
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("noskeleton.cfg", "mesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = true;
  // Unknown keys are ignored, but the failure they cause names them.
  EXPECT_EQ(LoadPrinting(mesh.get(), "empty.cfg", &loaded),
            Line(": No skeleton in empty.cfg (unknown keys: colour, Skeleton)"));
  // Cal3D cannot make a model instance without a skeleton: the load fails
  // instead of aborting the process.
  EXPECT_FALSE(loaded);
  EXPECT_EQ(LoadPrinting(mesh.get(), "noskeleton.cfg", &loaded),
            Line(": Loading mesh hero.cmf") + Line(": No skeleton before hero.cmf"));
  EXPECT_FALSE(loaded);
  EXPECT_FALSE(DrawOnce(mesh.get()));
  EXPECT_FALSE(Load(mesh.get(), "missing.cfg"));
}

TEST_F(Loading, ModelsAreReadBelowTheRootTheEngineGivesAtEachLoad) {
  WriteBasicModel("");
  ModelFolder other;
  ASSERT_TRUE(other.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(other.WriteMesh("hero.cmf", {Quad(csVector3(0, 0, 0), 100)}));
  other.WriteFile("hero.cfg", "scale = 2\nskeleton = hero.csf\nmesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  // The root in effect when LoadModel runs, however it is written.
  const std::string relative =
      std::filesystem::relative(other.Root(), std::filesystem::current_path()).string();
  for (const auto& [root, maxX] : {std::pair<std::string, float>{folder.Root(), 1.0f},
                                   {other.Root() + "/", 2.0f},
                                   {relative, 2.0f},
                                   {folder.Root() + "//", 1.0f}}) {
    SCOPED_TRACE(root);
    UseRoot(root);
    ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
    EXPECT_FLOAT_EQ(PolygonsOf(mesh.get())->GetVertices()[7].x, maxX);
  }
  UseRoot(other.Root() + "/nothing");
  bool loaded = true;
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded), "");
  EXPECT_FALSE(loaded);
}

struct ScaleRow {
  const char* name;
  std::string lines;
  float maxX;  // 0: the load is refused
  std::string printed;
  friend void PrintTo(const ScaleRow& row, std::ostream* out) { *out << row.name; }
};

class Scale : public Loading, public testing::WithParamInterface<ScaleRow> {};

TEST_P(Scale, ComesFromTheLastScaleLineAndDefaultsToOne) {
  const ScaleRow& c = GetParam();
  csRef<iMeshObject> mesh = NewMesh();
  // Loaded over a model of another scale, which must not show through.
  WriteBasicModel("scale = 7\n");
  ASSERT_TRUE(LoadQuietly(mesh.get(), "hero.cfg"));
  WriteBasicModel(c.lines);
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_EQ(loaded, c.maxX > 0);
  EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
  if (c.printed.empty()) {
    EXPECT_EQ(printed.find("cale"), std::string::npos) << printed;
  }
  if (loaded) {
    EXPECT_FLOAT_EQ(PolygonsOf(mesh.get())->GetVertices()[7].x, c.maxX);
  }
}

// The quad spans 100 model units in x; the box mesh uses scale × 0.01.
INSTANTIATE_TEST_SUITE_P(
    Loading, Scale,
    testing::Values(
        ScaleRow{"none", "", 1.0f, ""}, ScaleRow{"plain", "scale=2.5\n", 2.5f, ""},
        ScaleRow{"blanks", "scale \t=\t 2.5  \n", 2.5f, ""},
        ScaleRow{"last of two", "scale = 3\nscale = 0.5\n", 0.5f, ""},
        // Read as atof reads it, with a line when that is not the whole text.
        ScaleRow{"trailing letter", "scale = 4x\n", 4.0f, Line(": Scale 4x read as 4")},
        ScaleRow{"hexadecimal", "scale = 0x10\n", 16.0f, Line(": Scale 0x10 read as 16")},
        // No finite positive size: refused rather than drawn invisible, upside
        // down or as NaNs.
        ScaleRow{"letters", "scale = abc\n", 0,
                 Line(": Invalid scale abc (not a finite positive number)")},
        ScaleRow{"empty", "scale =\n", 0, Line(": Invalid scale  (not a finite positive number)")},
        ScaleRow{"zero", "scale = 0\n", 0,
                 Line(": Invalid scale 0 (not a finite positive number)")},
        ScaleRow{"negative", "scale = -1\n", 0,
                 Line(": Invalid scale -1 (not a finite positive number)")},
        ScaleRow{"nan", "scale = nan\n", 0,
                 Line(": Invalid scale nan (not a finite positive number)")},
        ScaleRow{"infinite", "scale = inf\n", 0,
                 Line(": Invalid scale inf (not a finite positive number)")},
        ScaleRow{"beyond float", "scale = 1e39\n", 0,
                 Line(": Invalid scale 1e39 (not a finite positive number)")}),
    rwtest::RowName());

TEST_F(Loading, ASyntaxErrorOrAMissingFileFailsTheLoadAndKeepsWhatWasDone) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteAnimation("walk.caf", 1, csVector3(1, 0, 0)));
  ASSERT_TRUE(folder.WriteAnimation("wave.caf", 1, csVector3(1, 0, 0)));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {Quad(csVector3(0, 0, 0), 1)}));
  ASSERT_TRUE(folder.WriteMaterial("skin.crf", {"gone.raw"}));
  folder.WriteFile("syntax.cfg",
                   "skeleton = hero.csf\nanimation = walk.caf\nanimation = wave.caf\n"
                   "mesh hero.cmf\nmaterial = skin.crf\n");
  folder.WriteFile("missing.cfg",
                   "skeleton = hero.csf\nmaterial = skin.crf\nanimation = walk.caf\n"
                   "animation = wave.caf\nmesh = missing.cmf\nmesh = hero.cmf\n");

  for (const char* name : {"syntax.cfg", "missing.cfg"}) {
    SCOPED_TRACE(name);
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = true;
    const std::string printed = LoadPrinting(mesh.get(), name, &loaded);
    EXPECT_FALSE(loaded);
    // The lines before the failure were acted on, none after it, and no
    // texture is read.
    EXPECT_NE(printed.find(Line(": Loading animation wave.caf")), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Can't load texture"), std::string::npos);
    EXPECT_EQ(printed.find("hero.cmf"), std::string::npos);
    // No box was measured: the polygon view serves one of zero size.
    ExpectNear(PolygonsOf(mesh.get())->GetVertices()[0], csVector3(0, 0, 0), 0);
    ExpectNear(PolygonsOf(mesh.get())->GetVertices()[7], csVector3(0, 0, 0), 0);
    // The default material was made before the configuration was read.
    EXPECT_NE(stage->GetEngine()->FindMaterial(name), nullptr);
    // Nothing was created that animation calls or a draw could reach.
    csRef<iCal3DState> state = StateOf(mesh.get());
    for (const char* animation : {"walk", "wave"}) {
      EXPECT_FALSE(state->SetCycle(animation, 1, 1, 1));
      EXPECT_FALSE(state->ExecuteAction(animation, 1, 1));
      EXPECT_FALSE(state->BlendCycle(animation, 1, 1));
      EXPECT_FALSE(state->ClearCycle(animation, 1));
    }
    recorder.Clear();
    EXPECT_FALSE(DrawOnce(mesh.get()));
    EXPECT_EQ(recorder.CountOf(rwengine::RecordedCall::Draw), 0u);
  }
}

TEST_F(Loading, EveryMeshIsAttachedAndEverySubmeshGetsARecord) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  std::vector<TestSubmesh> two(2, Quad(csVector3(0, 0, 0), 1)), one(1, Quad(csVector3(0, 0, 0), 1)),
      four(4, Quad(csVector3(0, 0, 0), 1));
  ASSERT_TRUE(folder.WriteMesh("a.cmf", two));
  ASSERT_TRUE(folder.WriteMesh("b.cmf", one));
  ASSERT_TRUE(folder.WriteMesh("c.cmf", four));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = a.cmf\nmesh = b.cmf\nmesh = c.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  // Drawn without DrawTest first, so that what the frame does not set shows
  // as the load left it: zeroed.
  stage->GetCamera()->SetMirrored(true);
  stage->GetView()->SetClipping(3, 5, 7);
  recorder.Clear();
  ASSERT_TRUE(stage->GetGraphics()->BeginDraw());
  ASSERT_TRUE(mesh->Draw(stage->GetView(), movable.get(), CS_ZBUF_USE));
  stage->GetGraphics()->FinishDraw();
  const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
  ASSERT_EQ(draws.size(), 14u);
  for (const auto* draw : draws) {
    EXPECT_EQ(draw->record.buffers[1], nullptr);
    EXPECT_FALSE(draw->record.do_mirror);
    EXPECT_EQ(draw->record.clip_portal + draw->record.clip_plane + draw->record.clip_z_plane, 0);
  }
  // One record of its own for each of the seven sub-meshes.
  std::set<const G3DTriangleMesh*> records;
  for (const auto* fog : recorder.Of(rwengine::RecordedCall::Fog)) records.insert(fog->fogRecord);
  EXPECT_EQ(records.size(), 7u);
}

TEST_F(Loading, ASubmeshOfMaterialThreadNIsDrawnWithTheNthMaterialLine) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(
      folder.WriteMesh("hero.cmf", {Quad(csVector3(0, 0, 0), 1, 2), Quad(csVector3(0, 0, 0), 1, 0),
                                    Quad(csVector3(0, 0, 0), 1, 1)}));
  const char* maps[] = {"a.raw", "b.raw", "c.raw"};
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(folder.WriteMaterial("m" + std::to_string(i) + ".crf", {maps[i]}));
    folder.WriteRawTexture(
        maps[i], 1, 1, 3,
        {uint8_t(i == 0 ? 255 : 0), uint8_t(i == 1 ? 255 : 0), uint8_t(i == 2 ? 255 : 0)});
  }
  folder.WriteFile("hero.cfg",
                   "skeleton = hero.csf\nmaterial = m0.crf\nmaterial = m1.crf\nmaterial = m2.crf\n"
                   "mesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  ASSERT_TRUE(DrawOnce(mesh.get()));

  std::vector<std::string> drawnWith;
  for (const auto* call : recorder.Of(rwengine::RecordedCall::Draw)) {
    std::string name = "?";
    for (int i = 0; i < stage->GetEngine()->GetMaterialCount(); i++)
      if (stage->GetEngine()->GetMaterial(i)->GetMaterialHandle() == call->material)
        name = stage->GetEngine()->GetMaterial(i)->GetName();
    drawnWith.push_back(name);
  }
  EXPECT_EQ(drawnWith,
            (std::vector<std::string>{"c.raw", "c.raw", "a.raw", "a.raw", "b.raw", "b.raw"}));
}

TEST_F(Loading, AnEqualsFollowedByBlanksIsAnEmptyValue) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh =   \t\n");
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = true;
  // The empty value names the models folder itself, which is not a file.
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded),
            Line(": Loading skeleton hero.csf") + Line(": Loading mesh ") +
                Line(": Can't read  (a folder, not a file)"));
  EXPECT_FALSE(loaded);
}

TEST_F(Loading, MoreThanTwentyAnimationsAreRefusedWithoutOverrun) {
  std::string config = "skeleton = hero.csf\nmesh = hero.cmf\n";
  for (int i = 0; i < 21; i++) {
    const std::string name = "a" + std::to_string(i) + ".caf";
    ASSERT_TRUE(folder.WriteAnimation(name, 1, csVector3(0, 0, 1)));
    config += "animation = " + name + "\n";
  }
  WriteBasicModel("");
  folder.WriteFile("hero.cfg", config);
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = true;
  const std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_NE(
      printed.find(Line(": Loading animation a19.caf") + Line(": Too many animations a20.caf")),
      std::string::npos);
  EXPECT_EQ(printed.find("Loading animation a20.caf"), std::string::npos);
  EXPECT_FALSE(StateOf(mesh.get())->SetCycle("a19", 0, 0, 1));

  // Twenty is fine, and each of them answers to its name.
  config.erase(config.rfind("animation = a20.caf"));
  folder.WriteFile("hero.cfg", config);
  EXPECT_TRUE(Load(mesh.get(), "hero.cfg"));
  for (int i = 0; i < 20; i++)
    EXPECT_TRUE(StateOf(mesh.get())->ClearCycle(("a" + std::to_string(i)).c_str(), 0)) << i;
  EXPECT_FALSE(StateOf(mesh.get())->ClearCycle("a20", 0));
}

TEST_F(Loading, ModelsBeyondTheDrawingLimitsAreRefusedNamingTheLimit) {
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = true;

  WriteBasicModel("", std::vector<TestSubmesh>(101, Quad(csVector3(0, 0, 0), 1)));
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded),
            Line(": Loading skeleton hero.csf") + Line(": Loading mesh hero.cmf") +
                Line(": Too many sub-meshes 101 (at most 100)"));
  EXPECT_FALSE(loaded);
  WriteBasicModel("", std::vector<TestSubmesh>(100, Quad(csVector3(0, 0, 0), 1)));
  EXPECT_TRUE(Load(mesh.get(), "hero.cfg"));
  EXPECT_TRUE(DrawOnce(mesh.get()));

  TestSubmesh wide;
  for (int i = 0; i < 30001; i++) wide.vertices.emplace_back(float(i % 100), float(i / 100), 0.f);
  wide.faces = {{0, 1, 2}};
  WriteBasicModel("", {wide});
  std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_NE(printed.find(Line(": Too many vertices in a sub-mesh 30001 (at most 30000)")),
            std::string::npos);
  wide.vertices.pop_back();
  WriteBasicModel("", {wide});
  EXPECT_TRUE(Load(mesh.get(), "hero.cfg"));
  EXPECT_TRUE(DrawOnce(mesh.get()));

  TestSubmesh dense = Quad(csVector3(0, 0, 0), 1);
  dense.faces.assign(50001, {0, 1, 2});
  WriteBasicModel("", {dense});
  printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_NE(printed.find(Line(": Too many faces in a sub-mesh 50001 (at most 50000)")),
            std::string::npos);
  dense.faces.pop_back();
  WriteBasicModel("", {dense});
  EXPECT_TRUE(Load(mesh.get(), "hero.cfg"));
  EXPECT_TRUE(DrawOnce(mesh.get()));
}

TEST_F(Loading, ASecondLoadReplacesTheCharacterWhole) {
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  for (const char* name : {"walk.caf", "wave.caf", "jump.caf"})
    ASSERT_TRUE(folder.WriteAnimation(name, 1, csVector3(0, 0, 1)));
  ASSERT_TRUE(
      folder.WriteMesh("two.cmf", std::vector<TestSubmesh>(2, Quad(csVector3(0, 0, 0), 1))));
  ASSERT_TRUE(folder.WriteMesh("one.cmf", {Quad(csVector3(0, 0, 0), 300)}));
  folder.WriteFile("a.cfg",
                   "scale = 3\nskeleton = hero.csf\nanimation = walk.caf\nanimation = wave.caf\n"
                   "mesh = two.cmf\n");
  folder.WriteFile("b.cfg", "skeleton = hero.csf\nanimation = jump.caf\nmesh = one.cmf\n");

  csRef<iMeshObject> mesh = NewMesh();
  csRef<iCal3DState> state = StateOf(mesh.get());
  ASSERT_TRUE(Load(mesh.get(), "a.cfg"));
  ASSERT_TRUE(state->BlendCycle("wave", 0, 1));
  now += 300;
  ASSERT_TRUE(DrawOnce(mesh.get()));
  ASSERT_TRUE(Load(mesh.get(), "b.cfg"));
  rwtest::ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(folder.Root(), "b.cfg"));
  // Only b's names, its scale and its one sub-mesh.
  EXPECT_FALSE(state->SetCycle("walk", 1, 1, 1));
  EXPECT_FALSE(state->SetCycle("wave", 1, 1, 1));
  EXPECT_TRUE(state->SetCycle("jump", 1, 1, 1));
  reference.Mixer().clearCycle(0, 1.0f);
  reference.Mixer().blendCycle(0, 1.0f, 1.0f);
  EXPECT_FLOAT_EQ(PolygonsOf(mesh.get())->GetVertices()[7].x, 3.0f);
  // Nothing of a's animation runs on: the drawing is Cal3D's for b alone,
  // with b's default material.
  for (csTicks step : {0u, 400u, 400u}) {
    now += step;
    recorder.Clear();
    ASSERT_TRUE(DrawOnce(mesh.get()));
    reference.Advance(step);
    EXPECT_EQ(rwtest::Mismatches(rwtest::DrawnSubmeshes(recorder), reference.Vertices()), 0);
    const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0]->material, stage->GetEngine()->FindMaterial("b.cfg")->GetMaterialHandle());
  }

  // A failed second load leaves the object as a fresh object's failed load would.
  EXPECT_FALSE(Load(mesh.get(), "missing.cfg"));
  EXPECT_FALSE(state->SetCycle("jump", 1, 1, 1));
  EXPECT_FALSE(state->ClearCycle("jump", 1));
  recorder.Clear();
  EXPECT_FALSE(DrawOnce(mesh.get()));
  EXPECT_EQ(recorder.CountOf(rwengine::RecordedCall::Draw), 0u);
  ExpectNear(PolygonsOf(mesh.get())->GetVertices()[7], csVector3(0, 0, 0), 0);
}

TEST_F(Loading, EveryMapGetsAMaterialOfItsFileOrANullWithAMessage) {
  ASSERT_TRUE(folder.WriteMaterial("twice.crf", {"skin.raw", "skin.raw"}));
  ASSERT_TRUE(folder.WriteMaterial("gone.crf", {"gone.raw"}));
  ASSERT_TRUE(folder.WriteMaterial("bad.crf", {"bad.raw", "short.raw", "rgba.raw"}));
  folder.WriteRawTexture("skin.raw", 1, 2, 3, {10, 20, 30, 40, 50, 60});
  folder.WriteRawTexture("bad.raw", 1, 1, 2, {1, 2});
  folder.WriteRawTexture("short.raw", 4, 4, 3, {1, 2, 3});
  folder.WriteRawTexture("rgba.raw", 1, 1, 4, {1, 2, 3, 4});
  // One sub-mesh of each material.
  WriteBasicModel("material = twice.crf\nmaterial = gone.crf\nmaterial = bad.crf\n",
                  {Quad(csVector3(0, 0, 0), 100, 0), Quad(csVector3(0, 0, 0), 100, 1),
                   Quad(csVector3(0, 0, 0), 100, 2)});

  rwengine::Engine* engine = stage->GetEngine();
  const int materialsBefore = engine->GetMaterialCount();
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  EXPECT_TRUE(loaded);
  EXPECT_NE(
      printed.find(Line(": Can't load texture gone.raw") + Line(": Can't load texture bad.raw") +
                   Line(": Can't load texture short.raw")),
      std::string::npos)
      << printed;

  // The fallback, then one material per texture file read, however many
  // maps name it: skin once for both of twice's maps, and rgba.
  std::vector<std::string> made;
  for (int i = materialsBefore; i < engine->GetMaterialCount(); i++)
    made.push_back(engine->GetMaterial(i)->GetName());
  EXPECT_EQ(made, (std::vector<std::string>{"hero.cfg", "skin.raw", "rgba.raw"}));

  // A sub-mesh shows its material's first map, or the fallback when that
  // map did not load.
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const auto draws = recorder.Of(rwengine::RecordedCall::Draw);
  ASSERT_EQ(draws.size(), 6u);
  iMaterialHandle* skin = engine->FindMaterial("skin.raw")->GetMaterialHandle();
  iMaterialHandle* fallback = engine->FindMaterial("hero.cfg")->GetMaterialHandle();
  EXPECT_EQ(draws[0]->material, skin);
  EXPECT_EQ(draws[2]->material, fallback);
  EXPECT_EQ(draws[4]->material, fallback);

  // Rows come out in reverse file order, alpha opaque unless the file has it.
  auto* pixels = static_cast<const csRGBpixel*>(ImageOf(skin)->GetImageData());
  EXPECT_EQ((std::vector<int>{pixels[0].red, pixels[0].green, pixels[0].blue, pixels[0].alpha,
                              pixels[1].red, pixels[1].green, pixels[1].blue, pixels[1].alpha}),
            (std::vector<int>{40, 50, 60, 255, 10, 20, 30, 255}));
  auto* rgba = static_cast<const csRGBpixel*>(
      ImageOf(engine->FindMaterial("rgba.raw")->GetMaterialHandle())->GetImageData());
  EXPECT_EQ(rgba[0].alpha, 4);
}

TEST_F(Loading, AModelWithoutMaterialsReadsNoTexture) {
  WriteBasicModel("");
  const int texturesBefore = stage->GetEngine()->GetTextures()->GetCount();
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded),
            Line(": Loading skeleton hero.csf") + Line(": Loading mesh hero.cmf"));
  EXPECT_TRUE(loaded);
  // The fallback's texture only.
  EXPECT_EQ(stage->GetEngine()->GetTextures()->GetCount(), texturesBefore + 1);
  EXPECT_FLOAT_EQ(PolygonsOf(mesh.get())->GetVertices()[7].x, 1.0f);
}

TEST_F(Loading, BoxMeshIsTheTurnedBoxOfTheRestPose) {
  TestSubmesh points;
  points.vertices = {csVector3(1, 2, 3), csVector3(0, 0, 0), csVector3(-2, 1, 0.5f)};
  points.faces = {{0, 1, 2}};
  WriteBasicModel("scale = 100\n", {points, Quad(csVector3(0, 0, 0), 0.5f)});
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  csRef<iPolygonMesh> polygons = PolygonsOf(mesh.get());
  const csVector3* corners = polygons->GetVertices();

  // With scale 100 the factor is exactly 1. Turned by -1.57 about x
  // (y' = 0.00079627 y + 0.9999997 z, z' = -0.9999997 y + 0.00079627 z),
  // the points span x from -2 to 1, y' from 0 (the origin) to 3.0015917 and
  // z' from -1.9976106 (both from (1, 2, 3)) to 0; the quad lies inside.
  const float x0 = -2, x1 = 1, y0 = 0, y1 = 3.0015917f, z0 = -1.9976106f, z1 = 0;
  // Corner i takes x from bit 2, y from bit 1 and z from bit 0: maximum when set.
  const csVector3 expected[8] = {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z0}, {x0, y1, z1},
                                 {x1, y0, z0}, {x1, y0, z1}, {x1, y1, z0}, {x1, y1, z1}};
  for (int i = 0; i < 8; i++) {
    SCOPED_TRACE(i);
    ExpectNear(corners[i], expected[i]);
  }

  // Six faces of four corners each, every one facing away from the centre.
  const csVector3 centre = (corners[0] + corners[7]) / 2;
  ASSERT_EQ(polygons->GetPolygonCount(), 6);
  for (int p = 0; p < 6; p++) {
    const csMeshedPolygon& polygon = polygons->GetPolygons()[p];
    ASSERT_EQ(polygon.num_vertices, 4);
    for (int j = 0; j < 4; j++) ASSERT_TRUE(polygon.vertices[j] >= 0 && polygon.vertices[j] < 8);
    const csVector3 a = corners[polygon.vertices[0]], b = corners[polygon.vertices[1]],
                    c = corners[polygon.vertices[2]];
    EXPECT_GT(Dot(Cross(b - a, c - b), a - centre), 0) << "polygon " << p;
  }
}

TEST_F(Loading, ASubmeshWithoutVerticesLeavesTheBoxEmpty) {
  TestSubmesh none;
  WriteBasicModel("", {none});
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
  const csVector3* corners = PolygonsOf(mesh.get())->GetVertices();
  ExpectNear(corners[0], csVector3(1e9f, 1e9f, 1e9f), 1);
  ExpectNear(corners[7], csVector3(-1e9f, -1e9f, -1e9f), 1);
  ExpectNear(corners[5], csVector3(-1e9f, 1e9f, -1e9f), 1);
}

TEST_F(Loading, GeometricQueriesHaveFixedAnswers) {
  csRef<iMeshObject> mesh = NewMesh();
  for (bool loaded : {false, true}) {
    if (loaded) {
      WriteBasicModel("scale = 7\n");
      ASSERT_TRUE(Load(mesh.get(), "hero.cfg"));
    }
    for (int type : {0, 1, 2, 99}) {
      csBox3 box(csVector3(5, 5, 5), csVector3(6, 6, 6));
      mesh->GetObjectBoundingBox(box, type);
      ExpectNear(box.Min(), csVector3(-1, -1, 0), 0);
      ExpectNear(box.Max(), csVector3(1, 1, 0), 0);
    }
    csVector3 radius(9, 9, 9), centre(9, 9, 9);
    mesh->GetRadius(radius, centre);
    ExpectNear(radius, csVector3(1, 1, 0), 0);
    ExpectNear(centre, csVector3(0, 0, 0), 0);

    csVector3 isect(7, 7, 7);
    float pr = 42;
    EXPECT_FALSE(mesh->HitBeamOutline(csVector3(0, 0, -5), csVector3(0, 0, 5), isect, &pr));
    EXPECT_FALSE(mesh->HitBeamObject(csVector3(0, 0, -5), csVector3(0, 0, 5), isect, &pr));
    ExpectNear(isect, csVector3(7, 7, 7), 0);
    EXPECT_EQ(pr, 42);
  }
}

class SampleCharacter : public rwtest::StageTest {};

TEST_F(SampleCharacter, LoadsWithEveryMapTexturedAndABoxAroundItsRestPose) {
  // The stage reads below the build folder, where the build generated models/.
  const std::string models = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
  const std::vector<uint8_t> config = rwtest::ReadBytes(models + "hero.cfg");
  ASSERT_FALSE(config.empty()) << "models/hero.cfg is made by the build";
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "hero.cfg", &loaded);
  ASSERT_TRUE(loaded) << printed;
  EXPECT_NE(printed.find(Line(": Loading skeleton hero.csf")), std::string::npos) << printed;
  EXPECT_NE(printed.find(Line(": Loading animation walk.caf")), std::string::npos);
  EXPECT_EQ(printed.find("Can't load texture"), std::string::npos) << printed;

  // Every map of every material became a material of the engine.
  int maps = 0;
  for (const std::string& file :
       rigweave::ParseConfig(config).Values(rigweave::ConfigKey::Material)) {
    std::vector<uint8_t> bytes = rwtest::ReadBytes(models + file);
    CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
    ASSERT_TRUE(material) << file;
    for (int j = 0; j < material->getMapCount(); j++, maps++)
      EXPECT_NE(stage->GetEngine()->FindMaterial(material->getMapFilename(j).c_str()), nullptr)
          << file << " map " << j;
  }
  EXPECT_GE(maps, 3);

  // The box holds every vertex of the rest pose, as Cal3D has it.
  const csVector3* corners =
      csRef<iPolygonMesh>::Adopt(scfQueryInterface<iPolygonMesh>(mesh.get()))->GetVertices();
  csBox3 box(corners[0], corners[7]);
  rwtest::ReferenceCharacter reference;
  ASSERT_TRUE(reference.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  int checked = 0;
  for (const std::vector<csVector3>& submesh : reference.Vertices(0.01))
    for (const csVector3& v : submesh) {
      ASSERT_TRUE(box.In(v) || Norm(v - box.Min()) < 1e-4f || Norm(v - box.Max()) < 1e-4f)
          << v.x << " " << v.y << " " << v.z;
      checked++;
    }
  EXPECT_GT(checked, 1000);
  // And no more: each side touches a vertex.
  csBox3 rest;
  for (const std::vector<csVector3>& submesh : reference.Vertices(0.01))
    for (const csVector3& v : submesh) rest.AddBoundingVertex(v);
  ExpectNear(box.Min(), rest.Min(), 1e-4f);
  ExpectNear(box.Max(), rest.Max(), 1e-4f);
}

}  // namespace
