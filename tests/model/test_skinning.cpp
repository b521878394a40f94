// The skinning unit: its refusals, its lanes against the plain loop, and
// the vertices the loaded module draws against Cal3D's own on every
// generated character, on every instruction set this processor has.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "ical3dstate.h"
#include "render/engine_space.h"
#include "render/lighting_job.h"
#include "render/skinning_job.h"
#include "support/cal3d_reference.h"
#include "support/model_folder.h"
#include "support/output.h"

namespace {

using rigweave::SkinningBone;
using rigweave::SkinningInfluence;
using rigweave::SkinningIsa;
using rigweave::SkinningJob;
using rigweave::SkinningLayout;
using rigweave::SkinningVertex;

std::vector<SkinningIsa> SupportedIsas() {
  std::vector<SkinningIsa> isas;
  for (SkinningIsa isa :
       {SkinningIsa::Scalar, SkinningIsa::Sse2, SkinningIsa::Avx2, SkinningIsa::Avx512})
    if (rigweave::SkinningIsaSupported(isa)) isas.push_back(isa);
  return isas;
}

// ------------------------------------------------------------- the unit alone

// Vertices with 0 to `most` influences each, over `bones` bones.
struct Shape {
  std::vector<SkinningVertex> vertices;
  std::vector<std::vector<SkinningInfluence>> influences;
};

// `count` vertices at random places; fill(i, random, list) gives vertex i
// its influences.
template <class Fill>
Shape MakeShape(int count, unsigned seed, Fill fill) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> coordinate(-100, 100);
  Shape shape;
  shape.vertices.resize(static_cast<size_t>(count));
  shape.influences.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) {
    SkinningVertex& vertex = shape.vertices[static_cast<size_t>(i)];
    for (float& c : vertex.position) c = coordinate(random);
    for (float& c : vertex.normal) c = coordinate(random) / 100;
    auto& list = shape.influences[static_cast<size_t>(i)];
    fill(i, random, list);
    vertex.influences = {list.data(), list.size()};
  }
  return shape;
}

Shape RandomShape(int count, int bones, int most, unsigned seed) {
  return MakeShape(count, seed, [&](int, std::mt19937& random, auto& list) {
    std::uniform_real_distribution<float> weight(0, 1);
    list.resize(random() % static_cast<unsigned>(most + 1));
    for (SkinningInfluence& influence : list)
      influence = {static_cast<int32_t>(random() % static_cast<unsigned>(bones)), weight(random)};
  });
}

std::vector<SkinningBone> RandomPalette(int bones, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(-2, 2);
  std::vector<SkinningBone> palette(static_cast<size_t>(bones));
  for (SkinningBone& bone : palette)
    for (auto& row : bone.rows)
      for (float& v : row) v = value(random);
  return palette;
}

SkinningJob JobFor(const SkinningLayout& layout, const std::vector<SkinningBone>& palette,
                   std::vector<float>& output, int count, SkinningIsa isa) {
  SkinningJob job;
  job.layout = &layout;
  job.bones = palette;
  job.vertexCount = count;
  job.scale = 0.02f;
  job.turnSine = rigweave::GetAxisTurn().sine;
  job.turnCosine = rigweave::GetAxisTurn().cosine;
  job.axisFactors[1] = 0.5f;
  job.isa = isa;
  job.output = output;
  return job;
}

TEST(SkinningJob, RefusesWhatItCannotDoAndTouchesNothingThen) {
  const Shape shape = RandomShape(20, 4, 3, 1);
  SkinningLayout layout;
  ASSERT_TRUE(layout.Build(shape.vertices, 4));
  const std::vector<SkinningBone> palette = RandomPalette(layout.BonesNeeded(), 2);
  std::vector<float> output(60, 7.0f);
  const SkinningJob good = JobFor(layout, palette, output, 20, SkinningIsa::Scalar);
  ASSERT_TRUE(good.Validate());

  std::vector<float> normals(60);
  std::vector<csColor> colors(20);
  std::vector<SkinningJob> bad(9, good);
  bad[0].layout = nullptr;
  bad[1].vertexCount = 21;  // more than the layout holds
  bad[2].vertexCount = -1;
  bad[3].output.size = 59;  // one float short
  bad[4].bones.size = static_cast<size_t>(layout.BonesNeeded()) - 1;
  bad[5].bones.data = nullptr;
  bad[6].colorOutput = colors;  // colours are lit from the normals: none asked
  bad[7].normalOutput = normals;
  bad[7].colorOutput = {colors.data(), 19};
  std::vector<rigweave::VertexLight> lights(rigweave::LightSetting::kMaxLights + 1);
  bad[8].normalOutput = normals;
  bad[8].colorOutput = colors;
  bad[8].lighting.lights = lights;
  for (const SkinningJob& job : bad) {
    EXPECT_FALSE(job.Validate());
    EXPECT_FALSE(job.Run());
  }
  for (SkinningIsa isa : {SkinningIsa::Sse2, SkinningIsa::Avx2, SkinningIsa::Avx512}) {
    SkinningJob job = good;
    job.isa = isa;
    EXPECT_EQ(job.Validate(), rigweave::SkinningIsaSupported(isa)) << SkinningIsaName(isa);
  }
  EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](float v) { return v == 7.0f; }));

  // A level of detail keeps fewer vertices: nothing past them is written.
  for (SkinningIsa isa : SupportedIsas()) {
    std::fill(output.begin(), output.end(), 7.0f);
    std::vector<float> shortOutput(output.begin(), output.begin() + 3 * 13);
    SkinningJob job = JobFor(layout, palette, shortOutput, 13, isa);
    ASSERT_TRUE(job.Run());
    EXPECT_TRUE(
        std::none_of(shortOutput.begin(), shortOutput.end(), [](float v) { return v == 7.0f; }));
  }
}

TEST(SkinningJob, LayoutRefusesBonesOutsideTheSkeletonAndHugeInfluenceLists) {
  Shape shape = RandomShape(9, 4, 2, 3);
  SkinningLayout layout;
  EXPECT_TRUE(layout.Build(shape.vertices, 4));
  EXPECT_GT(layout.Bytes(), 0u);
  shape.influences[8] = {{4, 1.0f}};
  shape.vertices[8].influences = {shape.influences[8].data(), 1};
  EXPECT_FALSE(layout.Build(shape.vertices, 4));
  EXPECT_EQ(layout.VertexCount(), 0);
  shape.influences[8] = {{-1, 1.0f}};
  shape.vertices[8].influences = {shape.influences[8].data(), 1};
  EXPECT_FALSE(layout.Build(shape.vertices, 4));
  shape.influences[8].assign(256, {0, 0.1f});
  shape.vertices[8].influences = {shape.influences[8].data(), 256};
  EXPECT_FALSE(layout.Build(shape.vertices, 4));
  shape.influences[8].resize(255);
  shape.vertices[8].influences = {shape.influences[8].data(), 255};
  EXPECT_TRUE(layout.Build(shape.vertices, 4));
  // Bone ids are kept in 16 bits: the highest that fits, and one past it.
  shape.influences[8] = {{65535, 1.0f}};
  shape.vertices[8].influences = {shape.influences[8].data(), 1};
  EXPECT_TRUE(layout.Build(shape.vertices, 65537));
  shape.influences[8] = {{65536, 1.0f}};
  EXPECT_FALSE(layout.Build(shape.vertices, 65537));
}

TEST(SkinningJob, InstructionSetsAreKnownByTheirOwnNamesAlone) {
  for (SkinningIsa isa :
       {SkinningIsa::Scalar, SkinningIsa::Sse2, SkinningIsa::Avx2, SkinningIsa::Avx512}) {
    SkinningIsa read = isa == SkinningIsa::Scalar ? SkinningIsa::Avx2 : SkinningIsa::Scalar;
    EXPECT_TRUE(rigweave::SkinningIsaFromName(SkinningIsaName(isa), read)) << SkinningIsaName(isa);
    EXPECT_EQ(read, isa) << SkinningIsaName(isa);
  }
  for (const char* other :
       {"", "AVX2", "neon", "sse", "avx2 ", "avx512f", static_cast<const char*>(nullptr)}) {
    SkinningIsa read = SkinningIsa::Sse2;
    EXPECT_FALSE(rigweave::SkinningIsaFromName(other, read)) << (other ? other : "null");
    EXPECT_EQ(read, SkinningIsa::Sse2) << (other ? other : "null");
  }
}

// Every wider kernel gives the plain loop's bits, whatever mix of influence
// counts a group of lanes holds and however many vertices the last group has
// (AVX-512 takes two groups at a time, of different slot counts). Positions,
// and the normals and box when asked, on every set as the plain loop gives
// them; the box is exactly the positions' bounds.
TEST(SkinningJob, EveryInstructionSetGivesThePlainLoopsBits) {
  for (int count : {1, 3, 4, 5, 8, 9, 16, 17, 300}) {
    for (int most : {1, 4, 9}) {
      // One bone: every slot's lanes share it, which the kernels read once.
      const int bones = most == 4 ? 1 : 5;
      const Shape shape = RandomShape(count, bones, most, static_cast<unsigned>(count * 31 + most));
      SkinningLayout layout;
      ASSERT_TRUE(layout.Build(shape.vertices, 5));
      std::vector<SkinningBone> palette = RandomPalette(5, static_cast<unsigned>(count));
      // Values whose rounding the order of operations shows, and signed zeros.
      palette[0].rows[1][3] = 1e30f;
      palette[1] = SkinningBone{};
      const size_t floats = 3 * static_cast<size_t>(count);
      std::vector<float> expected(floats), expectedNormals(floats);
      ASSERT_TRUE(JobFor(layout, palette, expected, count, SkinningIsa::Scalar).Run());
      SkinningJob scalarNormals = JobFor(layout, palette, expected, count, SkinningIsa::Scalar);
      scalarNormals.normalOutput = expectedNormals;
      ASSERT_TRUE(scalarNormals.Run());
      float bounds[6] = {HUGE_VALF, HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
      for (size_t i = 0; i < floats; i++) {
        bounds[i % 3] = std::min(bounds[i % 3], expected[i]);
        bounds[3 + i % 3] = std::max(bounds[3 + i % 3], expected[i]);
      }
      for (SkinningIsa isa : SupportedIsas()) {
        std::vector<float> output(floats), normals(floats);
        ASSERT_TRUE(JobFor(layout, palette, output, count, isa).Run());
        EXPECT_EQ(std::memcmp(output.data(), expected.data(), floats * sizeof(float)), 0)
            << SkinningIsaName(isa) << ", " << count << " vertices, up to " << most;
        SkinningJob both = JobFor(layout, palette, output, count, isa);
        float box[6] = {HUGE_VALF, HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
        both.normalOutput = normals;
        both.box = box;
        ASSERT_TRUE(both.Run());
        EXPECT_EQ(std::memcmp(output.data(), expected.data(), floats * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(normals.data(), expectedNormals.data(), floats * sizeof(float)), 0)
            << SkinningIsaName(isa) << " normals, " << count << " vertices, up to " << most;
        EXPECT_EQ(std::memcmp(box, bounds, sizeof box), 0) << SkinningIsaName(isa) << " box";
      }
    }
  }
}

// Influence counts that change from one vertex to the next (1, 4, 1, 2, 3,
// 1, 0, ...) over a few bones, broken by runs of neighbours that share
// their bones, over more than one window of the layout: the layout keeps
// the runs as groups and sorts the rest by bones, so that most groups are
// not neighbours and their lanes go back to their places one by one.
Shape MixedShape(int count, unsigned seed) {
  const int pattern[] = {1, 4, 1, 2, 3, 1, 0, 1, 2, 1};
  return MakeShape(count, seed, [&](int i, std::mt19937& random, auto& list) {
    std::uniform_real_distribution<float> weight(0, 1);
    // Runs of 11 and 19 vertices, neither starting on a group of eight.
    const bool run = (i >= 29 && i < 40) || (i >= 203 && i < 222) || (i >= 250 && i < 269);
    list.resize(run ? 2 : static_cast<size_t>(pattern[i % 10]));
    for (size_t k = 0; k < list.size(); k++)
      list[k] = {run ? static_cast<int32_t>(k + 1) : static_cast<int32_t>(random() % 3),
                 weight(random)};
  });
}

// Every vertex count from 0 to the whole, as a level of detail asks: each
// set writes each vertex below the count exactly as a layout of that vertex
// alone gives it (the plain loop, no grouping), its normal too, widens the
// box by exactly those positions and writes nothing past them.
// Two lights of the kinds that take the most arithmetic.
rigweave::LightSetting Lighting() {
  static const rigweave::VertexLight lights[] = {
      {csVector3(0.5f, 1.0f, -0.5f), {1.0f, 0.5f, 0.25f}, CS_ATTN_REALISTIC, 0.0f},
      {csVector3(-1.0f, 0.0f, 2.0f), {0.25f, 1.0f, 0.5f}, CS_ATTN_LINEAR, 4.0f}};
  rigweave::LightSetting setting;
  setting.lights = {lights, 2};
  setting.ambient = {0.25f, 0.125f, 0.5f};
  setting.diffuse = {0.5f, 1.0f, 0.75f};
  return setting;
}

// The colours a skinning job gave its first `count` vertices are the
// lighting job's of the same positions and normals, and none past them is
// written.
void ExpectLitAsAlone(const std::vector<float>& positions, const std::vector<float>& normals,
                      const std::vector<csColor>& colors, int count, const char* isa) {
  std::vector<csColor> alone(static_cast<size_t>(count));
  rigweave::LightingJob light;
  light.positions = {reinterpret_cast<const csVector3*>(positions.data()), alone.size()};
  light.normals = {reinterpret_cast<const csVector3*>(normals.data()), alone.size()};
  light.setting = Lighting();
  light.output = alone;
  ASSERT_TRUE(light.Run());
  int differing = 0;
  for (size_t i = 0; i < alone.size(); i++) {
    const float got[3] = {colors[i].red, colors[i].green, colors[i].blue};
    const float want[3] = {alone[i].red, alone[i].green, alone[i].blue};
    for (int c = 0; c < 3; c++)
      differing += !(std::fabs(got[c] - want[c]) <= 1e-6f * std::max(1.0f, std::fabs(want[c])));
  }
  EXPECT_EQ(differing, 0) << isa << ", " << count << " vertices";
  EXPECT_TRUE(std::all_of(colors.begin() + count, colors.end(),
                          [](const csColor& c) { return c.red == 7.0f; }))
      << isa << ", " << count << " vertices";
}

TEST(SkinningJob, VerticesGroupedByBonesLandInTheirPlacesAtEveryCount) {
  constexpr int kCount = 300;
  const Shape shape = MixedShape(kCount, 11);
  SkinningLayout layout;
  ASSERT_TRUE(layout.Build(shape.vertices, 3));
  const std::vector<SkinningBone> palette = RandomPalette(3, 12);
  // Eight by eight, nearly every group would take four slots.
  int slots = 0;
  for (int g = 0; g < layout.GroupCount(); g++) slots += layout.SlotCounts()[g];
  EXPECT_LT(slots, 2 * layout.GroupCount());

  const size_t floats = 3 * static_cast<size_t>(kCount);
  std::vector<float> expected(floats), expectedNormals(floats);
  for (size_t i = 0; i < static_cast<size_t>(kCount); i++) {
    SkinningLayout alone;
    ASSERT_TRUE(alone.Build({&shape.vertices[i], 1}, 3));
    std::vector<float> position(3), normal(3);
    SkinningJob job = JobFor(alone, palette, position, 1, SkinningIsa::Scalar);
    job.normalOutput = normal;
    ASSERT_TRUE(job.Run());
    std::copy(position.begin(), position.end(), expected.begin() + 3 * i);
    std::copy(normal.begin(), normal.end(), expectedNormals.begin() + 3 * i);
  }
  for (SkinningIsa isa : SupportedIsas()) {
    for (int count = 0; count <= kCount; count++) {
      const size_t written = 3 * static_cast<size_t>(count);
      std::vector<float> output(floats, 7.0f), normals(floats, 7.0f);
      ASSERT_TRUE(JobFor(layout, palette, output, count, isa).Run());
      EXPECT_EQ(std::memcmp(output.data(), expected.data(), written * sizeof(float)), 0)
          << SkinningIsaName(isa) << ", " << count << " vertices";
      std::vector<float> both(floats, 7.0f);
      std::vector<csColor> colors(static_cast<size_t>(kCount), csColor{7.0f, 7.0f, 7.0f});
      SkinningJob job = JobFor(layout, palette, both, count, isa);
      float box[6] = {HUGE_VALF, HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
      float bounds[6];
      std::copy(box, box + 6, bounds);
      job.normalOutput = normals;
      job.box = box;
      job.colorOutput = colors;
      job.lighting = Lighting();
      ASSERT_TRUE(job.Run());
      ExpectLitAsAlone(expected, expectedNormals, colors, count, SkinningIsaName(isa));
      EXPECT_EQ(both, output) << SkinningIsaName(isa) << ", " << count << " vertices";
      EXPECT_EQ(std::memcmp(normals.data(), expectedNormals.data(), written * sizeof(float)), 0)
          << SkinningIsaName(isa) << " normals, " << count << " vertices";
      for (size_t i = 0; i < written; i++) {
        bounds[i % 3] = std::min(bounds[i % 3], expected[i]);
        bounds[3 + i % 3] = std::max(bounds[3 + i % 3], expected[i]);
      }
      EXPECT_EQ(std::memcmp(box, bounds, sizeof box), 0)
          << SkinningIsaName(isa) << " box, " << count;
      const auto untouched = [written](const std::vector<float>& v) {
        return std::all_of(v.begin() + static_cast<ptrdiff_t>(written), v.end(),
                           [](float f) { return f == 7.0f; });
      };
      EXPECT_TRUE(untouched(output) && untouched(normals))
          << SkinningIsaName(isa) << ", " << count << " vertices";
    }
  }
}

// The unit's normals of the walking sample against Cal3D's getNormals
// followed by the module's turn, on every set: bit for bit.
TEST(SkinningJob, NormalsAreCal3DsOnEverySet) {
  rwtest::ReferenceCharacter hero;
  ASSERT_TRUE(hero.Load(RIGWEAVE_BUILD_DIR, "hero.cfg"));
  hero.Mixer().blendCycle(hero.Id("walk"), 1, 0);
  CalModel& model = *hero.Model();
  const std::vector<CalBone*>& skeleton = model.getSkeleton()->getVectorBone();
  long compared = 0, mismatches = 0;
  for (int frame = 0; frame < 12; frame++) {
    hero.Advance(83);
    std::vector<SkinningBone> palette;
    for (CalBone* bone : skeleton) {
      const CalMatrix& m = bone->getTransformMatrix();
      const CalVector& t = bone->getTranslationBoneSpace();
      palette.push_back({{{m.dxdx, m.dxdy, m.dxdz, t.x},
                          {m.dydx, m.dydy, m.dydz, t.y},
                          {m.dzdx, m.dzdy, m.dzdz, t.z}}});
    }
    CalRenderer& renderer = *model.getRenderer();
    ASSERT_TRUE(renderer.beginRendering());
    for (int mesh = 0; mesh < renderer.getMeshCount(); mesh++) {
      for (int sub = 0; sub < renderer.getSubmeshCount(mesh); sub++) {
        ASSERT_TRUE(renderer.selectMeshSubmesh(mesh, sub));
        CalCoreSubmesh& core =
            *model.getVectorMesh()[static_cast<size_t>(mesh)]->getSubmesh(sub)->getCoreSubmesh();
        std::vector<SkinningVertex> vertices;
        std::vector<std::vector<SkinningInfluence>> influences;
        for (const CalCoreSubmesh::Vertex& v : core.getVectorVertex()) {
          influences.emplace_back();
          for (const CalCoreSubmesh::Influence& i : v.vectorInfluence)
            influences.back().push_back({i.boneId, i.weight});
        }
        for (size_t i = 0; i < influences.size(); i++) {
          const CalCoreSubmesh::Vertex& v = core.getVectorVertex()[i];
          SkinningVertex vertex;
          vertex.normal[0] = v.normal.x, vertex.normal[1] = v.normal.y,
          vertex.normal[2] = v.normal.z;
          vertex.influences = {influences[i].data(), influences[i].size()};
          vertices.push_back(vertex);
        }
        SkinningLayout layout;
        ASSERT_TRUE(layout.Build(vertices, static_cast<int>(skeleton.size())));
        const int count = renderer.getVertexCount();
        std::vector<csVector3> expected(static_cast<size_t>(count));
        renderer.getNormals(&expected[0].x);
        rigweave::EngineSpaceJob turn;
        turn.input = expected;
        turn.output = expected;
        ASSERT_TRUE(turn.Run());
        for (SkinningIsa isa : SupportedIsas()) {
          std::vector<float> positions(3 * static_cast<size_t>(count)), normals(positions.size());
          SkinningJob job = JobFor(layout, palette, positions, count, isa);
          job.axisFactors[1] = 1.0f;
          job.normalOutput = normals;
          ASSERT_TRUE(job.Run());
          for (size_t i = 0; i < normals.size(); i++, compared++)
            mismatches += normals[i] != (&expected[0].x)[i];
        }
      }
    }
    renderer.endRendering();
  }
  EXPECT_GT(compared, 10000);
  EXPECT_EQ(mismatches, 0) << "of " << compared << " coordinates";
}

// ------------------------------------------------ the module against Cal3D

// Draws nothing; keeps the positions each draw of the frame was given.
class VertexCapture : public rwengine::RenderBackend {
 public:
  void BeginFrame(int, int) override { draws.clear(); }
  void EndFrame() override {}
  void SetRenderState(G3D_RENDERSTATEOPTION, int32_t) override {}
  void SetObjectToCamera(const csReversibleTransform&) override {}
  void DrawTriangleMesh(const G3DTriangleMesh&, const rwengine::DrawGeometry& geometry) override {
    draws.emplace_back(geometry.vertices, geometry.vertices + geometry.count);
  }
  void OnLock(iVertexBuffer*, const csVector3*, const csVector2*, const csColor*, int,
              int) override {}
  void OnUnlock(iVertexBuffer*) override {}
  void OnFog(const G3DTriangleMesh*, int) override {}
  std::vector<std::vector<csVector3>> draws;
};

csTicks clockNow = 1000;
csTicks ReadClock(void*) {
  return clockNow;
}

std::vector<std::string> GeneratedConfigurations(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".cfg") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Comparison {
  long mismatches = 0;  // -1: the two could not be compared frame by frame
  std::string note;
};

// Coordinates that differ from Cal3D's in any bit, over `frames` walking
// frames with an action started every 300, at level of detail `lod`, with
// the module loaded as the engine loads it and told to skin on `isa`; both
// sides read the models/ folder below `root`.
Comparison Compare(const std::string& root, const std::string& config, SkinningIsa isa, float lod,
                   int frames) {
  Comparison result;
  long& mismatches = result.mismatches;
  std::string& note = result.note;
  rwtest::ReferenceCharacter reference;
  if (!reference.Load(root, config)) {
    note = "Cal3D does not load it";
    return result;
  }
  const std::vector<std::string>& animations = reference.Animations();
  const int cycle = std::max(reference.Id("walk"), 0);
  const int action =
      reference.Id("wave") >= 0 ? reference.Id("wave") : static_cast<int>(animations.size()) - 1;

  VertexCapture capture;
  csSetTickSource(&ReadClock, nullptr);
  auto stage = std::make_unique<rwengine::Stage>(&capture, 640, 480, root);
  if (!stage->LoadModule(RIGWEAVE_MODULE_PATH)) {
    note = "the module does not load: " + stage->LastError();
    mismatches = -1;
    return result;
  }
  {
    // Read once, when the stage makes the module's type for its first object.
    setenv("RIGWEAVE_SKINNING_ISA", SkinningIsaName(isa), 1);
    csRef<iMeshObject> mesh = stage->NewMeshObject();
    unsetenv("RIGWEAVE_SKINNING_ISA");
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh.get()));
    bool loaded;
    {
      rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
      loaded = state->LoadModel(config.c_str(), stage->GetLoader(), stage->GetEngine());
    }
    if (!loaded) {
      note = "the module does not load it";
    } else {
      // A prop without animations is compared in its rest pose.
      const bool animated = !animations.empty();
      const std::string cycleName = animated ? animations[static_cast<size_t>(cycle)] : "";
      const std::string actionName = animated ? animations[static_cast<size_t>(action)] : "";
      if (animated) {
        state->SetCycle(cycleName.c_str(), 0.3f, 0.3f, 1.0f);
        reference.Mixer().clearCycle(0, 0.3f);
        reference.Mixer().blendCycle(cycle, 1.0f, 0.3f);
      }
      state->SetLodLevel(lod);
      reference.Model()->setLodLevel(lod);
      for (int frame = 0; frame < frames && mismatches == 0; frame++) {
        if (animated && frame % 300 == 100) {
          state->ExecuteAction(actionName.c_str(), 0.3f, 0.3f);
          reference.Mixer().executeAction(action, 0.3f, 0.3f);
        }
        clockNow += 16;
        stage->DrawFrame({{mesh.get(), movable.get()}});
        reference.Advance(16);
        const std::vector<std::vector<csVector3>> expected = reference.Vertices();
        if (capture.draws.size() != 2 * expected.size()) {
          note = "frame " + std::to_string(frame) + ": " + std::to_string(capture.draws.size()) +
                 " draws for " + std::to_string(expected.size()) + " sub-meshes";
          mismatches = -1;
          break;
        }
        std::vector<std::vector<csVector3>> drawn;
        for (size_t i = 0; i < capture.draws.size(); i += 2) {
          drawn.push_back(capture.draws[i]);
          mismatches += rwtest::Mismatches({capture.draws[i]}, {capture.draws[i + 1]});
        }
        mismatches += rwtest::Mismatches(drawn, expected);
        if (mismatches != 0) note = "first at frame " + std::to_string(frame);
      }
    }
  }
  stage.reset();
  csSetTickSource(nullptr, nullptr);
  return result;
}

TEST(SkinningAgainstCal3D, EveryGeneratedCharacterDrawsCal3DsVerticesOnEveryInstructionSet) {
  const std::vector<std::string> configs =
      GeneratedConfigurations(std::string(RIGWEAVE_BUILD_DIR) + "/models");
  ASSERT_FALSE(configs.empty());
  int compared = 0;
  for (const std::string& config : configs) {
    bool loads = true;
    for (SkinningIsa isa : SupportedIsas()) {
      for (float lod : {1.0f, 0.5f}) {
        const Comparison got = Compare(RIGWEAVE_BUILD_DIR, config, isa, lod, 1000);
        EXPECT_EQ(got.mismatches, 0)
            << config << " on " << SkinningIsaName(isa) << " at level " << lod << ": " << got.note;
        // Loading is the loading tests' concern; here only what loads is compared.
        loads = got.note.find("load") == std::string::npos;
        if (!loads) break;
        compared++;
      }
      if (!loads) {
        std::cout << config << ": not compared, it does not load\n";
        break;
      }
    }
  }
  // The sample and the large character at least, at both levels, on every set.
  EXPECT_GE(compared, 2 * 2 * static_cast<int>(SupportedIsas().size()));
}

// A value the module does not know is said once, when the type is made,
// in the module's own line format; every character then skins on the
// widest set, exactly as ever.
TEST(SkinningAgainstCal3D, AnUnknownInstructionSetIsSaidOnceAndTheWidestUsed) {
  csSetTickSource(&ReadClock, nullptr);
  VertexCapture capture;
  auto stage = std::make_unique<rwengine::Stage>(&capture, 640, 480, RIGWEAVE_BUILD_DIR);
  ASSERT_TRUE(stage->LoadModule(RIGWEAVE_MODULE_PATH)) << stage->LastError();
  setenv("RIGWEAVE_SKINNING_ISA", "neon", 1);
  rwtest::CapturedOutput output;
  std::vector<csRef<iMeshObject>> meshes = {stage->NewMeshObject(), stage->NewMeshObject()};
  for (const csRef<iMeshObject>& mesh : meshes) {
    auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh.get()));
    EXPECT_TRUE(state->LoadModel("hero.cfg", stage->GetLoader(), stage->GetEngine()));
  }
  const std::string printed = output.Text();
  unsetenv("RIGWEAVE_SKINNING_ISA");
  const std::string line = std::string(kRigweaveClassId) +
                           ": Unknown skinning instruction set RIGWEAVE_SKINNING_ISA=neon "
                           "(scalar, sse2, avx2 or avx512); using " +
                           SkinningIsaName(rigweave::BestSkinningIsa()) + "\n";
  EXPECT_EQ(printed.find(line), 0u) << printed;
  EXPECT_EQ(printed.find("instruction set", line.size()), std::string::npos) << printed;
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  clockNow += 16;
  stage->DrawFrame({{meshes[0].get(), movable.get()}});
  EXPECT_FALSE(capture.draws.empty());
  meshes.clear();
  stage.reset();
  csSetTickSource(nullptr, nullptr);
}

// A sub-mesh with springs keeps its vertices inside Cal3D, which moves them
// itself: drawn as the unit would skin it, its hanging vertex would stay
// with the bone instead of swinging on the spring.
TEST(SkinningAgainstCal3D, SubmeshesWithSpringsAreDrawnByCal3D) {
  rwtest::ModelFolder folder;
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  ASSERT_TRUE(folder.WriteAnimation("walk.caf", 2.0f, csVector3(0, 30, 10)));
  CalCoreMeshPtr mesh = new CalCoreMesh();
  for (int springs : {0, 1}) {
    auto* sub = new CalCoreSubmesh();
    sub->reserve(4, 1, 2, springs);
    for (int i = 0; i < 4; i++) {
      CalCoreSubmesh::Vertex vertex;
      vertex.position = CalVector(static_cast<float>(i % 2) * 10, static_cast<float>(i / 2) * 10,
                                  static_cast<float>(springs) * 5);
      vertex.normal = CalVector(0, 0, 1);
      vertex.collapseId = -1;
      vertex.faceCollapseCount = 0;
      vertex.vectorInfluence.push_back({0, 1.0f});
      sub->setVertex(i, vertex);
      sub->setTextureCoordinate(i, 0, {0, 0});
      // Vertex 3 hangs on the spring; the others follow the bone.
      if (springs > 0) sub->setPhysicalProperty(i, {i == 3 ? 1.0f : 0.0f});
    }
    sub->setFace(0, {{0, 1, 2}});
    sub->setFace(1, {{1, 3, 2}});
    if (springs > 0) sub->setSpring(0, {{2, 3}, 50.0f, 10.0f});
    mesh->addCoreSubmesh(sub);
  }
  ASSERT_TRUE(CalSaver::saveCoreMesh(folder.Path("hanging.cmf"), mesh.get()));
  folder.WriteFile("hanging.cfg", "skeleton = one.csf\nanimation = walk.caf\nmesh = hanging.cmf\n");

  for (SkinningIsa isa : SupportedIsas()) {
    const Comparison got = Compare(folder.Root(), "hanging.cfg", isa, 1.0f, 400);
    EXPECT_EQ(got.mismatches, 0) << SkinningIsaName(isa) << ": " << got.note;
  }
}

}  // namespace
