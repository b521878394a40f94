// Writes the seed corpora of the fuzzers: SEEDS_DIR/<fuzzer>/<seed>.
// Usage: rigweave-fuzz-seeds SEEDS_DIR MODELS_DIR
#include <cal3d/cal3d.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "fuzz/model_input.h"

namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string RawTexture(int32_t width, int32_t height, int32_t depth, size_t pixelBytes) {
  std::string bytes;
  for (int32_t field : {width, height, depth})
    rwfuzz::AppendU32(bytes, static_cast<uint32_t>(field));
  for (size_t i = 0; i < pixelBytes; i++) bytes.push_back(static_cast<char>(i * 37 + 11));
  return bytes;
}

bool ConfigSeeds(const fs::path& dir, const std::string& pristineConfig) {
  // Every kind of line: entries of each key, unknown keys, comments, blank
  // lines, syntax errors, and the line ends a hand-edited file may have.
  const std::pair<const char*, std::string> seeds[] = {
      {"scale", "scale = 1.0\n"},
      {"skeleton", "skeleton = hero.csf\n"},
      {"animation", "animation = walk.caf\n"},
      {"animation_dots", "animation=wave.old.caf\r\n"},
      {"mesh", "\t mesh\t=\thero_body.cmf  \n"},
      {"material", "material = skin.crf\r\n"},
      {"other_key", "colour = red\n"},
      {"comment", "# a comment\n   #scale = 3\n"},
      {"blank", "\n \t\n\r\n"},
      {"syntax_error", "mesh hero.cmf\n"},
      {"empty_key", " = orphan\n"},
      {"empty_value", "mesh =   \r\n"},
      {"nul", std::string("mesh = a\0b\n\0scale = 2\n", 22)},
      {"no_final_lf", "skeleton = hero.csf"},
      {"hero", pristineConfig},
  };
  for (const auto& [name, bytes] : seeds)
    if (!Write(dir, name, bytes)) return false;
  return true;
}

bool RawTextureSeeds(const fs::path& dir) {
  const std::pair<const char*, std::string> seeds[] = {
      {"rgb_1x1", RawTexture(1, 1, 3, 3)},
      {"rgb_3x2", RawTexture(3, 2, 3, 18)},
      {"rgba_2x2", RawTexture(2, 2, 4, 16)},
      {"rgba_trailing", RawTexture(2, 1, 4, 11)},
      {"truncated", RawTexture(4, 4, 3, 20)},
      {"bad_depth", RawTexture(2, 2, 2, 8)},
      {"zero_width", RawTexture(0, 5, 3, 0)},
      {"huge", RawTexture(65536, 65536, 4, 4)},
      {"short_header", RawTexture(1, 1, 3, 0).substr(0, 7)},
  };
  for (const auto& [name, bytes] : seeds)
    if (!Write(dir, name, bytes)) return false;
  return true;
}

// Each file of the character untouched, and a light mutation of each, so
// that every file starts out reachable and the fuzzer learns the format.
bool LoadModelSeeds(const fs::path& dir, const std::vector<std::string>& files, uint8_t character) {
  using rwfuzz::Mutation;
  for (size_t i = 0; i < files.size(); i++) {
    const std::string select(1, static_cast<char>(character + i));
    std::string keep = select;
    keep.push_back(static_cast<char>(Mutation::Keep));
    std::string truncate = select;
    truncate.push_back(static_cast<char>(Mutation::Truncate));
    rwfuzz::AppendU32(truncate, 64);
    std::string flip = select;
    flip.push_back(static_cast<char>(Mutation::FlipBits));
    rwfuzz::AppendU32(flip, 20);
    flip.push_back(3);
    std::string swap = select;
    swap.push_back(static_cast<char>(Mutation::SwapBytes));
    rwfuzz::AppendU32(swap, 16);
    rwfuzz::AppendU32(swap, 24);
    std::string overwrite = select;
    overwrite.push_back(static_cast<char>(Mutation::Overwrite));
    rwfuzz::AppendU32(overwrite, 12);
    rwfuzz::AppendU32(overwrite, 0x7fffffff);
    const std::string stem = std::to_string(character + i) + "_" + files[i];
    if (!Write(dir, stem + "_keep", keep) || !Write(dir, stem + "_truncate", truncate) ||
        !Write(dir, stem + "_flip", flip) || !Write(dir, stem + "_swap", swap) ||
        !Write(dir, stem + "_overwrite", overwrite))
      return false;
    // The skeleton (the configuration's first file) as a chain of bones as
    // deep as the module takes, and one deeper; as XML, its first '<' one
    // more time than the tag budget allows.
    if (i != 1) continue;
    if (character != 0) {
      std::string repeat = select;
      repeat.push_back(static_cast<char>(Mutation::Repeat));
      rwfuzz::AppendU32(repeat, 0);
      repeat.push_back(0);
      rwfuzz::AppendU32(repeat, 1 << 21);
      if (!Write(dir, stem + "_repeat", repeat)) return false;
    }
    for (int bones : {1024, 1025}) {
      std::string chain = select;
      chain.push_back(static_cast<char>(Mutation::Chain));
      chain.push_back(static_cast<char>((bones - 1) & 0xFF));
      chain.push_back(static_cast<char>((bones - 1) >> 8));
      if (!Write(dir, stem + "_chain" + std::to_string(bones), chain)) return false;
    }
  }
  if (character != 0) return true;
  // A hand-written configuration in place of the generated one.
  std::string config(1, 0);
  config.push_back(static_cast<char>(Mutation::Replace));
  config +=
      "scale = 2\nskeleton = hero.csf\nanimation = walk.caf\nmesh = hero_gear.cmf\n"
      "material = belt.crf\nmaterial = hair.crf\n";
  return Write(dir, "0_config_replaced", config);
}

// A small mesh with level-of-detail data, springs and two texture sets, in
// place of the large sample meshes, whose size slows a fuzzer down.
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
  CalCoreSubmesh::Face faces[2];
  const int corners[2][3] = {{0, 1, 3}, {0, 3, 2}};
  for (int f = 0; f < 2; f++) {
    for (int k = 0; k < 3; k++) faces[f].vertexId[k] = corners[f][k];
    sub->setFace(f, faces[f]);
  }
  sub->setSpring(0, CalCoreSubmesh::Spring{{1, 2}, 10.0f, 1.0f});
  mesh->addCoreSubmesh(sub);
  return mesh;
}

// XML files of every kind: the sample's own, saved as XML by Cal3D (a small
// mesh with level-of-detail data, springs and two texture sets in place of
// the large sample meshes), and files of the older layout with a HEADER.
bool XmlSeeds(const fs::path& dir, const fs::path& twin) {
  auto seed = [&](const std::string& name, uint8_t kind, const std::string& text) {
    return Write(dir, name, std::string(1, static_cast<char>(kind)) + text);
  };
  std::string text;
  for (const auto& [file, kind] : std::vector<std::pair<std::string, uint8_t>>{
           {"hero.xsf", 0}, {"walk.xaf", 1}, {"jump.xaf", 1}, {"skin.xrf", 3}, {"belt.xrf", 3}})
    if (!rwfuzz::ReadWholeFile((twin / file).string(), text) || !seed(file, kind, text))
      return false;

  CalCoreMeshPtr mesh = SmallMesh();
  const fs::path small = twin / "small.xmf";
  if (!CalSaver::saveCoreMesh(small.string(), mesh.get()) ||
      !rwfuzz::ReadWholeFile(small.string(), text) || !seed("small.xmf", 2, text))
    return false;

  return seed("header_skeleton", 0,
              "<HEADER MAGIC=\"XSF\" VERSION=\"910\"/><SKELETON NUMBONES=\"1\">"
              "<BONE ID=\"0\" NAME=\"root\" NUMCHILDS=\"0\"><TRANSLATION>0 0 0</TRANSLATION>"
              "<ROTATION>0 0 0 1</ROTATION><LOCALTRANSLATION>0 0 0</LOCALTRANSLATION>"
              "<LOCALROTATION>0 0 0 1</LOCALROTATION><PARENTID>-1</PARENTID></BONE>"
              "</SKELETON>") &&
         seed("header_animation", 1,
              "<HEADER MAGIC=\"XAF\" VERSION=\"910\"/><ANIMATION DURATION=\"1\" NUMTRACKS=\"1\">"
              "<TRACK BONEID=\"1\" NUMKEYFRAMES=\"1\"><KEYFRAME TIME=\"0.5\">"
              "<TRANSLATION>1 2 3</TRANSLATION><ROTATION>0 0 0 1</ROTATION></KEYFRAME>"
              "</TRACK></ANIMATION>") &&
         seed("header_material", 3,
              "<HEADER MAGIC=\"XRF\" VERSION=\"910\" />\r\n<MATERIAL NUMMAPS=\"2\">\r\n"
              "<AMBIENT>255 255 255 0</AMBIENT><DIFFUSE>255 255 255 0</DIFFUSE>"
              "<SPECULAR>0 0 0 0</SPECULAR><SHININESS>0</SHININESS>"
              "<MAP>body.tga</MAP><MAP>body_bump.dds</MAP></MATERIAL>\r\n") &&
         seed("no_maps", 3,
              "<MATERIAL VERSION=\"900\" NUMMAPS=\"0\"><AMBIENT>1 2 3 4</AMBIENT>"
              "<DIFFUSE>1 2 3 4</DIFFUSE><SPECULAR>1 2 3 4</SPECULAR><SHININESS>2.5</SHININESS>"
              "</MATERIAL>");
}

// Binary files of every kind: the sample's own (a small mesh for its large
// ones), and a skeleton as a chain
// of bones as deep as the module takes and one deeper.
bool BinarySeeds(const fs::path& dir, const std::string& models,
                 const std::vector<std::string>& files) {
  auto seed = [&](const std::string& name, uint8_t kind, const std::string& bytes) {
    return Write(dir, name, std::string(1, static_cast<char>(kind)) + bytes);
  };
  const std::pair<const char*, uint8_t> kinds[] = {
      {".csf", 0}, {".caf", 1}, {".cmf", 2}, {".crf", 3}};
  std::string bytes;
  for (const std::string& file : files)
    for (const auto& [extension, kind] : kinds)
      if (fs::path(file).extension() == extension && extension != std::string(".cmf") &&
          (!rwfuzz::ReadWholeFile(models + "/" + file, bytes) || !seed(file, kind, bytes)))
        return false;
  const fs::path small = dir / "small.cmf.tmp";
  if (!CalSaver::saveCoreMesh(small.string(), SmallMesh().get()) ||
      !rwfuzz::ReadWholeFile(small.string(), bytes) || !seed("small.cmf", 2, bytes))
    return false;
  fs::remove(small);
  for (int bones : {rigweave::kMaxBoneDepth, rigweave::kMaxBoneDepth + 1})
    if (!seed("chain" + std::to_string(bones), 0, rwfuzz::ChainSkeleton(bones, false)))
      return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SEEDS_DIR MODELS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path seeds = argv[1];
  const std::string models = argv[2];
  const std::vector<std::string> files = rwfuzz::ModelFiles(models);
  std::string config;
  if (files.empty() || !rwfuzz::ReadWholeFile(models + "/" + rwfuzz::kModelName, config)) {
    std::fprintf(stderr, "no sample character in %s\n", models.c_str());
    return 1;
  }
  std::error_code ignored;
  fs::remove_all(seeds, ignored);
  // The XML twin the LoadModel fuzzer makes, made here the same way.
  const fs::path twin = seeds / "xml-twin";
  fs::create_directories(twin);
  for (const std::string& name : files)
    fs::copy_file(models + "/" + name, twin / name, fs::copy_options::overwrite_existing, ignored);
  const std::vector<std::string> xmlFiles =
      rwfuzz::WriteXmlTwin(twin.string()) ? rwfuzz::ModelFiles(twin.string(), rwfuzz::kXmlModelName)
                                          : std::vector<std::string>{};
  if (xmlFiles.empty() || !ConfigSeeds(seeds / "fuzz_config_line", config) ||
      !RawTextureSeeds(seeds / "fuzz_raw_texture") ||
      !LoadModelSeeds(seeds / "fuzz_load_model", files, 0) ||
      !LoadModelSeeds(seeds / "fuzz_load_model", xmlFiles, rwfuzz::kXmlCharacter) ||
      !XmlSeeds(seeds / "fuzz_cal3d_xml", twin) ||
      !BinarySeeds(seeds / "fuzz_cal3d_binary", models, files)) {
    std::fprintf(stderr, "cannot write the seeds in %s\n", argv[1]);
    return 1;
  }
  fs::remove_all(twin, ignored);
  return 0;
}
