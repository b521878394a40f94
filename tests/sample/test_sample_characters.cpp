// Every sample character the build generates, read with Cal3D directly (not
// through the module): each file loads, each sub-mesh is sound at every level
// of detail it can reach, and each variant is what its name promises.
#include <cal3d/cal3d.h>
#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "formats/config.h"
#include "support/files.h"
#include "support/lod_levels.h"

namespace {

namespace fs = std::filesystem;

const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";

const char* const kGenerated[] = {"hero.cfg",       "large.cfg",        "hero-xml.cfg",
                                  "hero-parts.cfg", "hero-cm-v700.cfg", "hero-m-v910.cfg",
                                  "hero-morph.cfg"};

struct Config {
  std::string scale, skeleton;
  std::vector<std::string> animations, meshes, materials;
};

Config ReadConfig(const std::string& name) {
  const std::vector<uint8_t> bytes = rwtest::ReadBytes(kModels + name);
  EXPECT_FALSE(bytes.empty()) << name;
  Config config;
  for (const rigweave::ConfigEntry& parsed : rigweave::ParseConfig(bytes).entries) {
    const std::string& value = parsed.value;
    switch (parsed.key) {
      case rigweave::ConfigKey::Scale:
        config.scale = value;
        break;
      case rigweave::ConfigKey::Skeleton:
        config.skeleton = value;
        break;
      case rigweave::ConfigKey::Animation:
        config.animations.push_back(value);
        break;
      case rigweave::ConfigKey::Mesh:
        config.meshes.push_back(value);
        break;
      case rigweave::ConfigKey::Material:
        config.materials.push_back(value);
        break;
      case rigweave::ConfigKey::BlendMesh:
        // A copy of its mesh's sub-meshes with other positions: checked there.
        break;
      case rigweave::ConfigKey::MorphAnimation:
      case rigweave::ConfigKey::Other:
        ADD_FAILURE() << name << ": unknown key " << parsed.keyText;
    }
  }
  return config;
}

// A character as Cal3D's own loaders read its files, which pick XML by the
// file's extension.
struct Character {
  Config config;
  CalCoreModel core{"sample"};
  CalCoreSkeletonPtr skeleton;
  std::vector<CalCoreAnimationPtr> animations;
  std::vector<CalCoreMeshPtr> meshes;
  std::vector<CalCoreMaterialPtr> materials;

  explicit Character(const std::string& name) : config(ReadConfig(name)) {
    skeleton = CalLoader::loadCoreSkeleton(kModels + config.skeleton);
    if (!skeleton) return;
    core.setCoreSkeleton(skeleton.get());
    for (const std::string& file : config.animations)
      animations.push_back(CalLoader::loadCoreAnimation(kModels + file, skeleton.get()));
    for (const std::string& file : config.meshes) {
      meshes.push_back(CalLoader::loadCoreMesh(kModels + file));
      if (meshes.back()) core.addCoreMesh(meshes.back().get());
    }
    for (const std::string& file : config.materials)
      materials.push_back(CalLoader::loadCoreMaterial(kModels + file));
  }
  Character(const Character&) = delete;
  Character& operator=(const Character&) = delete;
  ~Character() {
    // Cal3D 0.11's animations never free their tracks.
    for (const CalCoreAnimationPtr& animation : animations) {
      if (!animation) continue;
      for (CalCoreTrack* track : animation->getListCoreTrack()) {
        track->destroy();
        delete track;
      }
      animation->getListCoreTrack().clear();
    }
  }

  bool Loaded() const {
    auto ok = [](const auto& list) {
      return std::all_of(list.begin(), list.end(), [](const auto& p) { return bool(p); });
    };
    return skeleton && ok(animations) && ok(meshes) && ok(materials);
  }

  std::vector<CalCoreSubmesh*> Submeshes() const {
    std::vector<CalCoreSubmesh*> all;
    for (const CalCoreMeshPtr& mesh : meshes)
      for (CalCoreSubmesh* submesh : mesh->getVectorCoreSubmesh()) all.push_back(submesh);
    return all;
  }

  // Faces Cal3D's renderer hands over for the whole model at `level`.
  int FacesAt(float level) {
    CalModel model(&core);
    for (int id = 0; id < core.getCoreMeshCount(); id++) model.attachMesh(id);
    model.setLodLevel(level);
    model.update(0);
    CalRenderer* renderer = model.getRenderer();
    int faces = 0;
    if (!renderer->beginRendering()) return -1;
    for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
      for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
        renderer->selectMeshSubmesh(mesh, sub);
        faces += renderer->getFaceCount();
      }
    }
    renderer->endRendering();
    return faces;
  }
};

TEST(SampleCharacters, EachLoadsInCal3DAndIsSoundAtEveryLevelOfDetail) {
  std::set<std::string> found;
  for (const auto& entry : fs::directory_iterator(kModels))
    if (entry.path().extension() == ".cfg") found.insert(entry.path().filename().string());
  for (const char* name : kGenerated) EXPECT_TRUE(found.count(name)) << name << " not generated";

  for (const std::string& name : found) {
    // Files of Cal3D's newer line, which Cal3D 0.11 refuses until the module
    // translates them (tests/formats/test_newer_cal3d.cpp).
    if (name.rfind("newer-", 0) == 0) continue;
    SCOPED_TRACE(name);
    Character character(name);
    ASSERT_TRUE(character.Loaded()) << CalError::getLastErrorText();
    int submeshIndex = 0;
    for (CalCoreSubmesh* submesh : character.Submeshes()) {
      SCOPED_TRACE("sub-mesh " + std::to_string(submeshIndex++));
      EXPECT_GT(submesh->getLodCount(), 0) << "no level-of-detail data";
      std::vector<int> faceCounts;
      rwtest::CheckEveryLevel(*submesh, &faceCounts);
      if (HasFatalFailure()) return;
      EXPECT_LT(faceCounts.back(), faceCounts.front());
    }
    const int full = character.FacesAt(1.0f), half = character.FacesAt(0.5f),
              lowest = character.FacesAt(0.0f);
    EXPECT_GT(full, half);
    EXPECT_GT(half, lowest);
    EXPECT_GE(lowest, 0);
  }
}

// Collapse roots are what a loader or checker is most likely to get wrong:
// the sample must carry both shapes exporters write.
TEST(SampleCharacters, HeroCarriesCollapseRootsAsExportersWriteThem) {
  Character hero("hero.cfg");
  ASSERT_TRUE(hero.Loaded());
  bool rootAtZero = false, rootStartingRange = false, rootAmongCollapses = false,
       partialRange = false;
  for (CalCoreSubmesh* submesh : hero.Submeshes()) {
    const auto& vertices = submesh->getVectorVertex();
    const int vertexCount = submesh->getVertexCount(), first = vertexCount - submesh->getLodCount();
    partialRange |= first > 0;
    for (int v = first; v < vertexCount; v++) {
      if (vertices[static_cast<size_t>(v)].collapseId != -1) continue;
      rootAtZero |= v == 0;
      rootStartingRange |= v == first && first > 0;
      rootAmongCollapses |= v > first && vertices[static_cast<size_t>(v - 1)].collapseId != -1;
    }
  }
  EXPECT_TRUE(rootAtZero) << "no sub-mesh whose every vertex collapses, down to vertex 0";
  EXPECT_TRUE(rootStartingRange) << "no root at the very start of a partial collapsible range";
  EXPECT_TRUE(rootAmongCollapses) << "no root between ordinary collapses";
  EXPECT_TRUE(partialRange) << "no sub-mesh with vertices that never collapse";
}

std::string ReadHead(const std::string& file, size_t size) {
  return rwtest::ReadFile(kModels + file).substr(0, size);
}

int32_t BinaryVersion(const std::string& file) {
  const std::string head = ReadHead(file, 8);
  int32_t version = -1;
  if (head.size() == 8 && head[3] == '\0') std::memcpy(&version, head.data() + 4, 4);
  return version;
}

double Height(const Character& character) {
  float lo = 1e30f, hi = -1e30f;
  for (CalCoreSubmesh* submesh : character.Submeshes())
    for (const auto& vertex : submesh->getVectorVertex()) {
      lo = std::min(lo, vertex.position.z);
      hi = std::max(hi, vertex.position.z);
    }
  return hi - lo;
}

TEST(SampleCharacters, VariantsAreWhatTheirNamesSay) {
  struct Variant {
    const char* config;
    const char* scale;
    double minHeight, maxHeight;
    int binaryVersion;          // of every binary file; 0: all files XML
    const char* materialStart;  // how each material file begins
  };
  const Variant variants[] = {
      {"hero.cfg", "1.0", 95, 105, 1100, "CRF"},
      {"large.cfg", "1.0", 95, 105, 1100, "CRF"},
      {"hero-parts.cfg", "1.0", 95, 105, 1100, "CRF"},
      {"hero-xml.cfg", "1.0", 95, 105, 0, "<MATERIAL VERSION=\"1100\" NUMMAPS="},
      {"hero-cm-v700.cfg", "1.0", 160, 180, 700,
       "<HEADER MAGIC=\"XRF\" VERSION=\"900\" />\n<MATERIAL NUMMAPS="},
      {"hero-m-v910.cfg", "0.01", 1.6, 1.9, 910,
       "<HEADER MAGIC=\"XRF\" VERSION=\"910\" />\n<MATERIAL NUMMAPS="},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.config);
    Character character(variant.config);
    ASSERT_TRUE(character.Loaded());
    EXPECT_EQ(character.config.scale, variant.scale);
    const double height = Height(character);
    EXPECT_GE(height, variant.minHeight);
    EXPECT_LE(height, variant.maxHeight);
    std::vector<std::string> files = character.config.animations;
    files.push_back(character.config.skeleton);
    files.insert(files.end(), character.config.meshes.begin(), character.config.meshes.end());
    for (const std::string& file : files) {
      if (variant.binaryVersion == 0) {
        EXPECT_EQ(ReadHead(file, 1), "<") << file;
      } else {
        EXPECT_EQ(BinaryVersion(file), variant.binaryVersion) << file;
      }
    }
    for (const std::string& file : character.config.materials) {
      const std::string start = variant.materialStart;
      EXPECT_EQ(ReadHead(file, start.size()), start) << file;
    }
  }

  Character hero("hero.cfg");
  std::vector<std::string> names;
  for (const std::string& file : hero.config.animations)
    names.push_back(file.substr(0, file.rfind('.')));
  EXPECT_EQ(names, (std::vector<std::string>{"idle", "walk", "wave", "jump"}));

  Character parts("hero-parts.cfg");
  EXPECT_GE(parts.meshes.size(), 15u);
  EXPECT_LE(parts.meshes.size(), 20u);
  int partFaces = 0, heroFaces = 0;
  for (const CalCoreMeshPtr& mesh : parts.meshes) EXPECT_EQ(mesh->getCoreSubmeshCount(), 1);
  for (CalCoreSubmesh* submesh : parts.Submeshes()) partFaces += submesh->getFaceCount();
  for (CalCoreSubmesh* submesh : hero.Submeshes()) heroFaces += submesh->getFaceCount();
  EXPECT_EQ(partFaces, heroFaces);

  // Colour only, and a second map that is not there, as real sets have.
  Character metres("hero-m-v910.cfg");
  ASSERT_TRUE(metres.Loaded());
  int colourOnly = 0, missingBump = 0;
  for (const CalCoreMaterialPtr& material : metres.materials) {
    colourOnly += material->getMapCount() == 0;
    if (material->getMapCount() == 2) {
      const std::string bump = material->getMapFilename(1);
      missingBump +=
          bump.size() > 4 && bump.substr(bump.size() - 4) == ".dds" && !fs::exists(kModels + bump);
    }
  }
  EXPECT_EQ(colourOnly, 1);
  EXPECT_EQ(missingBump, 1);
}

}  // namespace
