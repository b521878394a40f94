// Characters as other tools export them, through the whole module: files
// mixing binary and XML forms (XML materials of the older HEADER layout,
// all-XML characters from Cal3D's saver), and level-of-detail data whose
// collapse chains end in roots.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <cal3d/coretrack.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"
#include "ical3dstate.h"

namespace {

using rwengine::RecordedCall;
using rwtest::ModelFolder;
using rwtest::TestSubmesh;

const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
const std::string kId = kRigweaveClassId;

class ExportedCharacters : public rwtest::StageTest {
 protected:
  struct Frame {
    std::vector<std::vector<csTriangle>> triangles;
    std::vector<std::vector<csVector3>> vertices;
    std::vector<std::vector<csVector2>> texels;
    std::string printed;
  };

  // Loads `config`, walks for half a second and returns the first draw of
  // every sub-mesh in the frame after.
  Frame Walk(const char* config) {
    Frame frame;
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = false;
    frame.printed = LoadPrinting(mesh.get(), config, &loaded);
    EXPECT_TRUE(loaded) << frame.printed;
    if (!loaded) return frame;
    EXPECT_TRUE(StateOf(mesh.get())->SetCycle("walk", 0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(StateOf(mesh.get())->ExecuteAction("wave", 0.0f, 0.0f));
    DrawOnce(mesh.get());
    now += 500;
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh.get()));
    const auto draws = recorder.Of(RecordedCall::Draw);
    for (size_t i = 0; i < draws.size(); i += 2) {
      frame.triangles.push_back(draws[i]->triangles);
      frame.vertices.push_back(draws[i]->vertices);
      frame.texels.push_back(draws[i]->texels);
    }
    return frame;
  }

  // Copies the sample character's files, and writes each Cal3D file again
  // under its XML name through Cal3D's own saver.
  static void WriteSampleInBothForms(const ModelFolder& folder) {
    for (const char* name :
         {"hero.cfg", "hero.csf", "idle.caf", "walk.caf", "wave.caf", "jump.caf", "hero_body.cmf",
          "hero_gear.cmf", "skin.crf", "shirt.crf", "trousers.crf", "belt.crf", "boots.crf",
          "hair.crf", "skin.raw", "shirt.raw", "trousers.raw", "boots.raw", "hair.raw"}) {
      folder.WriteFile(name, rwtest::ReadFile(kModels + name));
    }
    CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(kModels + "hero.csf");
    ASSERT_TRUE(CalSaver::saveCoreSkeleton(folder.Path("hero.xsf"), skeleton.get()));
    for (const char* name : {"idle", "walk", "wave", "jump"}) {
      CalCoreAnimationPtr animation =
          CalLoader::loadCoreAnimation(kModels + name + ".caf", skeleton.get());
      ASSERT_TRUE(
          CalSaver::saveCoreAnimation(folder.Path(std::string(name) + ".xaf"), animation.get()));
      for (CalCoreTrack* track : animation->getListCoreTrack()) {
        track->destroy();
        delete track;
      }
      animation->getListCoreTrack().clear();
    }
    for (const char* name : {"hero_body", "hero_gear"}) {
      CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(kModels + name + ".cmf");
      ASSERT_TRUE(CalSaver::saveCoreMesh(folder.Path(std::string(name) + ".xmf"), mesh.get()));
    }
    for (const char* name : {"skin", "shirt", "trousers", "belt", "boots", "hair"}) {
      CalCoreMaterialPtr material = CalLoader::loadCoreMaterial(kModels + name + ".crf");
      ASSERT_TRUE(
          CalSaver::saveCoreMaterial(folder.Path(std::string(name) + ".xrf"), material.get()));
    }
  }

  static std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
    return text;
  }
};

TEST_F(ExportedCharacters, XmlAndMixedFormsDrawAsTheirBinaryTwin) {
  ModelFolder folder;
  Use(folder);
  WriteSampleInBothForms(folder);
  const std::string binary = rwtest::ReadFile(folder.Path("hero.cfg"));
  std::string xml = binary;
  for (const char* kind : {"sf", "af", "mf", "rf"})
    xml = Replaced(xml, std::string(".c") + kind + "\n", std::string(".x") + kind + "\n");
  folder.WriteFile("hero-xml.cfg", xml);
  // Binary skeleton, meshes and animations with XML materials of the older
  // layout, as character sets of Cal3D 0.9 and 0.10 exporters come.
  std::string mixed = Replaced(binary, ".crf\n", ".xrf\n");
  for (const char* name : {"skin", "shirt", "trousers", "belt", "boots", "hair"}) {
    std::string text = rwtest::ReadFile(folder.Path(std::string(name) + ".xrf"));
    text = Replaced(text, "<MATERIAL VERSION=\"1100\"",
                    "<HEADER MAGIC=\"XRF\" VERSION=\"910\" />\n<MATERIAL");
    folder.WriteFile(std::string(name) + "-910.xrf", text);
    mixed = Replaced(mixed, std::string(name) + ".xrf\n", std::string(name) + "-910.xrf\n");
  }
  folder.WriteFile("hero-mixed.cfg", mixed);
  ASSERT_NE(xml, binary);
  ASSERT_NE(mixed, binary);

  const Frame expected = Walk("hero.cfg");
  ASSERT_EQ(expected.vertices.size(), 6u);
  for (const char* config : {"hero-xml.cfg", "hero-mixed.cfg"}) {
    SCOPED_TRACE(config);
    const Frame frame = Walk(config);
    EXPECT_EQ(frame.printed.find("Can't load texture"), std::string::npos) << frame.printed;
    EXPECT_EQ(frame.printed.find("Invalid"), std::string::npos) << frame.printed;
    ASSERT_EQ(frame.vertices.size(), expected.vertices.size());
    for (size_t s = 0; s < expected.vertices.size(); s++) {
      ASSERT_EQ(frame.triangles[s].size(), expected.triangles[s].size());
      for (size_t t = 0; t < expected.triangles[s].size(); t++) {
        EXPECT_EQ(frame.triangles[s][t].a, expected.triangles[s][t].a);
        EXPECT_EQ(frame.triangles[s][t].b, expected.triangles[s][t].b);
        EXPECT_EQ(frame.triangles[s][t].c, expected.triangles[s][t].c);
      }
      ASSERT_EQ(frame.vertices[s].size(), expected.vertices[s].size());
      // The saver prints six digits: the character is 2 units tall.
      for (size_t v = 0; v < expected.vertices[s].size(); v++)
        EXPECT_LT(Norm(frame.vertices[s][v] - expected.vertices[s][v]), 2e-4f) << s << " " << v;
      ASSERT_EQ(frame.texels[s].size(), expected.texels[s].size());
      for (size_t v = 0; v < expected.texels[s].size(); v++) {
        EXPECT_NEAR(frame.texels[s][v].x, expected.texels[s][v].x, 1e-5f);
        EXPECT_NEAR(frame.texels[s][v].y, expected.texels[s][v].y, 1e-5f);
      }
      if (HasFailure()) return;
    }
  }
}

// A strip of squares collapsed from its far end as exporters write it: each
// vertex but the first two collapses onto its neighbour two places down and
// takes a face with it; vertex 1 collapses onto vertex 0 with no face left,
// and vertex 0 is a root (collapse id -1) inside the collapsible range.
TestSubmesh CollapsedStrip(int quads, int materialThread) {
  TestSubmesh strip = rwtest::Strip(quads, materialThread);
  const int vertices = static_cast<int>(strip.vertices.size());
  strip.lodCount = vertices;
  for (int v = 0; v < vertices; v++) {
    strip.collapseIds.push_back(v >= 2 ? v - 2 : (v == 1 ? 0 : -1));
    strip.faceCollapses.push_back(v >= 2 ? 1 : 0);
  }
  return strip;
}

TEST_F(ExportedCharacters, CollapseRootsDrawFewerTrianglesAtEveryLowerLevel) {
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  ASSERT_TRUE(folder.WriteMesh("strips.cmf", {CollapsedStrip(40, 0), CollapsedStrip(7, 0)}));
  ASSERT_TRUE(folder.WriteMaterial("plain.crf", {}));
  folder.WriteFile("strips.cfg", "skeleton = one.csf\nmesh = strips.cmf\nmaterial = plain.crf\n");

  // Cal3D's own face counts for the same file, level by level.
  CalCoreModel core("reference");
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(folder.Path("one.csf"));
  core.setCoreSkeleton(skeleton.get());
  ASSERT_EQ(core.loadCoreMesh(folder.Path("strips.cmf")), 0);
  CalModel reference(&core);
  reference.attachMesh(0);

  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "strips.cfg", &loaded);
  ASSERT_TRUE(loaded) << printed;
  size_t previous = SIZE_MAX;
  for (float lod : {1.0f, 0.75f, 0.5f, 0.25f, 0.0f}) {
    SCOPED_TRACE(lod);
    StateOf(mesh.get())->SetLodLevel(lod);
    reference.setLodLevel(lod);
    recorder.Clear();
    ASSERT_TRUE(DrawOnce(mesh.get()));
    CalRenderer* renderer = reference.getRenderer();
    ASSERT_TRUE(renderer->beginRendering());
    size_t drawn = 0;
    const auto draws = recorder.Of(RecordedCall::Draw);
    ASSERT_EQ(draws.size(), 4u);
    for (size_t i = 0; i < draws.size(); i++) {
      for (const csTriangle& t : draws[i]->triangles)
        for (int corner : {t.a, t.b, t.c}) {
          ASSERT_GE(corner, 0);
          ASSERT_LT(corner, draws[i]->count);
        }
      drawn += draws[i]->triangles.size();
      // Each sub-mesh twice: as Cal3D gives its faces, then turned round.
      ASSERT_TRUE(renderer->selectMeshSubmesh(0, static_cast<int>(i / 2)));
      EXPECT_EQ(static_cast<int>(draws[i]->triangles.size()), renderer->getFaceCount());
    }
    renderer->endRendering();
    EXPECT_EQ(stage->GetGraphics()->DrawsRejected(), 0);
    EXPECT_LT(drawn, previous);
    previous = drawn;
  }
  EXPECT_EQ(previous, 0u);
}

}  // namespace
