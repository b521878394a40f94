// Seeds of the fuzzers of newer Cal3D files and morph animations: the
// sample's skeleton, animations and materials and a small mesh with morph
// blocks, written by the generator's own writers in every layout, and the
// generated morph animations.
#include <cal3d/cal3d.h>
#include <cal3d/coretrack.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sample/newer_files.h"

namespace fs = std::filesystem;
using namespace rwsample;

namespace {

bool Write(const fs::path& dir, const std::string& name, char kind, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out << kind << bytes;
  return static_cast<bool>(out.flush());
}

// Four vertices on bones 0 to 2, level-of-detail data, a spring, two
// texture sets.
CalCoreMeshPtr SmallMesh() {
  CalCoreMeshPtr mesh = new CalCoreMesh();
  auto* sub = new CalCoreSubmesh();
  sub->reserve(4, 2, 2, 1);
  sub->setLodCount(4);
  const int collapse[] = {-1, 0, 0, 2}, faceCollapses[] = {0, 0, 1, 1};
  for (int v = 0; v < 4; v++) {
    CalCoreSubmesh::Vertex vertex;
    vertex.position = CalVector(static_cast<float>(v % 2), static_cast<float>(v / 2), 0);
    vertex.normal = CalVector(0, 0, 1);
    vertex.collapseId = collapse[v];
    vertex.faceCollapseCount = faceCollapses[v];
    vertex.vectorInfluence.push_back({v % 3, 1.0f});
    sub->setVertex(v, vertex);
    for (int set = 0; set < 2; set++) sub->setTextureCoordinate(v, set, {0.5f * v, 0.25f});
    sub->setPhysicalProperty(v, {v == 0 ? 0.0f : 1.0f});
  }
  const int corners[2][3] = {{0, 1, 3}, {0, 3, 2}};
  for (int f = 0; f < 2; f++) {
    CalCoreSubmesh::Face face;
    for (int k = 0; k < 3; k++) face.vertexId[k] = corners[f][k];
    sub->setFace(f, face);
  }
  sub->setSpring(0, CalCoreSubmesh::Spring{{1, 2}, 10.0f, 1.0f});
  mesh->addCoreSubmesh(sub);
  return mesh;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool NewerSeeds(const fs::path& seeds, const std::string& models) {
  const fs::path cal3d = seeds / "fuzz_cal3d_newer";
  const fs::path morphDir = seeds / "fuzz_morph_animation";
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(models + "/hero.csf");
  CalCoreAnimationPtr walk = CalLoader::loadCoreAnimation(models + "/walk.caf", skeleton.get());
  CalCoreMaterialPtr skin = CalLoader::loadCoreMaterial(models + "/skin.crf");
  if (!skeleton || !walk || !skin) return false;
  bool ok = true;

  const std::pair<const char*, std::string> skeletons[] = {
      {"skeleton_1301", SkeletonFile(*skeleton, 1301, SkeletonLayout::Plain)},
      {"skeleton_1300_ambient_lights",
       SkeletonFile(*skeleton, 1300, SkeletonLayout::AmbientLights)},
      {"skeleton_1300_lights", SkeletonFile(*skeleton, 1300, SkeletonLayout::Lights)},
      {"skeleton_915", SkeletonFile(*skeleton, 915, SkeletonLayout::AmbientLights)}};
  for (const auto& [name, bytes] : skeletons) ok = ok && Write(cal3d, name, 0, bytes);

  using AL = AnimationLayout;
  const struct {
    const char* name;
    int version;
    AL layout;
    bool high;
  } animations[] = {{"animation_1300_packed", 1300, AL::CompressionFlagPacked, false},
                    {"animation_1301_packed_high", 1301, AL::FlagsPacked, true},
                    {"animation_1300_plain", 1300, AL::CompressionFlagPlain, false},
                    {"animation_1200_min_scale", 1200, AL::U12MinScale, false},
                    {"animation_913", 913, AL::LineagePacked, false},
                    {"animation_917", 917, AL::LineagePacked, true},
                    {"animation_919", 919, AL::CompressionFlagPacked, false}};
  for (const auto& a : animations)
    ok =
        ok && Write(cal3d, a.name, 1, AnimationFile(*walk, *skeleton, a.version, a.layout, a.high));
  for (CalCoreTrack* track : walk->getListCoreTrack()) {
    track->destroy();
    delete track;
  }
  walk->getListCoreTrack().clear();

  CalCoreMeshPtr small = SmallMesh();
  MorphDef morph;
  morph.name = "e38182";
  morph.records = {{1, {0.1f, 0, 0}, {0, 0.1f, 0}}, {3, {0, 0, 0.2f}, {0, 0, 0}}};
  const std::vector<MorphDef> morphs = {morph, morph};
  using ML = MeshLayout;
  const struct {
    const char* name;
    int version;
    ML layout;
  } meshes[] = {{"mesh_1300_counted", 1300, ML::Counted},
                {"mesh_1301_counted", 1301, ML::Counted},
                {"mesh_1300_colours_ended", 1300, ML::ColoursEnded},
                {"mesh_1300_absolute", 1300, ML::ColoursEndedAbsolute},
                {"mesh_1300_ended", 1300, ML::Ended},
                {"mesh_911", 911, ML::ColoursEndedAbsolute},
                {"mesh_1200_plain", 1200, ML::Plain}};
  for (const auto& m : meshes)
    ok = ok && Write(cal3d, m.name, 2,
                     MeshFile(*small, m.version, m.layout,
                              m.layout == ML::Plain ? std::vector<MorphDef>{} : morphs));

  ok = ok && Write(cal3d, "material_1301_types", 3, MaterialFile(*skin, 1301, true)) &&
       Write(cal3d, "material_1200_plain", 3, MaterialFile(*skin, 1200, false)) &&
       Write(cal3d, "material_915_types", 3, MaterialFile(*skin, 915, true));

  for (const char* file : {"face.xpf", "face named.XPF"})
    ok = ok && Write(morphDir, file, 1, ReadAll(models + "/newer/" + file));
  for (const char* file : {"face.cpf", "face saver.cpf", "face named.cpf"})
    ok = ok && Write(morphDir, file, 0, ReadAll(models + "/newer/" + file));
  return ok;
}
