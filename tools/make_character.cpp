// rigweave-make-character OUT_DIR
//
// Writes the sample characters into OUT_DIR: hero.cfg, the viewer's default
// model, and large.cfg, the same rig with a denser mesh for benchmarks.
//
// The rig is about 100 units tall (Z-up, facing -Y). The module draws model
// units times scale * 0.02, so "scale = 1.0" gives a character 2 units tall
// in the engine.
#include <cal3d/cal3d.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "animations.h"
#include "body.h"
#include "raw_texture.h"
#include "skeleton.h"
#include "textures.h"

namespace rigweave_tools {
namespace {

namespace fs = std::filesystem;

// Limits the module enforces on what it loads.
constexpr int kMaxAnimations = 20;
constexpr int kMaxSubmeshes = 100;
constexpr int kMaxSubmeshVertices = 30000;
constexpr int kMaxSubmeshFaces = 50000;

const char* const kMaterialNames[kMaterialCount] = {"skin", "shirt", "trousers",
                                                    "belt", "boots", "hair"};

struct MeshFile {
  std::string file;
  std::vector<Submesh> submeshes;
  CalCoreMeshPtr mesh;
};

struct Character {
  std::string config;
  std::string comment;
  std::vector<MeshFile> meshes;
};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

CalCoreMaterial::Color Colour(unsigned char r, unsigned char g, unsigned char b) {
  return {r, g, b, 255};
}

void WriteMaterial(const fs::path& dir, Material material) {
  const std::string name = kMaterialNames[material];
  CalCoreMaterialPtr core = new CalCoreMaterial();
  core->setName(name);
  core->setSpecularColor(Colour(40, 40, 40));
  core->setShininess(8);
  const Image image = PaintTexture(material);
  if (image.width > 0) {
    // Textured: white diffuse, so the texture shows in its own colours.
    core->setAmbientColor(Colour(170, 170, 170));
    core->setDiffuseColor(Colour(255, 255, 255));
    const std::string texture = name + ".raw";
    Check(WriteRawTexture((dir / texture).string(), image.width, image.height, 3, image.rgb.data()),
          "cannot write " + texture);
    core->reserve(1);
    CalCoreMaterial::Map map;
    map.strFilename = texture;
    map.userData = nullptr;
    core->setMap(0, map);
  } else {
    // No map at all: the module has to fall back on the engine's default.
    core->setAmbientColor(Colour(60, 40, 22));
    core->setDiffuseColor(Colour(92, 58, 30));
  }
  Check(CalSaver::saveCoreMaterial((dir / (name + ".crf")).string(), core.get()),
        "cannot write " + name + ".crf");
}

MeshFile MakeMeshFile(const std::string& file, std::vector<Submesh> submeshes) {
  MeshFile out{file, std::move(submeshes), new CalCoreMesh()};
  out.mesh->setName(file.substr(0, file.rfind('.')));
  for (const Submesh& submesh : out.submeshes) out.mesh->addCoreSubmesh(ToCalSubmesh(submesh));
  return out;
}

std::vector<Character> MakeCharacters() {
  using P = Piece;
  Character hero{"hero.cfg", "Rigweave sample character", {}};
  hero.meshes.push_back(
      MakeMeshFile("hero_body.cmf", {MakeSubmesh(kSkin, {P::Head, P::Face, P::Neck, P::Hands}, 1.0),
                                     MakeSubmesh(kShirt, {P::Torso, P::Arms}, 1.0),
                                     MakeSubmesh(kTrousers, {P::Pelvis, P::Legs}, 1.0)}));
  hero.meshes.push_back(MakeMeshFile(
      "hero_gear.cmf", {MakeSubmesh(kBelt, {P::Belt}, 1.0), MakeSubmesh(kBoots, {P::Boots}, 1.0),
                        MakeSubmesh(kHair, {P::Hair}, 1.0)}));

  // The same body at about twice the vertex count, cut into more pieces.
  const double detail = 1.42;
  Character large{"large.cfg", "Rigweave sample character, dense mesh for benchmarks", {}};
  large.meshes.push_back(MakeMeshFile(
      "large.cmf",
      {MakeSubmesh(kSkin, {P::Head, P::Face, P::Neck}, detail),
       MakeSubmesh(kSkin, {P::Hands}, detail), MakeSubmesh(kShirt, {P::Torso}, detail),
       MakeSubmesh(kShirt, {P::Arms}, detail), MakeSubmesh(kTrousers, {P::Pelvis, P::Legs}, detail),
       MakeSubmesh(kBelt, {P::Belt}, detail), MakeSubmesh(kBoots, {P::Boots}, detail),
       MakeSubmesh(kHair, {P::Hair}, detail)}));
  return {std::move(hero), std::move(large)};
}

void WriteConfig(const fs::path& dir, const Character& character) {
  std::ofstream out(dir / character.config, std::ios::trunc);
  out << "# " << character.comment << "\n";
  out << "# Model units are about 100 to the character's height; 1.0 draws it 2 units tall.\n";
  out << "scale = 1.0\n";
  out << "skeleton = hero.csf\n";
  for (const AnimationDef& animation : Animations())
    out << "animation = " << animation.file << "\n";
  for (const MeshFile& mesh : character.meshes) out << "mesh = " << mesh.file << "\n";
  for (const char* material : kMaterialNames) out << "material = " << material << ".crf\n";
  Check(static_cast<bool>(out.flush()), "cannot write " + character.config);
}

// Skins every vertex with the rest pose through Cal3D and demands it comes
// back where the mesh has it: a wrong bone-space transform shows up here.
void CheckRestPose(const CalCoreSkeletonPtr& skeleton, const Character& character) {
  CalCoreModel core(character.config);
  core.setCoreSkeleton(skeleton.get());
  for (const MeshFile& mesh : character.meshes) core.addCoreMesh(mesh.mesh.get());
  CalModel model(&core);
  for (int id = 0; id < core.getCoreMeshCount(); id++) model.attachMesh(id);
  model.update(0);
  double worst = 0;
  for (CalMesh* mesh : model.getVectorMesh()) {
    for (CalSubmesh* submesh : mesh->getVectorSubmesh()) {
      std::vector<float> skinned(3 * static_cast<size_t>(submesh->getVertexCount()));
      model.getPhysique()->calculateVertices(submesh, skinned.data());
      const auto& rest = submesh->getCoreSubmesh()->getVectorVertex();
      for (size_t i = 0; i < rest.size(); i++)
        for (int c = 0; c < 3; c++)
          worst = std::max(worst,
                           static_cast<double>(std::abs(skinned[3 * i + c] - rest[i].position[c])));
    }
  }
  Check(worst < 1e-3, character.config + ": rest pose moves vertices by " + std::to_string(worst));
}

void Summarize(const Character& character, int animations) {
  int submeshes = 0, vertices = 0, faces = 0;
  Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
  for (const MeshFile& mesh : character.meshes) {
    for (const Submesh& submesh : mesh.submeshes) {
      submeshes++;
      Check(static_cast<int>(submesh.vertices.size()) <= kMaxSubmeshVertices &&
                static_cast<int>(submesh.faces.size()) <= kMaxSubmeshFaces,
            character.config + ": sub-mesh too large for the module");
      vertices += static_cast<int>(submesh.vertices.size());
      faces += static_cast<int>(submesh.faces.size());
      for (const Vertex& v : submesh.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y),
              std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y),
              std::max(hi.z, v.position.z)};
      }
    }
  }
  Check(submeshes <= kMaxSubmeshes && animations <= kMaxAnimations,
        character.config + ": more than the module loads");
  std::printf(
      "%s: %d bones, %zu meshes, %d sub-meshes, %d vertices, %d faces, %d materials, %d "
      "animations, rest extents x %.1f..%.1f y %.1f..%.1f z %.1f..%.1f\n",
      character.config.c_str(), static_cast<int>(kBoneCount), character.meshes.size(), submeshes,
      vertices, faces, static_cast<int>(kMaterialCount), animations, lo.x, hi.x, lo.y, hi.y, lo.z,
      hi.z);
}

void Run(const fs::path& dir) {
  fs::create_directories(dir);

  Rig rig;
  CalCoreSkeletonPtr skeleton = BuildSkeleton(rig);
  Check(CalSaver::saveCoreSkeleton((dir / "hero.csf").string(), skeleton.get()),
        "cannot write hero.csf");

  for (int material = 0; material < kMaterialCount; material++)
    WriteMaterial(dir, static_cast<Material>(material));

  for (const AnimationDef& def : Animations()) {
    CalCoreAnimationPtr animation = BuildAnimation(rig, def);
    const bool saved = CalSaver::saveCoreAnimation((dir / def.file).string(), animation.get());
    ReleaseTracks(*animation);
    Check(saved, "cannot write " + def.file);
  }

  const int animations = static_cast<int>(Animations().size());
  for (const Character& character : MakeCharacters()) {
    for (const MeshFile& mesh : character.meshes)
      Check(CalSaver::saveCoreMesh((dir / mesh.file).string(), mesh.mesh.get()),
            "cannot write " + mesh.file);
    WriteConfig(dir, character);
    CheckRestPose(skeleton, character);
    Summarize(character, animations);
  }
}

}  // namespace
}  // namespace rigweave_tools

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  try {
    rigweave_tools::Run(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rigweave-make-character: %s\n", e.what());
    return 1;
  }
  return 0;
}
