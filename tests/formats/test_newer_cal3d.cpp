// Files of Cal3D's newer line and of the 911-919 lineage, as the generator
// writes them in each layout, read through the module's one checked path and
// then by Cal3D 0.11's own loader: what comes out is compared value by value
// with the 0.11 sample files they were written from, and the morph targets
// with the deltas they were written with.
#include <cal3d/cal3d.h>
#include <cal3d/corekeyframe.h>
#include <cal3d/coresubmorphtarget.h>
#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_newer.h"
#include "formats/cal3d_objects.h"
#include "support/files.h"
#include "sample/newer_files.h"

namespace {

using rigweave::Cal3DKind;

const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";

std::vector<uint8_t> Bytes(const std::string& file) {
  const std::string text = rwtest::ReadFile(kModels + file);
  return {text.begin(), text.end()};
}

int32_t VersionOf(const std::string& file) {
  const std::vector<uint8_t> bytes = Bytes(file);
  int32_t version = 0;
  if (bytes.size() >= 8) std::memcpy(&version, bytes.data() + 4, 4);
  return version;
}

// Cal3D 0.11 refuses files past 1100 by their version. Files of 911 to 919
// it reads in its own layout, which misreads them (a 913 animation makes it
// read keyframes for minutes): it is not given those.
bool Cal3DRefusesOutright(const std::string& file) {
  return VersionOf(file) > 1100;
}

CalCoreSkeletonPtr Skeleton() {
  return CalLoader::loadCoreSkeleton(kModels + "hero.csf");
}

// The file through the module's checked path: translated, checked, bytes
// Cal3D 0.11 reads.
struct Prepared {
  std::vector<uint8_t> bytes;
  rigweave::NewerCal3DContext context;
  std::string reason;
};

Prepared Prepare(const std::string& file, Cal3DKind kind, CalCoreSkeleton* skeleton) {
  Prepared prepared;
  prepared.bytes = Bytes(file);
  const int bones = skeleton ? static_cast<int>(skeleton->getVectorCoreBone().size()) : 0;
  if (skeleton) prepared.context.restTranslations = rigweave::RestTranslations(*skeleton);
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile(file, kind, prepared.bytes, bones, &prepared.context);
  if (!check.Ok()) prepared.reason = check.reason;
  return prepared;
}

void ExpectSameVector(const CalVector& a, const CalVector& b, const std::string& what) {
  EXPECT_EQ(a.x, b.x) << what;
  EXPECT_EQ(a.y, b.y) << what;
  EXPECT_EQ(a.z, b.z) << what;
}

// ---------------------------------------------------------------------------

struct SkeletonRow {
  const char* name;
  const char* file;
  const char* layout;
};

class NewerSkeletons : public ::testing::TestWithParam<SkeletonRow> {};

TEST_P(NewerSkeletons, HoldTheBonesOfTheFileTheyWereWrittenFrom) {
  CalCoreSkeletonPtr original = Skeleton();
  ASSERT_TRUE(original);
  // Cal3D 0.11 refuses the file as it is.
  if (Cal3DRefusesOutright(GetParam().file)) {
    ASSERT_FALSE(CalLoader::loadCoreSkeleton(kModels + GetParam().file));
  }
  Prepared prepared = Prepare(GetParam().file, Cal3DKind::Skeleton, nullptr);
  ASSERT_EQ(prepared.reason, "");
  EXPECT_STREQ(prepared.context.layout, GetParam().layout);
  CalCoreSkeletonPtr read = rigweave::ReadCoreSkeleton(prepared.bytes);
  ASSERT_TRUE(read);
  auto& want = original->getVectorCoreBone();
  auto& got = read->getVectorCoreBone();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) {
    const std::string bone = want[i]->getName();
    EXPECT_EQ(got[i]->getName(), bone);
    ExpectSameVector(got[i]->getTranslation(), want[i]->getTranslation(), bone);
    ExpectSameVector(got[i]->getTranslationBoneSpace(), want[i]->getTranslationBoneSpace(), bone);
    EXPECT_EQ(got[i]->getRotation().w, want[i]->getRotation().w) << bone;
    EXPECT_EQ(got[i]->getRotationBoneSpace().x, want[i]->getRotationBoneSpace().x) << bone;
    EXPECT_EQ(got[i]->getParentId(), want[i]->getParentId()) << bone;
    EXPECT_EQ(got[i]->getListChildId(), want[i]->getListChildId()) << bone;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NewerSkeletons,
    ::testing::Values(
        SkeletonRow{"head_1301", "newer/hero.1301.csf", "the 0.11 layout"},
        SkeletonRow{"lights_2009_1300", "newer/hero.a1300.csf", "scene ambient and bone lights"},
        SkeletonRow{"lights_2017_1300", "newer/hero.l1300.csf", "bone lights"},
        SkeletonRow{"lights_2008_1200", "newer/hero.1200.csf", "scene ambient and bone lights"},
        SkeletonRow{"lineage_915", "newer/hero.915.csf", "scene ambient and bone lights"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

enum class Encoding { Exact, Packed, MinScale };

struct AnimationRow {
  const char* name;
  const char* file;
  const char* original;
  Encoding encoding;
  const char* layout;
};

class NewerAnimations : public ::testing::TestWithParam<AnimationRow> {};

// Keyframes after decoding lie within the encoding's step of the written
// ones: bit-packed translations within half a step (0.2505 / 2 in the small
// range, 0.25 / 2 in the high one), rotations within 1/4094 a component and
// times on the 1/30 s grid; min/scale translations within one step of
// their track's range, times within 1/65535 of the duration.
TEST_P(NewerAnimations, DecodeToTheKeyframesTheyWereWrittenFrom) {
  const AnimationRow& row = GetParam();
  CalCoreSkeletonPtr skeleton = Skeleton();
  ASSERT_TRUE(skeleton);
  CalCoreAnimationPtr original =
      CalLoader::loadCoreAnimation(kModels + row.original, skeleton.get());
  ASSERT_TRUE(original);
  if (Cal3DRefusesOutright(row.file)) {
    ASSERT_FALSE(CalLoader::loadCoreAnimation(kModels + row.file, skeleton.get()));
  }
  Prepared prepared = Prepare(row.file, Cal3DKind::Animation, skeleton.get());
  ASSERT_EQ(prepared.reason, "");
  EXPECT_STREQ(prepared.context.layout, row.layout);
  CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(prepared.bytes, skeleton.get());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->getDuration(), original->getDuration());
  auto& want = original->getListCoreTrack();
  auto& got = read->getListCoreTrack();
  ASSERT_EQ(got.size(), want.size());
  for (auto w = want.begin(), g = got.begin(); w != want.end(); ++w, ++g) {
    ASSERT_EQ((*g)->getCoreBoneId(), (*w)->getCoreBoneId());
    ASSERT_EQ((*g)->getCoreKeyframeCount(), (*w)->getCoreKeyframeCount());
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (int k = 0; k < (*w)->getCoreKeyframeCount(); k++) {
      const CalVector& t = (*w)->getCoreKeyframe(k)->getTranslation();
      const float v[3] = {t.x, t.y, t.z};
      for (int a = 0; a < 3; a++) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
    }
    for (int k = 0; k < (*w)->getCoreKeyframeCount(); k++) {
      CalCoreKeyframe* a = (*w)->getCoreKeyframe(k);
      CalCoreKeyframe* b = (*g)->getCoreKeyframe(k);
      const std::string where =
          "bone " + std::to_string((*w)->getCoreBoneId()) + " keyframe " + std::to_string(k);
      const float ta[3] = {a->getTranslation().x, a->getTranslation().y, a->getTranslation().z};
      const float tb[3] = {b->getTranslation().x, b->getTranslation().y, b->getTranslation().z};
      const CalQuaternion &qa = a->getRotation(), &qb = b->getRotation();
      const double dot = qa.x * qb.x + qa.y * qb.y + qa.z * qb.z + qa.w * qb.w;
      switch (row.encoding) {
        case Encoding::Exact:
          EXPECT_EQ(b->getTime(), a->getTime()) << where;
          for (int i = 0; i < 3; i++) EXPECT_EQ(tb[i], ta[i]) << where;
          EXPECT_EQ(qb.x, qa.x) << where;
          EXPECT_EQ(qb.w, qa.w) << where;
          break;
        case Encoding::Packed:
          EXPECT_NEAR(b->getTime(), std::floor(a->getTime() * 30 + 0.5) / 30, 1e-5) << where;
          for (int i = 0; i < 3; i++) EXPECT_NEAR(tb[i], ta[i], 0.2505 / 2 + 1e-4) << where;
          EXPECT_GT(std::fabs(dot), 1 - 2e-6) << where;
          break;
        case Encoding::MinScale:
          EXPECT_NEAR(b->getTime(), a->getTime(), original->getDuration() / 65535.0 + 1e-6)
              << where;
          for (int i = 0; i < 3; i++)
            EXPECT_NEAR(tb[i], ta[i], (hi[i] - lo[i]) / 1023.0 + 1e-4) << where;
          EXPECT_GT(std::fabs(dot), 1 - 1e-6) << where;
          break;
      }
    }
  }
  rigweave::FreeTracks(*original);
  rigweave::FreeTracks(*read);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NewerAnimations,
    ::testing::Values(AnimationRow{"head_1300_packed_small_range", "newer/idle.1300.caf",
                                   "idle.caf", Encoding::Packed, "compression flag"},
                      AnimationRow{"head_1301_packed_high_range", "newer/walk.1301.caf", "walk.caf",
                                   Encoding::Packed, "compression flag and track flags"},
                      AnimationRow{"head_1300_plain", "newer/wave.1300 plain.caf", "wave.caf",
                                   Encoding::Exact, "compression flag"},
                      AnimationRow{"head_1150", "newer/jump.1150.caf", "jump.caf", Encoding::Exact,
                                   "plain tracks"},
                      AnimationRow{"a_1300_flags_packed", "newer/idle.a1300.caf", "idle.caf",
                                   Encoding::Packed, "compression flag and track flags"},
                      AnimationRow{"a_1300_flags_plain", "newer/walk.a1300.caf", "walk.caf",
                                   Encoding::Exact, "compression flag and track flags"},
                      AnimationRow{"u12_1200_min_scale", "newer/walk.1200.caf", "walk.caf",
                                   Encoding::MinScale, "track flags (0.12)"},
                      AnimationRow{"u12_1200_plain", "newer/idle.1200.caf", "idle.caf",
                                   Encoding::Exact, "track flags (0.12)"},
                      AnimationRow{"lineage_911_plain", "newer/idle.911.caf", "idle.caf",
                                   Encoding::Exact, "plain tracks"},
                      AnimationRow{"lineage_913_packed", "newer/walk.913.caf", "walk.caf",
                                   Encoding::Packed, "bit-packed tracks"},
                      // 916 and 917 carry the values unpacked too: those are taken.
                      AnimationRow{"lineage_916_raw_rotations", "newer/wave.916.caf", "wave.caf",
                                   Encoding::Packed, "bit-packed tracks"},
                      AnimationRow{"lineage_917_raw_values", "newer/jump.917.caf", "jump.caf",
                                   Encoding::Packed, "bit-packed tracks"},
                      AnimationRow{"lineage_919_compression_flag", "newer/walk.919.caf", "walk.caf",
                                   Encoding::Packed, "compression flag"}),
    [](const auto& info) { return std::string(info.param.name); });

// The raw floats of 916 and 917 are taken over the packed values.
TEST(NewerAnimationValues, LineageRawFloatsAreTakenExactly) {
  CalCoreSkeletonPtr skeleton = Skeleton();
  CalCoreAnimationPtr original = CalLoader::loadCoreAnimation(kModels + "jump.caf", skeleton.get());
  Prepared prepared = Prepare("newer/jump.917.caf", Cal3DKind::Animation, skeleton.get());
  ASSERT_EQ(prepared.reason, "");
  CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(prepared.bytes, skeleton.get());
  ASSERT_TRUE(original && read);
  CalCoreTrack* a = original->getListCoreTrack().front();
  CalCoreTrack* b = read->getListCoreTrack().front();
  for (int k = 0; k < a->getCoreKeyframeCount(); k++) {
    EXPECT_EQ(b->getCoreKeyframe(k)->getRotation().x, a->getCoreKeyframe(k)->getRotation().x);
    EXPECT_EQ(b->getCoreKeyframe(k)->getTranslation().z, a->getCoreKeyframe(k)->getTranslation().z);
  }
  rigweave::FreeTracks(*original);
  rigweave::FreeTracks(*read);
}

// ---------------------------------------------------------------------------

struct MeshRow {
  const char* name;
  const char* file;
  const char* original;
  bool morphs;
  const char* layout;
};

class NewerMeshes : public ::testing::TestWithParam<MeshRow> {};

// Geometry as written, and each morph block as a dense 0.11 morph target:
// the base vertex plus the block's delta where it lists the vertex, the base
// elsewhere, whether the file held deltas or absolute targets.
TEST_P(NewerMeshes, HoldTheGeometryAndDenseMorphTargets) {
  const MeshRow& row = GetParam();
  CalCoreSkeletonPtr skeleton = Skeleton();
  CalCoreMeshPtr original = CalLoader::loadCoreMesh(kModels + row.original);
  CalCoreMeshPtr body = CalLoader::loadCoreMesh(kModels + "hero_body.cmf");
  CalCoreMeshPtr gear = CalLoader::loadCoreMesh(kModels + "hero_gear.cmf");
  ASSERT_TRUE(original && body && gear);
  if (Cal3DRefusesOutright(row.file)) {
    ASSERT_FALSE(CalLoader::loadCoreMesh(kModels + row.file));
  }
  Prepared prepared = Prepare(row.file, Cal3DKind::Mesh, skeleton.get());
  ASSERT_EQ(prepared.reason, "");
  EXPECT_STREQ(prepared.context.layout, row.layout);
  CalCoreMeshPtr read =
      rigweave::ReadCoreMesh(prepared.bytes, false, prepared.context.morphTargets);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->getCoreSubmeshCount(), original->getCoreSubmeshCount());

  const std::vector<rwsample::MorphDef> morphs =
      row.morphs ? rwsample::FaceMorphs(*original, rwsample::HeadLevel({body.get(), gear.get()}))
                 : std::vector<rwsample::MorphDef>{};
  size_t morphsSeen = 0;
  for (int s = 0; s < original->getCoreSubmeshCount(); s++) {
    CalCoreSubmesh* want = original->getCoreSubmesh(s);
    CalCoreSubmesh* got = read->getCoreSubmesh(s);
    ASSERT_EQ(got->getVertexCount(), want->getVertexCount());
    ASSERT_EQ(got->getFaceCount(), want->getFaceCount());
    EXPECT_EQ(got->getLodCount(), want->getLodCount());
    EXPECT_EQ(got->getCoreMaterialThreadId(), want->getCoreMaterialThreadId());
    const auto& wv = want->getVectorVertex();
    const auto& gv = got->getVectorVertex();
    for (size_t v = 0; v < wv.size(); v++) {
      ExpectSameVector(gv[v].position, wv[v].position, "vertex " + std::to_string(v));
      ExpectSameVector(gv[v].normal, wv[v].normal, "vertex " + std::to_string(v));
      EXPECT_EQ(gv[v].collapseId, wv[v].collapseId);
      ASSERT_EQ(gv[v].vectorInfluence.size(), wv[v].vectorInfluence.size());
      for (size_t i = 0; i < wv[v].vectorInfluence.size(); i++) {
        EXPECT_EQ(gv[v].vectorInfluence[i].boneId, wv[v].vectorInfluence[i].boneId);
        EXPECT_EQ(gv[v].vectorInfluence[i].weight, wv[v].vectorInfluence[i].weight);
      }
    }
    EXPECT_EQ(got->getVectorVectorTextureCoordinate().size(),
              want->getVectorVectorTextureCoordinate().size());
    for (int f = 0; f < want->getFaceCount(); f++)
      for (int c = 0; c < 3; c++)
        ASSERT_EQ(got->getVectorFace()[f].vertexId[c], want->getVectorFace()[f].vertexId[c]);

    int index = 0;
    for (const rwsample::MorphDef& morph : morphs) {
      if (morph.submesh != s) continue;
      ASSERT_LT(index, got->getCoreSubMorphTargetCount()) << morph.name;
      auto& blend = got->getCoreSubMorphTarget(index)->getVectorBlendVertex();
      ASSERT_EQ(blend.size(), wv.size());
      std::vector<const rwsample::MorphRecordDef*> byVertex(wv.size(), nullptr);
      for (const auto& record : morph.records)
        byVertex[static_cast<size_t>(record.vertex)] = &record;
      for (size_t v = 0; v < wv.size(); v++) {
        CalVector position = wv[v].position, normal = wv[v].normal;
        if (byVertex[v] != nullptr) {
          position += CalVector(byVertex[v]->dp[0], byVertex[v]->dp[1], byVertex[v]->dp[2]);
          normal += CalVector(byVertex[v]->dn[0], byVertex[v]->dn[1], byVertex[v]->dn[2]);
        }
        const std::string where = morph.name + " vertex " + std::to_string(v);
        ExpectSameVector(blend[v].position, position, where);
        ExpectSameVector(blend[v].normal, normal, where);
      }
      EXPECT_EQ(prepared.context.morphTargets[morphsSeen].name, morph.name);
      index++;
      morphsSeen++;
    }
    EXPECT_EQ(got->getCoreSubMorphTargetCount(), index) << "sub-mesh " << s;
  }
  EXPECT_EQ(prepared.context.morphTargets.size(), morphs.size());
  if (row.morphs) {
    EXPECT_GT(morphs.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NewerMeshes,
    ::testing::Values(MeshRow{"head_1300_counted_body", "newer/hero body.001.cmf", "hero_body.cmf",
                              true, "morph blocks counted"},
                      MeshRow{"head_1300_counted_gear", "newer/hero gear.001.cmf", "hero_gear.cmf",
                              true, "morph blocks counted"},
                      MeshRow{"head_1301_counted", "newer/hero body.1301.cmf", "hero_body.cmf",
                              true, "morph blocks counted"},
                      MeshRow{"a_1300_colours_ended_deltas", "newer/hero body.a1300.cmf",
                              "hero_body.cmf", true, "vertex colours, morph blocks ended by an id"},
                      MeshRow{"a_1300_colours_ended_absolute", "newer/hero gear.a1300.cmf",
                              "hero_gear.cmf", true, "vertex colours, morph blocks ended by an id"},
                      MeshRow{"march_2017_1300_ended", "newer/hero body.e1300.cmf", "hero_body.cmf",
                              true, "morph blocks ended by an id"},
                      MeshRow{"plain_1200", "newer/hero body.1200.cmf", "hero_body.cmf", false,
                              "the 0.11 layout"},
                      MeshRow{"a_1200_absolute", "newer/hero gear.1200.cmf", "hero_gear.cmf", true,
                              "vertex colours, morph blocks ended by an id"},
                      MeshRow{"lineage_911_absolute", "newer/hero body.911.cmf", "hero_body.cmf",
                              true, "vertex colours, morph blocks ended by an id"}),
    [](const auto& info) { return std::string(info.param.name); });

// An XML mesh of the newer line: its COLOR elements are dropped and its
// MORPH elements become the dense targets the binary 1300 file of the same
// morphs gives, up to the six digits XML holds; blend vertices out of order
// are refused.
TEST(NewerXmlMeshes, MorphElementsBecomeTheDenseTargetsOfTheBinaryFile) {
  CalCoreSkeletonPtr skeleton = Skeleton();
  Prepared xml = Prepare("newer/hero body.1300.xmf", Cal3DKind::Mesh, skeleton.get());
  Prepared binary = Prepare("newer/hero body.001.cmf", Cal3DKind::Mesh, skeleton.get());
  ASSERT_EQ(xml.reason, "");
  ASSERT_EQ(binary.reason, "");
  const auto& got = xml.context.morphTargets;
  const auto& want = binary.context.morphTargets;
  ASSERT_EQ(got.size(), want.size());
  ASSERT_GT(got.size(), 1u);
  for (size_t m = 0; m < want.size(); m++) {
    EXPECT_EQ(got[m].name, want[m].name);
    EXPECT_EQ(got[m].submesh, want[m].submesh);
    ASSERT_EQ(got[m].positions.size(), want[m].positions.size());
    ASSERT_EQ(got[m].normals.size(), want[m].normals.size());
    for (size_t i = 0; i < want[m].positions.size(); i++) {
      // Six significant digits of the base and of the delta.
      const float near = 1e-5f * (1 + std::fabs(want[m].positions[i]));
      ASSERT_NEAR(got[m].positions[i], want[m].positions[i], near) << want[m].name << " " << i;
      ASSERT_NEAR(got[m].normals[i], want[m].normals[i], 2e-5f) << want[m].name << " " << i;
    }
  }
  EXPECT_TRUE(rigweave::ReadCoreMesh(xml.bytes, false, got));

  std::string text = rwtest::ReadFile(kModels + "newer/hero body.1300.xmf");
  const size_t first = text.find("<BLENDVERTEX VERTEXID=\"");
  const size_t second = text.find("<BLENDVERTEX VERTEXID=\"", first + 1);
  ASSERT_NE(second, std::string::npos);
  const size_t id = second + std::strlen("<BLENDVERTEX VERTEXID=\"");
  text.replace(id, text.find('"', id) - id, "0");
  std::vector<uint8_t> bytes(text.begin(), text.end());
  rigweave::NewerCal3DContext context;
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile("out of order.xmf", Cal3DKind::Mesh, bytes,
                                 static_cast<int>(skeleton->getVectorCoreBone().size()), &context);
  EXPECT_NE(check.Text().find("bad BLENDVERTEX VERTEXID"), std::string::npos) << check.Text();
  EXPECT_TRUE(context.morphTargets.empty());
}

// Cal3D 0.11 blends the dense targets as the newer line blends its deltas:
// at the rest pose, where skinning moves nothing, a morph at weight w moves
// each vertex by w times its delta, and a vertex without one not at all.
TEST(NewerMorphTargets, Cal3DBlendsThemAsTheNewerLineBlendsDeltas) {
  CalCoreSkeletonPtr skeleton = Skeleton();
  CalCoreMeshPtr body = CalLoader::loadCoreMesh(kModels + "hero_body.cmf");
  CalCoreMeshPtr gear = CalLoader::loadCoreMesh(kModels + "hero_gear.cmf");
  ASSERT_TRUE(skeleton && body && gear);
  const std::vector<rwsample::MorphDef> morphs =
      rwsample::FaceMorphs(*body, rwsample::HeadLevel({body.get(), gear.get()}));
  Prepared prepared = Prepare("newer/hero body.001.cmf", Cal3DKind::Mesh, skeleton.get());
  ASSERT_EQ(prepared.reason, "");
  CalCoreMeshPtr mesh =
      rigweave::ReadCoreMesh(prepared.bytes, false, prepared.context.morphTargets);
  ASSERT_TRUE(mesh);

  CalCoreModel core("morphs");
  core.setCoreSkeleton(skeleton.get());
  core.addCoreMesh(mesh.get());
  CalModel model(&core);
  ASSERT_TRUE(model.attachMesh(0));
  model.getSkeleton()->calculateState();
  const auto vertices = [&model](int submesh) {
    CalRenderer* renderer = model.getRenderer();
    std::vector<float> out;
    if (!renderer->beginRendering() || !renderer->selectMeshSubmesh(0, submesh)) return out;
    out.resize(3 * static_cast<size_t>(renderer->getVertexCount()));
    renderer->getVertices(out.data());
    renderer->endRendering();
    return out;
  };
  std::vector<int> indexInSubmesh(static_cast<size_t>(mesh->getCoreSubmeshCount()), 0);
  for (const rwsample::MorphDef& morph : morphs) {
    const int index = indexInSubmesh[static_cast<size_t>(morph.submesh)]++;
    CalSubmesh* submesh = model.getMesh(0)->getSubmesh(morph.submesh);
    const std::vector<float> rest = vertices(morph.submesh);
    submesh->setMorphTargetWeight(index, 0.5f);
    const std::vector<float> moved = vertices(morph.submesh);
    submesh->setMorphTargetWeight(index, 0.0f);
    ASSERT_EQ(moved.size(), rest.size());
    std::vector<const rwsample::MorphRecordDef*> byVertex(rest.size() / 3, nullptr);
    for (const auto& record : morph.records) byVertex[static_cast<size_t>(record.vertex)] = &record;
    for (size_t v = 0; v < byVertex.size(); v++)
      for (size_t a = 0; a < 3; a++) {
        const float want = byVertex[v] ? 0.5f * byVertex[v]->dp[a] : 0.0f;
        EXPECT_NEAR(moved[3 * v + a] - rest[3 * v + a], want, 1e-3) << morph.name << " " << v;
      }
  }
}

// ---------------------------------------------------------------------------

struct MaterialRow {
  const char* name;
  const char* file;
  const char* original;
};

class NewerMaterials : public ::testing::TestWithParam<MaterialRow> {};

TEST_P(NewerMaterials, KeepColoursAndMapFilesAndDropMapTypes) {
  CalCoreMaterialPtr original = CalLoader::loadCoreMaterial(kModels + GetParam().original);
  ASSERT_TRUE(original);
  Prepared prepared = Prepare(GetParam().file, Cal3DKind::Material, nullptr);
  ASSERT_EQ(prepared.reason, "");
  CalCoreMaterialPtr read = rigweave::ReadCoreMaterial(prepared.bytes);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::memcmp(&read->getAmbientColor(), &original->getAmbientColor(), 4), 0);
  EXPECT_EQ(std::memcmp(&read->getDiffuseColor(), &original->getDiffuseColor(), 4), 0);
  EXPECT_EQ(std::memcmp(&read->getSpecularColor(), &original->getSpecularColor(), 4), 0);
  EXPECT_EQ(read->getShininess(), original->getShininess());
  ASSERT_EQ(read->getMapCount(), original->getMapCount());
  for (int i = 0; i < original->getMapCount(); i++)
    EXPECT_EQ(read->getMapFilename(i), original->getMapFilename(i));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NewerMaterials,
    ::testing::Values(MaterialRow{"types_1300", "newer/skin 1300.crf", "skin.crf"},
                      MaterialRow{"types_1301", "newer/hair.1301.crf", "hair.crf"},
                      MaterialRow{"types_1200_of_2008", "newer/skin.1200.crf", "skin.crf"},
                      MaterialRow{"plain_1200_of_0_12", "newer/shirt.1200.crf", "shirt.crf"},
                      MaterialRow{"no_maps_1300", "newer/belt 1300.crf", "belt.crf"},
                      MaterialRow{"lineage_915", "newer/trousers.915.crf", "trousers.crf"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// What no layout fits is refused, naming the version and what did not fit.

std::vector<uint8_t> WithInt(std::vector<uint8_t> bytes, size_t at, int32_t value) {
  std::memcpy(bytes.data() + at, &value, 4);
  return bytes;
}

struct RefusalRow {
  const char* name;
  Cal3DKind kind;
  std::vector<uint8_t> (*make)();
  const char* says;  // in the reason
};

class NewerRefusals : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(NewerRefusals, NameTheVersionAndWhatDidNotFit) {
  CalCoreSkeletonPtr skeleton = Skeleton();
  std::vector<uint8_t> bytes = GetParam().make();
  rigweave::NewerCal3DContext context;
  context.restTranslations = rigweave::RestTranslations(*skeleton);
  const rigweave::Cal3DCheck check =
      rigweave::PrepareCal3DFile("file", GetParam().kind, bytes,
                                 static_cast<int>(skeleton->getVectorCoreBone().size()), &context);
  ASSERT_FALSE(check.Ok());
  EXPECT_NE(std::string(check.reason).find(GetParam().says), std::string::npos) << check.reason;
  EXPECT_TRUE(context.morphTargets.empty());
}

// The first sub-mesh header of hero body.001.cmf starts at byte 12; its
// first morph block follows the vertices and springs.
size_t FirstMorphBlock(const std::vector<uint8_t>& bytes) {
  CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(kModels + "hero_body.cmf");
  CalCoreSubmesh* sub = mesh->getCoreSubmesh(0);
  size_t at = 12 + 7 * 4;
  const size_t texels = sub->getVectorVectorTextureCoordinate().size();
  for (const auto& v : sub->getVectorVertex())
    at += 8 * 4 + texels * 8 + 4 + 8 * v.vectorInfluence.size();
  (void)bytes;
  return at + 16 * static_cast<size_t>(sub->getSpringCount());
}

const RefusalRow kRefusals[] = {
    {"version_past_1301", Cal3DKind::Mesh,
     [] { return WithInt(Bytes("newer/hero body.001.cmf"), 4, 1302); },
     "unsupported file version 1302"},
    {"mesh_cut_short", Cal3DKind::Mesh,
     [] {
       std::vector<uint8_t> b = Bytes("newer/hero body.001.cmf");
       b.resize(b.size() - 1);
       return b;
     },
     "version 1300: no layout fits"},
    {"bytes_after_the_end", Cal3DKind::Skeleton,
     [] {
       std::vector<uint8_t> b = Bytes("newer/hero.1301.csf");
       b.push_back(0);
       return b;
     },
     "bytes left after the end"},
    {"morph_block_without_records", Cal3DKind::Mesh,
     [] {
       std::vector<uint8_t> b = Bytes("newer/hero body.001.cmf");
       const size_t at = FirstMorphBlock(b);
       int32_t length = 0;
       std::memcpy(&length, b.data() + at, 4);
       return WithInt(b, at + 4 + static_cast<size_t>(length), 0);
     },
     "morph record count out of range"},
    {"morph_ids_out_of_order", Cal3DKind::Mesh,
     [] {
       std::vector<uint8_t> b = Bytes("newer/hero body.001.cmf");
       const size_t at = FirstMorphBlock(b);
       int32_t length = 0;
       std::memcpy(&length, b.data() + at, 4);
       const size_t records = at + 4 + static_cast<size_t>(length) + 4;
       const size_t texels = 1;
       // The second record's id set to the first's.
       int32_t first = 0;
       std::memcpy(&first, b.data() + records, 4);
       return WithInt(b, records + 4 + 24 + texels * 8, first);
     },
     "morph vertex id out of order"},
    {"packed_track_of_unknown_bone", Cal3DKind::Animation,
     [] {
       std::vector<uint8_t> b = Bytes("newer/idle.1300.caf");
       b[20] = 0xFF;  // the first track's bone id, low byte
       b[21] |= 0x1F;
       return b;
     },
     "track bone out of range"},
    // Translated, morph targets and all, then refused by the 0.11 checks:
    // the targets go with the refusal.
    {"influence_of_unknown_bone", Cal3DKind::Mesh,
     [] {
       CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(kModels + "hero_body.cmf");
       const size_t texels = mesh->getCoreSubmesh(0)->getVectorVectorTextureCoordinate().size();
       return WithInt(Bytes("newer/hero body.001.cmf"), 12 + 7 * 4 + 8 * 4 + texels * 8 + 4, 999);
     },
     "influence bone out of range"},
    {"negative_map_count", Cal3DKind::Material,
     [] { return WithInt(Bytes("newer/skin 1300.crf"), 24, -1); }, "map count out of range"},
    // A sub-mesh of 30000 vertices and 200 morph blocks without records:
    // a few kilobytes that would be 144 MB of dense targets.
    {"dense_targets_past_the_bound", Cal3DKind::Mesh,
     [] {
       std::vector<uint8_t> b;
       const auto put = [&b](int32_t v) {
         b.insert(b.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4);
       };
       b = {'C', 'M', 'F', 0};
       put(1300);
       put(1);
       for (int32_t v : {0, 30000, 0, 0, 0, 0, 200}) put(v);
       for (int i = 0; i < 30000 * 9; i++) put(0);
       for (int m = 0; m < 200; m++) put(0), put(30001);
       return b;
     },
     "morph targets too large"},
};

INSTANTIATE_TEST_SUITE_P(Damaged, NewerRefusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
