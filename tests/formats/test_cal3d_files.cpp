// Damaged Cal3D files must be refused before Cal3D reads them: the fuzzer's
// reproducers through a whole load, and the checkers on the sample character's
// files cut short or with one field changed, with Cal3D itself writing the
// faulty files so that the checkers are not tested against their own idea of
// the format.
#include <cal3d/cal3d.h>
#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fuzz/model_input.h"
#include "formats/cal3d_check.h"
#include "formats/whole_file.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/rows.h"
#include "support/stage_fixture.h"
#include "ical3dstate.h"

namespace {

namespace fs = std::filesystem;
using rigweave::Cal3DCheck;
using rigweave::Cal3DKind;
using rwtest::ModelFolder;
using rwtest::ReadBytes;

const std::string kId = kRigweaveClassId;
const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";

using Bytes = std::vector<uint8_t>;

Cal3DCheck Check(Cal3DKind kind, const Bytes& bytes, int boneCount) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return rigweave::CheckSkeleton(bytes.data(), bytes.size());
    case Cal3DKind::Animation:
      return rigweave::CheckAnimation(bytes.data(), bytes.size(), boneCount);
    case Cal3DKind::Mesh:
      return rigweave::CheckMesh(bytes.data(), bytes.size(), boneCount);
    case Cal3DKind::Material:
      return rigweave::CheckMaterial(bytes.data(), bytes.size());
  }
  return {};
}

std::string Reason(const Cal3DCheck& check) {
  return check.reason == nullptr ? "ok" : check.reason;
}

class Cal3DFiles : public rwtest::StageTest {};

TEST_F(Cal3DFiles, EveryFuzzReproducerIsRefusedWithItsReason) {
  // What each reproducer now answers: the file named and the first fault
  // met walking it (not always the one the fuzzer tripped on in Cal3D).
  const std::map<std::string, std::string> expected = {
      {"animation-huge-keyframe-count", "wave.caf (track bone out of range)"},
      {"animation-track-bone-out-of-range", "walk.caf (track bone out of range)"},
      {"animation-truncated-track", "wave.caf (keyframe count out of range)"},
      {"material-huge-map-count", "skin.crf (map count out of range)"},
      {"material-huge-map-name-length", "shirt.crf (map count out of range)"},
      {"material-truncated-map-name", "skin.crf (truncated map name)"},
      {"mesh-collapse-id-out-of-range", "hero_body.cmf (face index out of range)"},
      {"mesh-face-index-out-of-range", "hero_body.cmf (face index out of range)"},
      {"mesh-huge-influence-count", "hero_gear.cmf (face index out of range)"},
      {"mesh-huge-vertex-count", "hero_gear.cmf (face index out of range)"},
      {"mesh-influence-bone-out-of-range", "hero_gear.cmf (influence bone out of range)"},
      {"mesh-negative-vertex-count", "hero_body.cmf (face index out of range)"},
      {"mesh-submesh-fields-swapped", "hero_gear.cmf (level-of-detail count out of range)"},
      {"skeleton-bone-link-out-of-range", "hero.csf (bone child out of range)"},
      {"skeleton-parent-out-of-range", "hero.csf (bone parent out of range)"},
      {"skeleton-truncated-bone-name", "hero.csf (bone count out of range)"},
  };
  const std::vector<std::string> names = rwfuzz::ModelFiles(kModels);
  ASSERT_FALSE(names.empty());
  std::vector<std::string> pristine;
  for (const std::string& name : names) {
    pristine.emplace_back();
    ASSERT_TRUE(rwfuzz::ReadWholeFile(kModels + name, pristine.back()));
  }

  ModelFolder folder;
  Use(folder);
  const fs::path dir = fs::path(RIGWEAVE_SOURCE_DIR) / "fuzz/regressions/fuzz_load_model";
  int replayed = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".md") continue;
    SCOPED_TRACE(name);
    const auto found = expected.find(name);
    ASSERT_NE(found, expected.end()) << "a new reproducer needs its expected answer here";
    std::string input;
    ASSERT_TRUE(rwfuzz::ReadWholeFile(entry.path().string(), input));
    ASSERT_GE(input.size(), 2u);
    for (size_t i = 0; i < names.size(); i++) folder.WriteFile(names[i], pristine[i]);
    const size_t file = static_cast<uint8_t>(input[0]) % names.size();
    const auto* args = reinterpret_cast<const uint8_t*>(input.data()) + 1;
    folder.WriteFile(names[file], rwfuzz::Mutate(pristine[file], args, input.size() - 1));

    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = true;
    const std::string printed = LoadPrinting(mesh.get(), rwfuzz::kModelName, &loaded);
    EXPECT_FALSE(loaded);
    const std::string last = kId + ": Invalid Cal3D file " + found->second + "\n";
    ASSERT_GE(printed.size(), last.size());
    EXPECT_EQ(printed.substr(printed.size() - last.size()), last);
    EXPECT_FALSE(DrawOnce(mesh.get()));
    EXPECT_EQ(stage->GetGraphics()->DrawsRejected(), 0);
    replayed++;
  }
  EXPECT_GE(replayed, 14);
}

TEST_F(Cal3DFiles, RulesAcrossFilesAndNamesHoldThroughALoad) {
  ModelFolder folder;
  Use(folder);
  for (const char* name : {"hero.csf", "hero_body.cmf", "walk.caf"}) {
    std::string bytes;
    ASSERT_TRUE(rwfuzz::ReadWholeFile(kModels + name, bytes));
    folder.WriteFile(name, bytes);
  }
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  struct Case {
    const char* config;
    bool loads;
    const char* last;
  };
  const Case cases[] = {
      {"skeleton = hero.csf\nmesh = hero_body.cmf\nanimation = walk.caf\n", true,
       ": Loading animation walk.caf"},
      // The mesh was checked against the first skeleton's bones.
      {"skeleton = hero.csf\nmesh = hero_body.cmf\nskeleton = one.csf\n", false,
       ": Invalid Cal3D file one.csf (fewer bones than the skeleton it replaces)"},
      {"skeleton = one.csf\nskeleton = hero.csf\nmesh = hero_body.cmf\n", true,
       ": Loading mesh hero_body.cmf"},
      // As Cal3D: nothing loads before a skeleton.
      {"mesh = hero_body.cmf\n", false, ": No skeleton before hero_body.cmf"},
      // A header of the older XML files, and no skeleton after it.
      {"skeleton = hero.xsf\n", false,
       ": Invalid Cal3D file hero.xsf (not an XML Cal3D file of this kind)"},
  };
  folder.WriteFile("hero.xsf", "<HEADER MAGIC=\"XSF\" VERSION=\"919\" />");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    folder.WriteFile("t.cfg", c.config);
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = !c.loads;
    const std::string printed = LoadPrinting(mesh.get(), "t.cfg", &loaded);
    EXPECT_EQ(loaded, c.loads);
    const std::string last = kId + c.last + "\n";
    ASSERT_GE(printed.size(), last.size());
    EXPECT_EQ(printed.substr(printed.size() - last.size()), last);
  }
}

struct SampleFile {
  const char* name;
  Cal3DKind kind;
};
const SampleFile kSamples[] = {
    {"hero.csf", Cal3DKind::Skeleton},     {"idle.caf", Cal3DKind::Animation},
    {"walk.caf", Cal3DKind::Animation},    {"wave.caf", Cal3DKind::Animation},
    {"jump.caf", Cal3DKind::Animation},    {"hero_body.cmf", Cal3DKind::Mesh},
    {"hero_gear.cmf", Cal3DKind::Mesh},    {"large.cmf", Cal3DKind::Mesh},
    {"skin.crf", Cal3DKind::Material},     {"shirt.crf", Cal3DKind::Material},
    {"trousers.crf", Cal3DKind::Material}, {"belt.crf", Cal3DKind::Material},
    {"boots.crf", Cal3DKind::Material},    {"hair.crf", Cal3DKind::Material},
};

int SampleBoneCount() {
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(kModels + "hero.csf");
  return skeleton ? static_cast<int>(skeleton->getVectorCoreBone().size()) : 0;
}

TEST(Cal3DCheck, SampleFilesPassAndEveryCutIsRefused) {
  const int bones = SampleBoneCount();
  ASSERT_GT(bones, 1);
  for (const SampleFile& sample : kSamples) {
    SCOPED_TRACE(sample.name);
    const Bytes bytes = ReadBytes(kModels + sample.name);
    const Cal3DCheck check = Check(sample.kind, bytes, bones);
    EXPECT_EQ(Reason(check), "ok");
    if (sample.kind == Cal3DKind::Skeleton) {
      EXPECT_EQ(check.boneCount, bones);
    }
    // One bone fewer than the files use.
    if (sample.kind == Cal3DKind::Animation || sample.kind == Cal3DKind::Mesh) {
      EXPECT_NE(Reason(Check(sample.kind, bytes, 1)), "ok");
    }

    // Every cut through the headers, then a few thousand spread over the rest.
    const size_t stride = std::max<size_t>(1, bytes.size() / 3000);
    for (size_t cut = 0; cut < bytes.size(); cut += cut < 512 ? 1 : stride) {
      const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<long>(cut));
      EXPECT_NE(Reason(Check(sample.kind, prefix, bones)), "ok") << "cut at " << cut;
    }
  }
}

TEST(Cal3DCheck, XmlNamesAreRecognisedAsCal3DPicksThem) {
  EXPECT_TRUE(rigweave::NamesCal3DXmlFile("hero.xsf", Cal3DKind::Skeleton));
  EXPECT_TRUE(rigweave::NamesCal3DXmlFile("HERO.XSF", Cal3DKind::Skeleton));
  // Cal3D looks at the last three characters only.
  EXPECT_TRUE(rigweave::NamesCal3DXmlFile("heroxaf", Cal3DKind::Animation));
  EXPECT_TRUE(rigweave::NamesCal3DXmlFile("a.XmF", Cal3DKind::Mesh));
  EXPECT_TRUE(rigweave::NamesCal3DXmlFile("a.xrf", Cal3DKind::Material));
  EXPECT_FALSE(rigweave::NamesCal3DXmlFile("a.xsf", Cal3DKind::Mesh));
  EXPECT_FALSE(rigweave::NamesCal3DXmlFile("a.csf", Cal3DKind::Skeleton));
  EXPECT_FALSE(rigweave::NamesCal3DXmlFile("sf", Cal3DKind::Skeleton));
}

// Files written by Cal3D's own saver from objects with one fault each.

struct BoneLinks {
  int parent;
  std::vector<int> children;
};

Bytes SavedSkeleton(const ModelFolder& folder, const std::vector<BoneLinks>& bones) {
  CalCoreSkeletonPtr skeleton = new CalCoreSkeleton();
  for (size_t i = 0; i < bones.size(); i++) {
    auto* bone = new CalCoreBone("bone" + std::to_string(i));
    bone->setParentId(bones[i].parent);
    for (int child : bones[i].children) bone->addChildId(child);
    bone->setCoreSkeleton(skeleton.get());
    skeleton->addCoreBone(bone);
  }
  EXPECT_TRUE(CalSaver::saveCoreSkeleton(folder.Path("t.csf"), skeleton.get()));
  return ReadBytes(folder.Path("t.csf"));
}

// Cal3D walks a chain of bones recursively: a chain as deep as the limit
// loads in both forms, one bone more is refused naming its depth, whichever
// bone the chain hangs from and in whatever order the bones are listed.
TEST(Cal3DCheck, BoneChainsUpToTheDepthLimitPassAndDeeperAreRefused) {
  const int limit = rigweave::kMaxBoneDepth;
  for (bool xml : {false, true}) {
    for (int bones : {limit, limit + 1}) {
      SCOPED_TRACE(std::string(xml ? "XML " : "binary ") + std::to_string(bones));
      const std::string file = rwfuzz::ChainSkeleton(bones, xml);
      Bytes bytes(file.begin(), file.end());
      const Cal3DCheck check =
          rigweave::PrepareCal3DFile(xml ? "t.xsf" : "t.csf", Cal3DKind::Skeleton, bytes, 0);
      EXPECT_EQ(check.depth, bones);
      EXPECT_EQ(check.Text(), bones > limit ? "bone hierarchy too deep (" + std::to_string(bones) +
                                                  " levels, at most " + std::to_string(limit) + ")"
                                            : "");
      if (bones == limit) {
        EXPECT_TRUE(CalLoader::loadCoreSkeleton(bytes.data()));
      }
    }
  }
  // A chain below a second root, listed leaf first: the levels count from
  // the root whatever the order.
  ModelFolder folder;
  std::vector<BoneLinks> reversed(static_cast<size_t>(limit) + 2);
  const int count = static_cast<int>(reversed.size());
  reversed[static_cast<size_t>(count - 1)] = {-1, {count - 2}};  // root of the chain
  reversed[0] = {-1, {}};                                        // a root on its own
  for (int i = 1; i < count - 1; i++) {
    reversed[static_cast<size_t>(i)].parent = i + 1;
    if (i > 1) reversed[static_cast<size_t>(i)].children = {i - 1};
  }
  Bytes deep = SavedSkeleton(folder, reversed);
  EXPECT_EQ(Check(Cal3DKind::Skeleton, deep, 0).depth, limit + 1);
  EXPECT_EQ(Reason(Check(Cal3DKind::Skeleton, deep, 0)), "bone hierarchy too deep");
  reversed[static_cast<size_t>(count - 1)] = {-1, {}};
  reversed[static_cast<size_t>(count - 2)].parent = -1;
  deep = SavedSkeleton(folder, reversed);
  EXPECT_EQ(Reason(Check(Cal3DKind::Skeleton, deep, 0)), "ok");
  EXPECT_EQ(Check(Cal3DKind::Skeleton, deep, 0).depth, limit);
}

struct MeshFields {
  int vertices = 4;
  std::vector<std::array<int, 3>> faces = {{0, 1, 2}, {0, 2, 3}};
  int lodCount = 0;
  std::vector<int> collapseIds = {-1, -1, -1, -1};
  std::vector<int> faceCollapses = {0, 0, 0, 0};
  int influenceBone = 0;
  std::vector<std::array<int, 2>> springs;
  int texelSets = 1;
};

Bytes SavedMesh(const ModelFolder& folder, const MeshFields& fields) {
  CalCoreMeshPtr mesh = new CalCoreMesh();
  auto* sub = new CalCoreSubmesh();
  sub->reserve(fields.vertices, fields.texelSets, static_cast<int>(fields.faces.size()),
               static_cast<int>(fields.springs.size()));
  sub->setLodCount(fields.lodCount);
  for (int i = 0; i < fields.vertices; i++) {
    CalCoreSubmesh::Vertex vertex;
    vertex.position = CalVector(static_cast<float>(i % 2), static_cast<float>(i / 2), 0);
    vertex.normal = CalVector(0, 0, 1);
    vertex.collapseId = fields.collapseIds[static_cast<size_t>(i)];
    vertex.faceCollapseCount = fields.faceCollapses[static_cast<size_t>(i)];
    vertex.vectorInfluence.push_back({fields.influenceBone, 1.0f});
    sub->setVertex(i, vertex);
    for (int set = 0; set < fields.texelSets; set++) sub->setTextureCoordinate(i, set, {0, 0});
    if (!fields.springs.empty()) sub->setPhysicalProperty(i, {1.0f});
  }
  for (size_t f = 0; f < fields.faces.size(); f++) {
    CalCoreSubmesh::Face face;
    for (int k = 0; k < 3; k++) face.vertexId[k] = fields.faces[f][static_cast<size_t>(k)];
    sub->setFace(static_cast<int>(f), face);
  }
  for (size_t s = 0; s < fields.springs.size(); s++) {
    CalCoreSubmesh::Spring spring;
    spring.vertexId[0] = fields.springs[s][0];
    spring.vertexId[1] = fields.springs[s][1];
    spring.springCoefficient = 1;
    spring.idleLength = 1;
    sub->setSpring(static_cast<int>(s), spring);
  }
  mesh->addCoreSubmesh(sub);
  EXPECT_TRUE(CalSaver::saveCoreMesh(folder.Path("t.cmf"), mesh.get()));
  return ReadBytes(folder.Path("t.cmf"));
}

Bytes SavedAnimation(const ModelFolder& folder, float duration, int bone) {
  CalCoreAnimationPtr animation = new CalCoreAnimation();
  animation->setDuration(duration);
  auto* track = new CalCoreTrack();
  track->create();
  track->setCoreBoneId(bone);
  auto* key = new CalCoreKeyframe();
  key->create();
  key->setTime(0);
  track->addCoreKeyframe(key);
  animation->addCoreTrack(track);
  EXPECT_TRUE(CalSaver::saveCoreAnimation(folder.Path("t.caf"), animation.get()));
  for (CalCoreTrack* t : animation->getListCoreTrack()) {
    t->destroy();
    delete t;
  }
  animation->getListCoreTrack().clear();
  return ReadBytes(folder.Path("t.caf"));
}

Bytes Patched(Bytes bytes, size_t at, int32_t value) {
  std::memcpy(bytes.data() + at, &value, 4);
  return bytes;
}

// A file Cal3D's saver wrote, with one field changed, and the reason the
// checks give for it.
struct FaultyField {
  const char* name;
  Cal3DKind kind;
  Bytes bytes;
  const char* reason;
  friend void PrintTo(const FaultyField& row, std::ostream* out) { *out << row.name; }
};
// The skeleton's bones, which a mesh's and an animation's are checked against.
const std::vector<BoneLinks> kTree = {{-1, {1}}, {0, {2}}, {1, {}}};

std::vector<FaultyField> FaultyFieldRows() {
  ModelFolder folder;
  const std::vector<BoneLinks>& tree = kTree;
  const Bytes skeleton = SavedSkeleton(folder, tree);
  // Bone 0's name "bone0" is 6 bytes with its NUL: its length field sits at
  // 12, its parent id after the name and 14 pose floats.
  const size_t nameLength = 12, firstParent = 16 + 6 + 56;
  const MeshFields mesh;
  const Bytes goodMesh = SavedMesh(folder, mesh);
  // Sub-mesh header fields after magic, version and sub-mesh count.
  const size_t vertexCount = 16, faceCount = 20, lodCount = 24, springCount = 28, texelSets = 32;
  const Bytes animation = SavedAnimation(folder, 1.0f, 2);
  const size_t trackCount = 12, keyframeCount = 20;

  using Case = FaultyField;
  auto meshWith = [&](std::function<void(MeshFields&)> change) {
    MeshFields fields;
    change(fields);
    return SavedMesh(folder, fields);
  };
  const std::vector<Case> cases = {
      {"good skeleton", Cal3DKind::Skeleton, skeleton, "ok"},
      {"no bones", Cal3DKind::Skeleton, Patched(skeleton, 8, 0), "no bones"},
      {"2^31 - 1 bones", Cal3DKind::Skeleton, Patched(skeleton, 8, 0x7fffffff),
       "bone count out of range"},
      {"name length 0", Cal3DKind::Skeleton, Patched(skeleton, nameLength, 0),
       "malformed bone name"},
      {"name without its NUL", Cal3DKind::Skeleton, Patched(skeleton, nameLength, 5),
       "malformed bone name"},
      {"name longer than the file", Cal3DKind::Skeleton, Patched(skeleton, nameLength, 1 << 30),
       "truncated bone name"},
      {"parent past the last bone", Cal3DKind::Skeleton, Patched(skeleton, firstParent, 3),
       "bone parent out of range"},
      {"parent -2", Cal3DKind::Skeleton, Patched(skeleton, firstParent, -2),
       "bone parent out of range"},
      {"child past the last bone", Cal3DKind::Skeleton,
       SavedSkeleton(folder, {{-1, {3}}, {0, {2}}, {1, {}}}), "bone child out of range"},
      {"child whose parent is another bone", Cal3DKind::Skeleton,
       SavedSkeleton(folder, {{-1, {1, 2}}, {0, {2}}, {1, {}}}), "bone child whose parent differs"},
      {"child listed twice", Cal3DKind::Skeleton, SavedSkeleton(folder, {{-1, {1, 1}}, {0, {}}}),
       "bone listed as a child twice"},
      {"bones that are each other's parent", Cal3DKind::Skeleton,
       SavedSkeleton(folder, {{-1, {}}, {2, {2}}, {1, {1}}}), "bone hierarchy with a cycle"},
      {"bone its own child", Cal3DKind::Skeleton, SavedSkeleton(folder, {{0, {0}}}),
       "bone hierarchy with a cycle"},

      {"good mesh", Cal3DKind::Mesh, goodMesh, "ok"},
      {"negative sub-mesh count", Cal3DKind::Mesh, Patched(goodMesh, 8, -1),
       "sub-mesh count out of range"},
      {"negative vertex count", Cal3DKind::Mesh, Patched(goodMesh, vertexCount, -1),
       "vertex count out of range"},
      {"2^31 - 1 vertices", Cal3DKind::Mesh, Patched(goodMesh, vertexCount, 0x7fffffff),
       "vertex count out of range"},
      {"2^24 faces", Cal3DKind::Mesh, Patched(goodMesh, faceCount, 1 << 24),
       "face count out of range"},
      {"negative spring count", Cal3DKind::Mesh, Patched(goodMesh, springCount, -1),
       "spring count out of range"},
      {"2^28 texture coordinate sets", Cal3DKind::Mesh, Patched(goodMesh, texelSets, 1 << 28),
       "texture coordinate count out of range"},
      {"texture sets for no vertices", Cal3DKind::Mesh,
       Patched(Patched(Patched(goodMesh, vertexCount, 0), faceCount, 0), texelSets, 1 << 20),
       "texture coordinate count out of range"},
      {"as many texture sets as a sub-mesh may have", Cal3DKind::Mesh,
       Patched(Patched(Patched(goodMesh, vertexCount, 0), faceCount, 0), texelSets, 16), "ok"},
      {"one texture set more", Cal3DKind::Mesh,
       Patched(Patched(Patched(goodMesh, vertexCount, 0), faceCount, 0), texelSets, 17),
       "texture coordinate count out of range"},
      {"lod count past the vertices", Cal3DKind::Mesh, Patched(goodMesh, lodCount, 5),
       "level-of-detail count out of range"},
      {"face index = vertex count", Cal3DKind::Mesh,
       meshWith([](MeshFields& m) { m.faces[1][2] = 4; }), "face index out of range"},
      {"face index -1", Cal3DKind::Mesh, meshWith([](MeshFields& m) { m.faces[0][0] = -1; }),
       "face index out of range"},
      {"influence of the bone past the last", Cal3DKind::Mesh,
       meshWith([](MeshFields& m) { m.influenceBone = 3; }), "influence bone out of range"},
      {"influence of bone -1", Cal3DKind::Mesh,
       meshWith([](MeshFields& m) { m.influenceBone = -1; }), "influence bone out of range"},
      {"spring to a vertex past the last", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.springs = {{0, 4}};
       }),
       "spring vertex out of range"},
      {"springs in range", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.springs = {{0, 3}};
       }),
       "ok"},
      // Quad 0 1 2 3 with faces {0 1 2} {0 2 3}: 3 collapses onto 2 and
      // takes the second face, 2 onto 0 and takes the first; 1 collapses
      // with no face left, and 0 is the root of the chain.
      {"collapse roots as exporters write them", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 4;
         m.collapseIds = {-1, 0, 0, 2};
         m.faceCollapses = {0, 0, 1, 1};
       }),
       "ok"},
      {"two roots, one at the start of the collapsible range", Cal3DKind::Mesh,
       meshWith([](MeshFields& m) {
         m.lodCount = 3;
         m.collapseIds = {-1, -1, 0, 2};
         m.faceCollapses = {0, 0, 1, 1};
       }),
       "ok"},
      {"a kept face reaches a root", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 3;
         m.collapseIds = {-1, -1, 1, 2};
         m.faceCollapses = {0, 0, 0, 1};
       }),
       "collapse id out of range at some level of detail"},
      {"collapse onto a later vertex and back", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 2;
         m.collapseIds = {-1, -1, 3, 2};
       }),
       "collapse id out of range at some level of detail"},
      {"a cycle only dropped faces reach", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 2;
         m.collapseIds = {-1, -1, 3, 2};
         m.faceCollapses = {0, 0, 1, 1};
         m.faces = {{0, 1, 0}, {1, 2, 3}};
       }),
       "ok"},
      {"collapse of a kept face's vertex past the vertices", Cal3DKind::Mesh,
       meshWith([](MeshFields& m) {
         m.lodCount = 1;
         m.collapseIds = {-1, -1, -1, 7};
       }),
       "collapse id out of range at some level of detail"},
      // Never followed: only vertices a level drops are collapsed.
      {"collapse data outside the collapsible range", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.collapseIds = {-1, 7, -9, -1};
         m.faceCollapses = {0, -1, 5, 0};
       }),
       "ok"},
      {"more faces collapsing than there are", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 2;
         m.collapseIds = {-1, -1, 0, 1};
         m.faceCollapses = {0, 0, 2, 1};
       }),
       "face collapse count out of range"},
      {"negative face collapse count", Cal3DKind::Mesh, meshWith([](MeshFields& m) {
         m.lodCount = 2;
         m.collapseIds = {-1, -1, 0, 1};
         m.faceCollapses = {0, 0, 0, -1};
       }),
       "face collapse count out of range"},

      {"good animation", Cal3DKind::Animation, animation, "ok"},
      {"zero duration", Cal3DKind::Animation, Patched(animation, 8, 0),
       "duration not a finite positive number"},
      {"infinite duration", Cal3DKind::Animation, Patched(animation, 8, 0x7f800000),
       "duration not a finite positive number"},
      {"NaN duration", Cal3DKind::Animation, Patched(animation, 8, 0x7fc00000),
       "duration not a finite positive number"},
      {"no tracks", Cal3DKind::Animation, Patched(animation, trackCount, 0), "no tracks"},
      {"2^30 tracks", Cal3DKind::Animation, Patched(animation, trackCount, 1 << 30),
       "track count out of range"},
      {"track of the bone past the last", Cal3DKind::Animation, SavedAnimation(folder, 1.0f, 3),
       "track bone out of range"},
      {"no keyframes", Cal3DKind::Animation, Patched(animation, keyframeCount, 0),
       "keyframe count out of range"},
      {"2^30 keyframes", Cal3DKind::Animation, Patched(animation, keyframeCount, 1 << 30),
       "keyframe count out of range"},

      {"map count past the file", Cal3DKind::Material,
       Patched(ReadBytes(kModels + "skin.crf"), 24, 1 << 30), "map count out of range"},
      {"magic of another kind", Cal3DKind::Material, skeleton,
       "not a binary Cal3D file of this kind"},
      {"version 1101", Cal3DKind::Skeleton, Patched(skeleton, 4, 1101), "unsupported file version"},
      {"version 698", Cal3DKind::Skeleton, Patched(skeleton, 4, 698), "unsupported file version"},
  };
  return cases;
}

class FaultyFields : public testing::TestWithParam<FaultyField> {};

TEST_P(FaultyFields, AreRefusedWithTheirReason) {
  const FaultyField& c = GetParam();
  EXPECT_EQ(Reason(Check(c.kind, c.bytes, static_cast<int>(kTree.size()))), c.reason);
}

INSTANTIATE_TEST_SUITE_P(Cal3DCheck, FaultyFields, testing::ValuesIn(FaultyFieldRows()),
                         rwtest::RowName());

// What Cal3D makes of a file the checks let through: a model instance with
// the skeleton, mesh and animation, animated, drawn at every level of detail,
// with each face index checked against the vertices handed over.
void ExerciseInCal3D(const Bytes& skeletonBytes, const Bytes& meshBytes,
                     const Bytes& animationBytes) {
  Bytes skeletonCopy = skeletonBytes, meshCopy = meshBytes, animationCopy = animationBytes;
  CalCoreModel core("t");
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(skeletonCopy.data());
  ASSERT_TRUE(skeleton);
  core.setCoreSkeleton(skeleton.get());
  CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(meshCopy.data());
  ASSERT_TRUE(mesh);
  core.addCoreMesh(mesh.get());
  CalCoreAnimationPtr animation =
      CalLoader::loadCoreAnimation(animationCopy.data(), skeleton.get());
  ASSERT_TRUE(animation);
  core.addCoreAnimation(animation.get());
  {
    CalModel model(&core);
    model.attachMesh(0);
    model.getMixer()->blendCycle(0, 1.0f, 0.0f);
    model.update(0.25f);
    // Every level the small meshes here can reach, and a few in between.
    for (int step = 64; step >= 0; step--) {
      model.setLodLevel(static_cast<float>(step) / 64.0f);
      CalRenderer* renderer = model.getRenderer();
      // Refused for a mesh of no sub-meshes, which the module answers as a failed load.
      if (!renderer->beginRendering()) continue;
      for (int sub = 0; sub < renderer->getSubmeshCount(0); sub++) {
        ASSERT_TRUE(renderer->selectMeshSubmesh(0, sub));
        std::vector<float> vertices(3 * static_cast<size_t>(renderer->getVertexCount()) + 3);
        std::vector<CalIndex> faces(3 * static_cast<size_t>(renderer->getFaceCount()) + 3);
        const int vertexCount = renderer->getVertices(vertices.data());
        const int faceCount = renderer->getFaces(faces.data());
        for (int i = 0; i < 3 * faceCount; i++) {
          ASSERT_GE(faces[static_cast<size_t>(i)], 0);
          ASSERT_LT(faces[static_cast<size_t>(i)], vertexCount);
        }
      }
      renderer->endRendering();
    }
  }
  for (CalCoreTrack* track : animation->getListCoreTrack()) {
    track->destroy();
    delete track;
  }
  animation->getListCoreTrack().clear();
}

TEST(Cal3DCheck, WhatPassesAfterAnyOneWordChangesIsSafeInCal3D) {
  ModelFolder folder;
  const Bytes skeleton = SavedSkeleton(folder, {{-1, {1}}, {0, {2}}, {1, {}}});
  MeshFields fields;
  fields.lodCount = 2;
  fields.collapseIds = {-1, -1, 0, 1};
  fields.faceCollapses = {0, 0, 1, 1};
  fields.springs = {{0, 3}};
  const Bytes mesh = SavedMesh(folder, fields);
  // Every vertex collapsible, the chain ending in a root, as exporters write.
  MeshFields rooted;
  rooted.lodCount = 4;
  rooted.collapseIds = {-1, 0, 0, 2};
  rooted.faceCollapses = {0, 0, 1, 1};
  const Bytes rootedMesh = SavedMesh(folder, rooted);
  const Bytes animation = SavedAnimation(folder, 1.0f, 2);
  ExerciseInCal3D(skeleton, mesh, animation);
  ExerciseInCal3D(skeleton, rootedMesh, animation);

  // Words that a damaged count or index most likely turns into.
  const int32_t values[] = {-2, -1, 0, 1, 2, 3, 4, 5, 255, 0x10000, 0x7fffffff, INT32_MIN};
  struct Target {
    Cal3DKind kind;
    const Bytes* bytes;
  };
  for (const Target& target :
       {Target{Cal3DKind::Skeleton, &skeleton}, Target{Cal3DKind::Mesh, &mesh},
        Target{Cal3DKind::Mesh, &rootedMesh}, Target{Cal3DKind::Animation, &animation}}) {
    for (size_t at = 0; at + 4 <= target.bytes->size(); at++) {
      for (int32_t value : values) {
        const Bytes changed = Patched(*target.bytes, at, value);
        const Cal3DCheck check = Check(target.kind, changed, 3);
        if (!check.Ok()) continue;
        SCOPED_TRACE("word at " + std::to_string(at) + " = " + std::to_string(value));
        if (target.kind == Cal3DKind::Skeleton) {
          // Later files were checked against three bones.
          if (check.boneCount < 3) continue;
          ExerciseInCal3D(changed, mesh, animation);
        } else if (target.kind == Cal3DKind::Mesh) {
          ExerciseInCal3D(skeleton, changed, animation);
        } else {
          ExerciseInCal3D(skeleton, mesh, changed);
        }
        if (HasFatalFailure()) return;
      }
    }
  }
}

}  // namespace
