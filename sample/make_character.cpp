// rigweave-make-character OUT_DIR
//
// Writes the sample characters into OUT_DIR, each a configuration and the
// Cal3D files it names (the README's "Sample characters" says what each is for):
//
//   hero.cfg          the viewer's default model, binary files as Cal3D saves them
//   large.cfg         the same rig with a denser mesh, for benchmarks
//   hero-xml.cfg      hero in Cal3D's XML files of all four kinds
//   hero-parts.cfg    hero cut into 17 meshes of one sub-mesh each
//   hero-cm-v700.cfg  hero exported in centimetres: binary files of version 700,
//                     XML materials of version 900
//   hero-m-v910.cfg   hero exported in metres: binary files of version 910, XML
//                     materials of version 910, one of them with a missing bump map
//   hero-morph.cfg    hero with three expressions as Cal3D 0.11 morph targets
//   sword.cfg         a prop with one bone and no animation, to hang on a hand
//
// The rig is about 100 units tall (Z-up, facing -Y). The module draws model
// units times scale * 0.02, so "scale = 1.0" gives hero 2 units in the engine.
// Every sub-mesh carries level-of-detail data shaped as exporters write it.
#include <cal3d/cal3d.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sample/animations.h"
#include "sample/body.h"
#include "sample/cal3d_files.h"
#include "sample/collapse_order.h"
#include "sample/morph_character.h"
#include "sample/newer_files.h"
#include "formats/raw_texture.h"
#include "sample/prop.h"
#include "sample/skeleton.h"
#include "sample/textures.h"

namespace rwsample {
namespace {

namespace fs = std::filesystem;

// Limits the module enforces on what it loads.
constexpr int kMaxAnimations = 20;
constexpr int kMaxSubmeshes = 100;
constexpr int kMaxSubmeshVertices = 30000;
constexpr int kMaxSubmeshFaces = 50000;

const char* const kMaterialNames[kMaterialCount] = {"skin", "shirt", "trousers",
                                                    "belt", "boots", "hair"};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// ---------------------------------------------------------------------------
// Level of detail

enum class Lod {
  // Every vertex may collapse (lodCount = vertices); each connected part ends
  // in a root, dropped as soon as it is alone, so vertex 0 is a root.
  Whole,
  // A coarse lattice of the first surface never collapses and is what the
  // lowest level shows; the other surfaces end in roots dropped after every
  // collapse, the first of them at the very start of the collapsible range.
  CoarseBase,
};

constexpr int kLatticeStep = 4;

std::vector<double> FaceKey(const Submesh& mesh, const std::array<int, 3>& face) {
  std::vector<double> key;
  for (int corner : face) {
    const Vertex& v = mesh.vertices[static_cast<size_t>(corner)];
    key.insert(key.end(), {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y,
                           v.normal.z, v.u, v.v});
    for (const Influence& influence : v.influences)
      key.insert(key.end(), {static_cast<double>(influence.bone), influence.weight});
    key.push_back(-1);
  }
  return key;
}

// The same triangles, corner for corner, with the same vertex data.
bool SameLook(const Submesh& a, const Submesh& b) {
  auto keys = [](const Submesh& mesh) {
    std::vector<std::vector<double>> all;
    for (const auto& face : mesh.faces) all.push_back(FaceKey(mesh, face));
    std::sort(all.begin(), all.end());
    return all;
  };
  return a.vertices.size() == b.vertices.size() && keys(a) == keys(b);
}

void AddLevelOfDetail(Submesh& mesh, Lod lod) {
  std::vector<bool> lattice;
  if (lod == Lod::CoarseBase) {
    lattice.assign(mesh.vertices.size(), false);
    const SurfaceGrid& grid = mesh.surfaces.front();
    for (int i = 0; i <= grid.segmentsV; i++)
      for (int j = 0; j <= grid.segmentsU; j++)
        if ((i % kLatticeStep == 0 || i == grid.segmentsV) &&
            (j % kLatticeStep == 0 || j == grid.segmentsU))
          lattice[static_cast<size_t>(grid.firstVertex + i * (grid.segmentsU + 1) + j)] = true;
  }
  // Exported meshes have no vertex that no face uses; one would be a root of its own.
  const std::vector<int> newIndex = RemoveUnusedVertices(mesh);

  CollapseMesh input;
  for (const Vertex& v : mesh.vertices) input.positions.push_back(v.position);
  input.faces = mesh.faces;
  if (!lattice.empty()) {
    input.fixed.assign(mesh.vertices.size(), false);
    for (size_t i = 0; i < lattice.size(); i++)
      if (lattice[i] && newIndex[i] >= 0) input.fixed[static_cast<size_t>(newIndex[i])] = true;
  }
  const Submesh before = mesh;
  ApplyCollapseOrder(
      mesh, MakeCollapseOrder(input, lod == Lod::Whole ? RootDrop::WhenAlone : RootDrop::AtTheEnd));
  Check(SameLook(before, mesh), "the level-of-detail order changed a sub-mesh");
}

Submesh Build(Material material, const std::vector<Piece>& pieces, double detail, Lod lod) {
  Submesh mesh = MakeSubmesh(material, pieces, detail);
  AddLevelOfDetail(mesh, lod);
  return mesh;
}

// Surfaces [first, first + count) of a freshly built sub-mesh, on their own.
Submesh TakeSurfaces(const Submesh& mesh, size_t first, size_t count) {
  const int begin = mesh.surfaces.at(first).firstVertex;
  const int end = first + count < mesh.surfaces.size() ? mesh.surfaces[first + count].firstVertex
                                                       : static_cast<int>(mesh.vertices.size());
  Submesh out;
  out.materialThread = mesh.materialThread;
  out.vertices.assign(mesh.vertices.begin() + begin, mesh.vertices.begin() + end);
  for (const auto& face : mesh.faces)
    if (face[0] >= begin && face[0] < end)
      out.faces.push_back({face[0] - begin, face[1] - begin, face[2] - begin});
  for (size_t s = first; s < first + count; s++) {
    SurfaceGrid grid = mesh.surfaces[s];
    grid.firstVertex -= begin;
    out.surfaces.push_back(grid);
  }
  return out;
}

Submesh Scaled(Submesh mesh, double factor) {
  for (Vertex& v : mesh.vertices) v.position = v.position * factor;
  return mesh;
}

// ---------------------------------------------------------------------------
// Files

// The skeleton, animations and materials a group of characters shares, and
// how they and the characters' meshes are written.
struct FileSet {
  enum MaterialForm { Binary, SaverXml, HeaderXml };

  FileSet(std::string prefix, double unit, bool xml, int binaryVersion, MaterialForm materials,
          int headerVersion = 0, bool bumpMap = false)
      : prefix(std::move(prefix)),
        unit(unit),
        xml(xml),
        binaryVersion(binaryVersion),
        materials(materials),
        headerVersion(headerVersion),
        bumpMap(bumpMap) {}

  std::string prefix;  // before each file's name
  double unit;         // model units per unit of the rig as built
  bool xml;            // skeleton, animations and meshes in Cal3D's XML
  int binaryVersion;   // stamped into each binary file
  MaterialForm materials;
  int headerVersion;  // of HeaderXml materials
  bool bumpMap;       // skin names a second map, a .dds that is not there

  // Filled as the files are written.
  CalCoreSkeletonPtr skeleton;
  std::string skeletonFile;
  std::vector<std::string> animationFiles, materialFiles;

  std::string Name(const std::string& stem, const char* binaryExt, const char* xmlExt) const {
    return prefix + stem + (xml ? xmlExt : binaryExt);
  }
};

struct MeshFile {
  std::string file;
  std::vector<Submesh> submeshes;
};

struct Character {
  std::string config;
  std::vector<std::string> comment;
  const char* scale;
  FileSet* files;
  std::vector<MeshFile> meshes;
};

MaterialDef MaterialFor(Material material, bool bumpMap) {
  const std::string name = kMaterialNames[material];
  MaterialDef def;
  def.name = name;
  def.specular = {40, 40, 40, 255};
  def.shininess = 8;
  if (PaintTexture(material).width > 0) {
    // Textured: white diffuse, so the texture shows in its own colours.
    def.ambient = {170, 170, 170, 255};
    def.diffuse = {255, 255, 255, 255};
    def.maps.push_back(name + ".raw");
    if (bumpMap && material == kSkin) def.maps.push_back(name + "_bump.dds");
  } else {
    // No map at all: the module has to fall back on the engine's default.
    def.ambient = {60, 40, 22, 255};
    def.diffuse = {92, 58, 30, 255};
  }
  return def;
}

class Writer {
 public:
  explicit Writer(fs::path dir) : dir_(std::move(dir)) {}

  std::string Path(const std::string& file) const { return (dir_ / file).string(); }

  // Cal3D's saver picks binary or XML by the extension; binary files then
  // get the set's version.
  template <class SaveFn>
  void Save(const FileSet& set, const std::string& file, SaveFn save) const {
    Check(save(Path(file)), "cannot write " + file);
    if (!set.xml && set.binaryVersion != kSaverVersion)
      StampBinaryVersion(Path(file), set.binaryVersion);
  }

  void WriteTextures() const {
    for (int material = 0; material < kMaterialCount; material++) {
      const Image image = PaintTexture(static_cast<Material>(material));
      if (image.width == 0) continue;
      const std::string file = std::string(kMaterialNames[material]) + ".raw";
      // Painted with v growing upwards, the bottom row last: the row v = 0
      // reads, as the format wants it, with the rows as they are.
      const std::vector<uint8_t> bytes =
          rigweave::EncodeRawTexture({image.width, image.height, 3}, image.rgb.data(), false);
      std::ofstream out(Path(file), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      Check(!bytes.empty() && static_cast<bool>(out.flush()), "cannot write " + file);
    }
  }

  void WriteFileSet(FileSet& set) const {
    Rig rig;
    set.skeleton = BuildSkeleton(rig);
    if (set.unit != 1.0) set.skeleton->scale(static_cast<float>(set.unit));
    set.skeletonFile = set.Name("hero", ".csf", ".xsf");
    Save(set, set.skeletonFile, [&](const std::string& path) {
      return CalSaver::saveCoreSkeleton(path, set.skeleton.get());
    });

    for (const AnimationDef& def : Animations()) {
      const std::string file = set.Name(def.file.substr(0, def.file.rfind('.')), ".caf", ".xaf");
      CalCoreAnimationPtr animation = BuildAnimation(rig, def);
      if (set.unit != 1.0) animation->scale(static_cast<float>(set.unit));
      Save(set, file, [&](const std::string& path) {
        const bool saved = CalSaver::saveCoreAnimation(path, animation.get());
        ReleaseTracks(*animation);
        return saved;
      });
      set.animationFiles.push_back(file);
    }

    for (int material = 0; material < kMaterialCount; material++) {
      const MaterialDef def = MaterialFor(static_cast<Material>(material), set.bumpMap);
      if (set.materials == FileSet::HeaderXml) {
        const std::string file = set.prefix + def.name + ".xrf";
        std::ofstream out(Path(file), std::ios::trunc);
        out << HeaderLayoutMaterialXml(def, set.headerVersion);
        Check(static_cast<bool>(out.flush()), "cannot write " + file);
        set.materialFiles.push_back(file);
        continue;
      }
      const std::string file =
          set.prefix + def.name + (set.materials == FileSet::SaverXml ? ".xrf" : ".crf");
      const CalCoreMaterialPtr core = ToCalMaterial(def);
      Check(CalSaver::saveCoreMaterial(Path(file), core.get()), "cannot write " + file);
      if (set.materials == FileSet::Binary && set.binaryVersion != kSaverVersion)
        StampBinaryVersion(Path(file), set.binaryVersion);
      set.materialFiles.push_back(file);
    }
  }

  void WriteCharacter(const Character& character) const {
    for (const MeshFile& mesh : character.meshes) {
      CalCoreMeshPtr core = MakeCoreMesh(mesh);
      Save(*character.files, mesh.file,
           [&](const std::string& path) { return CalSaver::saveCoreMesh(path, core.get()); });
    }
    std::ofstream out(Path(character.config), std::ios::trunc);
    for (const std::string& line : character.comment) out << "# " << line << "\n";
    out << "scale = " << character.scale << "\n";
    out << "skeleton = " << character.files->skeletonFile << "\n";
    for (const std::string& file : character.files->animationFiles)
      out << "animation = " << file << "\n";
    for (const MeshFile& mesh : character.meshes) out << "mesh = " << mesh.file << "\n";
    for (const std::string& file : character.files->materialFiles)
      out << "material = " << file << "\n";
    Check(static_cast<bool>(out.flush()), "cannot write " + character.config);
  }

  static CalCoreMeshPtr MakeCoreMesh(const MeshFile& file) {
    CalCoreMeshPtr mesh = new CalCoreMesh();
    mesh->setName(file.file.substr(0, file.file.rfind('.')));
    for (const Submesh& submesh : file.submeshes) mesh->addCoreSubmesh(ToCalSubmesh(submesh));
    return mesh;
  }

 private:
  fs::path dir_;
};

// ---------------------------------------------------------------------------
// Checks

// Skins every vertex with the rest pose through Cal3D and demands it comes
// back where the mesh has it: a wrong bone-space transform shows up here.
void CheckRestPose(const Character& character) {
  CalCoreModel core(character.config);
  core.setCoreSkeleton(character.files->skeleton.get());
  std::vector<CalCoreMeshPtr> meshes;
  for (const MeshFile& mesh : character.meshes) {
    meshes.push_back(Writer::MakeCoreMesh(mesh));
    core.addCoreMesh(meshes.back().get());
  }
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
  // Float rounding grows with the model's size.
  Check(worst < 1e-5 * character.files->unit * 100,
        character.config + ": rest pose moves vertices by " + std::to_string(worst));
}

void Summarize(const Character& character) {
  int submeshes = 0, vertices = 0, faces = 0, collapsible = 0, roots = 0;
  Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
  for (const MeshFile& mesh : character.meshes) {
    for (const Submesh& submesh : mesh.submeshes) {
      submeshes++;
      const int n = static_cast<int>(submesh.vertices.size());
      Check(n <= kMaxSubmeshVertices && static_cast<int>(submesh.faces.size()) <= kMaxSubmeshFaces,
            character.config + ": sub-mesh too large for the module");
      vertices += n;
      faces += static_cast<int>(submesh.faces.size());
      collapsible += submesh.lodCount;
      for (int v = n - submesh.lodCount; v < n; v++)
        roots += submesh.collapseIds[static_cast<size_t>(v)] == -1;
      for (const Vertex& v : submesh.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y),
              std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y),
              std::max(hi.z, v.position.z)};
      }
    }
  }
  const int animations = static_cast<int>(character.files->animationFiles.size());
  Check(submeshes <= kMaxSubmeshes && animations <= kMaxAnimations,
        character.config + ": more than the module loads");
  std::printf(
      "%s: %d bones, %zu meshes, %d sub-meshes, %d vertices (%d collapsible, %d roots), %d faces, "
      "%d materials, %d animations, rest extents x %.3g..%.3g y %.3g..%.3g z %.3g..%.3g\n",
      character.config.c_str(), static_cast<int>(kBoneCount), character.meshes.size(), submeshes,
      vertices, collapsible, roots, faces, static_cast<int>(kMaterialCount), animations, lo.x, hi.x,
      lo.y, hi.y, lo.z, hi.z);
}

// ---------------------------------------------------------------------------
// The characters

// hero's sub-meshes, mesh file by mesh file.
struct HeroMeshes {
  std::vector<Submesh> body, gear;
};

HeroMeshes MakeHero() {
  using P = Piece;
  const Lod W = Lod::Whole, C = Lod::CoarseBase;
  return {
      {Build(kSkin, {P::Head, P::Face, P::Neck, P::Hands}, 1.0, W),
       Build(kShirt, {P::Torso, P::Arms}, 1.0, C), Build(kTrousers, {P::Pelvis, P::Legs}, 1.0, W)},
      {Build(kBelt, {P::Belt}, 1.0, W), Build(kBoots, {P::Boots}, 1.0, W),
       Build(kHair, {P::Hair}, 1.0, C)}};
}

// The same body at about twice the vertex count, cut into more pieces.
std::vector<Submesh> MakeLarge() {
  using P = Piece;
  const Lod W = Lod::Whole, C = Lod::CoarseBase;
  const double detail = 1.42;
  return {Build(kSkin, {P::Head, P::Face, P::Neck}, detail, W),
          Build(kSkin, {P::Hands}, detail, W),
          Build(kShirt, {P::Torso}, detail, C),
          Build(kShirt, {P::Arms}, detail, W),
          Build(kTrousers, {P::Pelvis, P::Legs}, detail, C),
          Build(kBelt, {P::Belt}, detail, W),
          Build(kBoots, {P::Boots}, detail, W),
          Build(kHair, {P::Hair}, detail, C)};
}

// hero's surfaces as separate meshes, as many exported characters come:
// each piece, and each side of a paired piece, is a mesh of one sub-mesh.
std::vector<MeshFile> MakeParts() {
  using P = Piece;
  struct Part {
    const char* name;
    Material material;
    Piece piece;
    size_t firstSurface, surfaceCount;
    Lod lod;
  };
  const Lod W = Lod::Whole, C = Lod::CoarseBase;
  // Paired pieces list the left side's surfaces first.
  const Part parts[] = {
      {"head", kSkin, P::Head, 0, 1, C},         {"nose", kSkin, P::Face, 0, 1, W},
      {"ear_l", kSkin, P::Face, 1, 1, W},        {"ear_r", kSkin, P::Face, 2, 1, W},
      {"neck", kSkin, P::Neck, 0, 1, W},         {"hand_l", kSkin, P::Hands, 0, 2, W},
      {"hand_r", kSkin, P::Hands, 2, 2, W},      {"torso", kShirt, P::Torso, 0, 1, C},
      {"arm_l", kShirt, P::Arms, 0, 1, W},       {"arm_r", kShirt, P::Arms, 1, 1, W},
      {"pelvis", kTrousers, P::Pelvis, 0, 1, W}, {"leg_l", kTrousers, P::Legs, 0, 1, W},
      {"leg_r", kTrousers, P::Legs, 1, 1, W},    {"belt", kBelt, P::Belt, 0, 1, W},
      {"boot_l", kBoots, P::Boots, 0, 2, W},     {"boot_r", kBoots, P::Boots, 2, 2, W},
      {"hair", kHair, P::Hair, 0, 1, C},
  };
  std::vector<MeshFile> files;
  for (const Part& part : parts) {
    Submesh mesh = TakeSurfaces(MakeSubmesh(part.material, {part.piece}, 1.0), part.firstSurface,
                                part.surfaceCount);
    AddLevelOfDetail(mesh, part.lod);
    files.push_back({std::string("part_") + part.name + ".cmf", {std::move(mesh)}});
  }
  return files;
}

std::vector<Submesh> ScaledAll(const std::vector<Submesh>& meshes, double factor) {
  std::vector<Submesh> out;
  for (const Submesh& mesh : meshes) out.push_back(Scaled(mesh, factor));
  return out;
}

void Run(const fs::path& dir) {
  fs::create_directories(dir);
  const Writer writer(dir);
  writer.WriteTextures();

  FileSet binary("", 1.0, false, kSaverVersion, FileSet::Binary);
  FileSet xml("", 1.0, true, kSaverVersion, FileSet::SaverXml);
  // The hero built about 100 units tall, exported in centimetres (170) and in metres (1.8).
  FileSet centimetres("cm_", 1.7, false, 700, FileSet::HeaderXml, 900);
  FileSet metres("m_", 0.018, false, 910, FileSet::HeaderXml, 910, true);
  for (FileSet* set : {&binary, &xml, &centimetres, &metres}) writer.WriteFileSet(*set);

  const HeroMeshes hero = MakeHero();
  const std::vector<Character> characters = {
      {"hero.cfg",
       {"Rigweave sample character",
        "Model units are about 100 to the character's height; 1.0 draws it 2 units tall."},
       "1.0",
       &binary,
       {{"hero_body.cmf", hero.body}, {"hero_gear.cmf", hero.gear}}},
      {"large.cfg",
       {"Rigweave sample character, dense mesh for benchmarks",
        "Model units are about 100 to the character's height; 1.0 draws it 2 units tall."},
       "1.0",
       &binary,
       {{"large.cmf", MakeLarge()}}},
      {"hero-xml.cfg",
       {"The sample character in Cal3D's XML files, as Cal3D's saver writes them"},
       "1.0",
       &xml,
       {{"hero_body.xmf", hero.body}, {"hero_gear.xmf", hero.gear}}},
      {"hero-parts.cfg",
       {"The sample character as 17 meshes of one sub-mesh each"},
       "1.0",
       &binary,
       MakeParts()},
      {"hero-cm-v700.cfg",
       {"The sample character exported in centimetres, 173 units tall: 1.0 draws it about 3.5 "
        "units tall",
        "Binary files of version 700, XML materials of version 900"},
       "1.0",
       &centimetres,
       {{"cm_body.cmf", ScaledAll(hero.body, centimetres.unit)},
        {"cm_gear.cmf", ScaledAll(hero.gear, centimetres.unit)}}},
      {"hero-m-v910.cfg",
       {"The sample character exported in metres, 1.83 units tall: 0.01 draws it about 0.00037 "
        "units tall",
        "Binary files of version 910, XML materials of version 910; skin names a missing bump map"},
       "0.01",
       &metres,
       {{"m_body.cmf", ScaledAll(hero.body, metres.unit)},
        {"m_gear.cmf", ScaledAll(hero.gear, metres.unit)}}},
  };
  for (const Character& character : characters) {
    writer.WriteCharacter(character);
    CheckRestPose(character);
    Summarize(character);
  }
  WriteMorphCharacter(dir.string());
  WriteSword(dir.string(), [](Submesh& mesh) { AddLevelOfDetail(mesh, Lod::Whole); });
  // From the files just written, as exporters of the newer line write them.
  WriteNewerCharacters(dir.string());
}

}  // namespace
}  // namespace rwsample

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  try {
    rwsample::Run(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rigweave-make-character: %s\n", e.what());
    return 1;
  }
  return 0;
}
