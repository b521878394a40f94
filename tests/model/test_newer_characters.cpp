// Characters exported by Cal3D's newer line, through the whole module: every
// generated configuration of newer files loads and draws, and the character
// whose meshes are 1300 files with face morphs draws exactly as the 0.11
// sample while its morph weights are 0.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rwengine::RecordedCall;

class NewerCharacters : public rwtest::StageTest {
 protected:
  struct Frame {
    std::vector<std::vector<csVector3>> vertices;
    std::vector<std::vector<csTriangle>> triangles;
  };

  // Loads `config`, plays `cycle` for 0.4 s and returns the first draw of
  // every sub-mesh then.
  Frame Play(const char* config, const char* cycle) {
    Frame frame;
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = false;
    const std::string printed = LoadPrinting(mesh.get(), config, &loaded);
    EXPECT_TRUE(loaded) << printed;
    if (!loaded) return frame;
    EXPECT_TRUE(StateOf(mesh.get())->SetCycle(cycle, 0.0f, 0.0f, 1.0f)) << cycle;
    DrawOnce(mesh.get());
    now += 400;
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh.get()));
    const auto draws = recorder.Of(RecordedCall::Draw);
    for (size_t i = 0; i < draws.size(); i += 2) {
      frame.vertices.push_back(draws[i]->vertices);
      frame.triangles.push_back(draws[i]->triangles);
    }
    return frame;
  }
};

TEST_F(NewerCharacters, MeshesWithMorphTargetsAtWeightZeroDrawAsTheOldOnes) {
  const Frame old = Play("hero.cfg", "walk");
  const Frame newer = Play("newer-hero.cfg", "walk");
  ASSERT_FALSE(old.vertices.empty());
  ASSERT_EQ(newer.vertices.size(), old.vertices.size());
  for (size_t s = 0; s < old.vertices.size(); s++) {
    ASSERT_EQ(newer.vertices[s].size(), old.vertices[s].size()) << "sub-mesh " << s;
    for (size_t v = 0; v < old.vertices[s].size(); v++) {
      EXPECT_EQ(newer.vertices[s][v].x, old.vertices[s][v].x) << s << ":" << v;
      EXPECT_EQ(newer.vertices[s][v].y, old.vertices[s][v].y) << s << ":" << v;
      EXPECT_EQ(newer.vertices[s][v].z, old.vertices[s][v].z) << s << ":" << v;
    }
    EXPECT_EQ(newer.triangles[s].size(), old.triangles[s].size());
  }
}

struct ConfigRow {
  const char* name;
  const char* config;
  const char* cycle;
};

class NewerConfigurations : public NewerCharacters,
                            public ::testing::WithParamInterface<ConfigRow> {};

// Each dialect's character loads, plays and draws every triangle the 0.11
// sample draws.
TEST_P(NewerConfigurations, LoadAndDrawTheWholeCharacter) {
  const Frame old = Play("hero.cfg", "idle");
  const Frame newer = Play(GetParam().config, GetParam().cycle);
  ASSERT_EQ(newer.triangles.size(), old.triangles.size());
  for (size_t s = 0; s < old.triangles.size(); s++)
    EXPECT_EQ(newer.triangles[s].size(), old.triangles[s].size());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, NewerConfigurations,
    ::testing::Values(ConfigRow{"head_1301", "newer-1301.cfg", "newer/walk.1301"},
                      ConfigRow{"a_2009_to_2017", "newer-a1300.cfg", "newer/idle.a1300"},
                      ConfigRow{"march_2017", "newer-e1300.cfg", "newer/idle.1300"},
                      ConfigRow{"of_1200", "newer-1200.cfg", "newer/walk.1200"},
                      ConfigRow{"xml_1300_with_morphs", "newer-xml.cfg", "walk"},
                      ConfigRow{"lineage_911_919", "newer-lineage.cfg", "newer/wave.916"}),
    [](const auto& info) { return std::string(info.param.name); });

// File names as exporters write them: spaces, dots inside, UTF-8, and
// dozens of meshes (the 17 parts of hero-parts.cfg, twice).
TEST_F(NewerCharacters, NamesWithSpacesDotsAndUtf8ForDozensOfMeshesLoad) {
  rwtest::ModelFolder folder;
  const std::string models = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
  std::string config = "skeleton = hero.csf\n";
  folder.WriteFile("hero.csf", rwtest::ReadFile(models + "hero.csf"));
  int meshes = 0;
  for (const std::string& line :
       {std::string("part_head"), std::string("part_nose"), std::string("part_ear_l"),
        std::string("part_ear_r"), std::string("part_neck"), std::string("part_hand_l"),
        std::string("part_hand_r"), std::string("part_torso"), std::string("part_arm_l"),
        std::string("part_arm_r"), std::string("part_pelvis"), std::string("part_leg_l"),
        std::string("part_leg_r"), std::string("part_belt"), std::string("part_boot_l"),
        std::string("part_boot_r"), std::string("part_hair")}) {
    for (const char* copy : {"部品 ", "pièce "}) {
      const std::string name = std::string(copy) + line + ".001.cmf";
      folder.WriteFile(name, rwtest::ReadFile(models + line + ".cmf"));
      config += "mesh = " + name + "\n";
      meshes++;
    }
  }
  folder.WriteFile("exported model.cfg", config);
  Use(folder);
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  const std::string printed = LoadPrinting(mesh.get(), "exported model.cfg", &loaded);
  EXPECT_TRUE(loaded) << printed;
  recorder.Clear();
  EXPECT_TRUE(DrawOnce(mesh.get()));
  EXPECT_EQ(recorder.Of(RecordedCall::Draw).size(), 2u * static_cast<size_t>(meshes));
}

// A morph animation whose track names a morph target the meshes do not
// have refuses the load like any other file that does not check.
TEST_F(NewerCharacters, MorphAnimationOfAMissingTargetRefusesTheLoad) {
  rwtest::ModelFolder folder;
  const std::string models = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
  folder.WriteFile("hero.csf", rwtest::ReadFile(models + "hero.csf"));
  folder.WriteFile("body 1300.cmf", rwtest::ReadFile(models + "newer/hero body.001.cmf"));
  folder.WriteFile("bad.cfg", "skeleton = hero.csf\nmesh = body 1300.cmf\nmorphanim = face.xpf\n");
  folder.WriteFile("face.xpf",
                   "<ANIMATION DURATION=\"1\"><TRACK MORPHID=\"7\" MESHID=\"0\">"
                   "<SUBMESH ID=\"0\"/><KEYFRAME TIME=\"0\"><WEIGHT>1</WEIGHT></KEYFRAME>"
                   "</TRACK></ANIMATION>");
  Use(folder);
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = true;
  const std::string printed = LoadPrinting(mesh.get(), "bad.cfg", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_NE(printed.find("Invalid Cal3D file face.xpf (track morph target out of range)"),
            std::string::npos)
      << printed;
}

}  // namespace
