// rigweave-import: an exported character folder in, a models/ folder the
// module reads out; every failure one line and nothing half-written. And the
// README's example configuration, loaded as printed.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "formats/cal3d_objects.h"
#include "formats/raw_texture.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "tools/model_files.h"
#include "support/programs.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// RGBA pixels of one colour.
std::vector<uint8_t> Pixels(int count, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < count; i++) pixels.insert(pixels.end(), {r, g, b, a});
  return pixels;
}

// An exporter's folder: the configuration with comments and an unknown key,
// Cal3D files in a sub-folder, a binary and an XML material, maps in TGA
// (with alpha), PNG, JPEG and BMP, a DDS second map, and a map shared by
// two materials.
class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    // The Cal3D files come from the test writer, then move into the export.
    ASSERT_TRUE(cal3d.WriteSkeleton("one.csf"));
    rwtest::TestSubmesh quad;
    quad.vertices = {csVector3(-25, 0, 0), csVector3(25, 0, 0), csVector3(25, 0, 100),
                     csVector3(-25, 0, 100)};
    quad.faces = {{0, 1, 2}, {0, 2, 3}};
    ASSERT_TRUE(cal3d.WriteMesh("body.cmf", {quad, quad}));
    ASSERT_TRUE(cal3d.WriteAnimation("walk.caf", 1.0f, csVector3(0, 0, 5)));
    ASSERT_TRUE(cal3d.WriteMaterial("cloth.crf", {"maps/cloth.png", "maps/shared.bmp"}));
    fs::create_directories(source / "paladin");
    fs::create_directories(source / "maps");
    for (const char* name : {"one.csf", "body.cmf", "walk.caf", "cloth.crf"})
      fs::copy_file(cal3d.Path(name), source / ("paladin/" + std::string(name)));
    WriteText(source / "paladin/skin.xrf",
              "<HEADER MAGIC=\"XRF\" VERSION=\"910\" />\n<MATERIAL NUMMAPS=\"3\">\n"
              "<AMBIENT>255 255 255 0</AMBIENT>\n<DIFFUSE>255 255 255 255</DIFFUSE>\n"
              "<SPECULAR>0 0 0 0</SPECULAR>\n<SHININESS>0</SHININESS>\n"
              "<MAP>maps/skin.tga</MAP>\n<MAP>maps/skin_bump.dds</MAP>\n"
              "<MAP>maps/shared.bmp</MAP>\n</MATERIAL>\n");
    ASSERT_TRUE(stbi_write_tga((source / "maps/skin.tga").c_str(), 4, 2, 4,
                               Pixels(8, 220, 170, 140, 128).data()));
    ASSERT_TRUE(stbi_write_png((source / "maps/cloth.png").c_str(), 2, 2, 3,
                               Pixels(4, 30, 60, 200, 255).data(), 0));
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 16; i++) rgb.insert(rgb.end(), {40, 160, 40});
    ASSERT_TRUE(stbi_write_bmp((source / "maps/shared.bmp").c_str(), 4, 4, 3, rgb.data()));
    ASSERT_TRUE(stbi_write_jpg((source / "maps/face.jpg").c_str(), 4, 4, 3, rgb.data(), 90));
    WriteText(source / "maps/skin_bump.dds", "DDS " + std::string(124, '\0'));
    WriteText(source / "paladin.cfg",
              "# exported by a tool\r\n"
              "scale = 0.5\r\n"
              "author = someone\n"
              "skeleton = paladin/one.csf\n"
              "animation = paladin/walk.caf\n"
              "mesh = paladin/body.cmf\n"
              "material = paladin/skin.xrf\n"
              "material = paladin/cloth.crf\r\n");
  }

  rwtest::RunResult Importing(const std::string& arguments) {
    return rwtest::Run(std::string(RIGWEAVE_IMPORT) + " " + arguments);
  }

  // The names the material file `path` gives its maps, as Cal3D reads them.
  static std::vector<std::string> MapsOf(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(rwtools::ReadCheckedCal3D(path, rigweave::Cal3DKind::Material, 0, bytes, error))
        << error;
    CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
    std::vector<std::string> maps;
    if (!material) return maps;
    for (int i = 0; i < material->getMapCount(); i++) maps.push_back(material->getMapFilename(i));
    return maps;
  }

  static rigweave::RawTextureHeader RawHeader(const std::string& path) {
    const std::string bytes = rwtest::ReadFile(path);
    rigweave::RawTextureHeader header;
    EXPECT_EQ(rigweave::ParseRawTextureHeader(reinterpret_cast<const uint8_t*>(bytes.data()),
                                              bytes.size(), header),
              rigweave::RawTextureError::None)
        << path;
    EXPECT_EQ(bytes.size(), rigweave::kRawHeaderSize + header.DataSize()) << path;
    return header;
  }

  // Nothing of any import below `root`, finished or not.
  static bool NothingWritten(const std::string& root) {
    std::error_code error;
    return !fs::exists(root + "/models", error) || fs::is_empty(root + "/models", error);
  }

  // Every file and folder below `folder`, hidden ones too, with its bytes.
  static std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
      const std::string name = entry.path().lexically_relative(folder).string();
      tree[name] = entry.is_directory() ? "(folder)" : rwtest::ReadFile(entry.path().string());
    }
    return tree;
  }

  rwtest::ModelFolder cal3d;
  rwtest::TempDir source, root;
};

TEST_F(Import, WritesACharacterTheModuleLoadsWithEveryMap) {
  const rwtest::RunResult run = Importing(source / "paladin.cfg " + root.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string models = root / "models";

  // Every other line as it was, CR LF included; the values into paladin/.
  EXPECT_EQ(rwtest::ReadFile(models + "/paladin.cfg"),
            "# exported by a tool\r\n"
            "scale = 0.5\r\n"
            "author = someone\n"
            "skeleton = paladin/paladin/one.csf\n"
            "animation = paladin/paladin/walk.caf\n"
            "mesh = paladin/paladin/body.cmf\n"
            "material = paladin/paladin/skin.crf\n"
            "material = paladin/paladin/cloth.crf\r\n");
  // The XML material comes out binary; the map it cannot decode is copied
  // beside the others as it is.
  EXPECT_EQ(MapsOf(models + "/paladin/paladin/skin.crf"),
            (std::vector<std::string>{"paladin/maps/skin.raw", "paladin/maps/skin_bump.dds",
                                      "paladin/maps/shared.raw"}));
  EXPECT_EQ(MapsOf(models + "/paladin/paladin/cloth.crf"),
            (std::vector<std::string>{"paladin/maps/cloth.raw", "paladin/maps/shared.raw"}));
  EXPECT_EQ(RawHeader(models + "/paladin/maps/skin.raw").depth, 4);  // the TGA has alpha
  EXPECT_EQ(RawHeader(models + "/paladin/maps/cloth.raw").depth, 3);
  EXPECT_EQ(RawHeader(models + "/paladin/maps/shared.raw").width, 4);
  EXPECT_NE(run.err.find("warning: map maps/skin_bump.dds"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("wrote " + models +
                         "/paladin/maps/skin.raw (map maps/skin.tga: 4x2, "
                         "depth 4)"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(rwtest::ReadFile(models + "/paladin/maps/skin_bump.dds"),
            rwtest::ReadFile(source / "maps/skin_bump.dds"));
  EXPECT_NE(run.out.find("show it: rigweave-view --root " + root.Path() +
                         " paladin.cfg --out paladin-pictures\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 11) << run.out;

  // The viewer loads it, every converted map with it, and draws it.
  const rwtest::RunResult list =
      rwtest::Run(std::string(RIGWEAVE_VIEW) + " --root " + root.Path() + " paladin.cfg --list");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("map paladin/maps/skin.raw: loaded"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("map paladin/maps/cloth.raw: loaded"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("map paladin/maps/shared.raw: loaded"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("animation paladin/paladin/walk 1.000 s (played)"), std::string::npos)
      << list.out;
  // The second map it copied is there: not a raw texture, but not missing.
  EXPECT_NE(list.out.find("map paladin/maps/skin_bump.dds: not loaded, not a raw texture"),
            std::string::npos)
      << list.out;
}

TEST_F(Import, JpegMapsAndForceReplaceAnEarlierImport) {
  ASSERT_TRUE(cal3d.WriteMaterial("face.crf", {"maps/face.jpg"}));
  fs::copy_file(cal3d.Path("face.crf"), source / "paladin/cloth.crf",
                fs::copy_options::overwrite_existing);
  ASSERT_EQ(Importing(source / "paladin.cfg " + root.Path()).status, 0);
  const rwtest::RunResult again = Importing(source / "paladin.cfg " + root.Path());
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists (--force replaces it)"), std::string::npos) << again.err;
  const rwtest::RunResult forced = Importing("--force " + source / "paladin.cfg " + root.Path());
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(RawHeader(root / "models/paladin/maps/face.raw").depth, 3);
}

TEST_F(Import, EveryFailureIsOneLineAndLeavesNothingBehind) {
  rwtest::TempDir other;
  WriteText(other / "broken.cfg", "skeleton = missing.csf\n");
  WriteText(other / "damaged.cfg", "skeleton = damaged.csf\n");
  WriteText(other / "damaged.csf", "CSF\0\xb0\x04\0\0garbage");
  WriteText(other / "meshless.cfg", "skeleton = " + (source / "paladin/one.csf") +
                                        "\nmesh = " + (source / "paladin/skin.xrf") + "\n");
  WriteText(other / "nokey.cfg", "skeleton\n");
  WriteText(other / "empty.cfg", "");
  WriteText(other / "nomesh.cfg", "skeleton = " + (source / "paladin/one.csf") + "\n");
  WriteText(other / "late.cfg", "mesh = " + (source / "paladin/body.cmf") +
                                    "\nskeleton = " + (source / "paladin/one.csf") + "\n");
  // A name that would end the configuration's lines and add one of its own.
  const std::string injecting = other / "x\nmesh = elsewhere.cfg";
  fs::copy_file(source / "paladin.cfg", injecting);
  // An import into the folder the character comes from.
  fs::create_directories(other / "models/paladin");
  fs::copy_file(source / "paladin.cfg", other / "models/paladin/paladin.cfg");
  struct Case {
    std::string arguments, says;
    int status;
  };
  const Case cases[] = {
      {other / "none.cfg " + root.Path(), "none.cfg: cannot be read (not found", 1},
      {source / "maps " + root.Path(), "cannot be read (a folder", 1},
      {other / "broken.cfg " + root.Path(), "missing.csf: cannot be read", 1},
      {other / "damaged.cfg " + root.Path(), "damaged.csf: not a Cal3D file", 1},
      {other / "meshless.cfg " + root.Path(), "skin.xrf: not a Cal3D file", 1},
      {other / "nokey.cfg " + root.Path(), "line 1: a key without '='", 1},
      {other / "empty.cfg " + root.Path(), "no skeleton line; the module cannot load it", 1},
      {"/proc/self/status " + root.Path(), "no skeleton line", 1},
      {other / "nomesh.cfg " + root.Path(), "no mesh line", 1},
      {other / "late.cfg " + root.Path(), "line 1: a mesh before the skeleton", 1},
      {"'" + injecting + "' " + root.Path(),
       "x\\012mesh = elsewhere.cfg: the configuration's name holds a line break", 1},
      {source / "paladin.cfg /dev/null/root", "cannot make /dev/null/root/models", 1},
      {"--force " + other / "models/paladin/paladin.cfg " + other.Path(), "would replace the input",
       1},
      {source / "paladin.cfg", "ROOT is required", 2},
      {"--bogus " + source / "paladin.cfg " + root.Path(), "--bogus", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const rwtest::RunResult run = Importing(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err.rfind("rigweave-import: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(NothingWritten(root.Path()));
  }
  // A Cal3D file that goes missing halfway leaves no folder either.
  fs::remove(source / "paladin/body.cmf");
  const rwtest::RunResult late = Importing(source / "paladin.cfg " + root.Path());
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("body.cmf: cannot be read"), std::string::npos) << late.err;
  EXPECT_TRUE(NothingWritten(root.Path()));
}

TEST_F(Import, FollowsNoLinkPlantedWhereItWritesAside) {
  WriteText(root / "target", "keep");
  fs::create_directories(root / "models");
  // The shell's process id is the importer's after exec.
  const rwtest::RunResult run =
      rwtest::Run("sh -c 'ln -s " + root / "target " + root / "models/paladin.cfg.part$$; exec " +
                  RIGWEAVE_IMPORT + " " + source / "paladin.cfg " + root.Path() + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(rwtest::ReadFile(root / "target"), "keep");
}

TEST_F(Import, RawTexturesArriveAsTheModuleReadsThem) {
  // A raw texture with more bytes after its rows than the module reads.
  const std::vector<uint8_t> pixels = Pixels(4, 10, 20, 30, 255);
  std::vector<uint8_t> raw = rigweave::EncodeRawTexture({2, 2, 4}, pixels.data(), false);
  raw.resize(rigweave::kMaxRawTextureFileBytes + 1, 0);
  std::ofstream(source / "maps/padded.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  ASSERT_TRUE(cal3d.WriteMaterial("padded.crf", {"maps/padded.raw"}));
  fs::copy_file(cal3d.Path("padded.crf"), source / "paladin/cloth.crf",
                fs::copy_options::overwrite_existing);
  const rwtest::RunResult run = Importing(source / "paladin.cfg " + root.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(RawHeader(root / "models/paladin/maps/padded.raw").depth, 4);
  const rwtest::RunResult list =
      rwtest::Run(std::string(RIGWEAVE_VIEW) + " --root " + root.Path() + " paladin.cfg --list");
  EXPECT_NE(list.out.find("map paladin/maps/padded.raw: loaded"), std::string::npos) << list.out;
}

TEST_F(Import, AFullDiskKeepsTheEarlierImportWhole) {
  ASSERT_EQ(Importing(source / "paladin.cfg " + root.Path()).status, 0);
  const std::map<std::string, std::string> before = Tree(root / "models");
  // Writes past 1 KiB fail with EFBIG, as on a full disk: every file fits
  // but a material of 4 KB, which Cal3D's saver keeps in its stream's buffer
  // until the stream closes, where the failure goes unsaid.
  ASSERT_TRUE(cal3d.WriteMaterial(
      "many.crf", std::vector<std::string>(20, "maps/" + std::string(200, 'm') + ".dds")));
  fs::copy_file(cal3d.Path("many.crf"), source / "paladin/cloth.crf",
                fs::copy_options::overwrite_existing);
  const rwtest::RunResult run =
      rwtest::Run("trap '' XFSZ; prlimit --fsize=1024 " + std::string(RIGWEAVE_IMPORT) +
                  " --force " + source / "paladin.cfg " + root.Path());
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.err.find(root / "models/paladin/paladin/cloth.crf: reads back as not a Cal3D file"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(Tree(root / "models"), before);
}

// A --force stopped at each step that moves a file into place, by a signal
// the importer handles or by SIGKILL: once the next run has looked, the
// models folder is the earlier import or the new one, file for file, and
// nothing else.
TEST_F(Import, AnInterruptedReplacementLeavesOneWholeImport) {
  rwtest::TempDir oldRoot, newRoot;
  ASSERT_EQ(Importing(source / "paladin.cfg " + oldRoot.Path()).status, 0);
  ASSERT_TRUE(stbi_write_png((source / "maps/cloth.png").c_str(), 2, 2, 3,
                             Pixels(4, 200, 60, 30, 255).data(), 0));
  ASSERT_EQ(Importing(source / "paladin.cfg " + newRoot.Path()).status, 0);
  const std::map<std::string, std::string> oldTree = Tree(oldRoot / "models");
  const std::map<std::string, std::string> newTree = Tree(newRoot / "models");
  ASSERT_NE(oldTree, newTree);
  for (int signal : {SIGKILL, SIGTERM}) {
    bool finished = false;
    for (int at = 1; !finished && at < 100; at++) {
      SCOPED_TRACE("signal " + std::to_string(signal) + " at rename " + std::to_string(at));
      rwtest::TempDir target;
      fs::copy(oldRoot / "models", target / "models", fs::copy_options::recursive);
      const rwtest::RunResult run =
          rwtest::Run("RIGWEAVE_SIGNAL_AT_RENAME='" + std::to_string(at) + " " +
                      std::to_string(signal) + "' LD_PRELOAD=" + RIGWEAVE_SIGNAL_AT_RENAME_LIB +
                      " ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" " +
                      RIGWEAVE_IMPORT + " --force " + source / "paladin.cfg " + target.Path());
      finished = run.status == 0;
      const rwtest::RunResult next = Importing(source / "paladin.cfg " + target.Path());
      EXPECT_NE(next.err.find("exists (--force replaces it)"), std::string::npos) << next.err;
      const std::map<std::string, std::string> tree = Tree(target / "models");
      EXPECT_TRUE(tree == oldTree || tree == newTree) << [&] {
        std::string names;
        for (const auto& [name, bytes] : tree) names += name + "\n";
        return names;
      }();
    }
    EXPECT_TRUE(finished);
  }
}

// The README's example configuration, copied as printed, loads the sample.
TEST(ReadmeExample, LoadsAsPrinted) {
  const std::string readme = rwtest::ReadFile(std::string(RIGWEAVE_SOURCE_DIR) + "/README.md");
  const std::string start = "```\n# models/hero.cfg\n";
  const size_t begin = readme.find(start);
  ASSERT_NE(begin, std::string::npos);
  const size_t end = readme.find("```\n", begin + 4);
  ASSERT_NE(end, std::string::npos);
  const std::string example = readme.substr(begin + 4, end - begin - 4);

  // Through the module's own parser, no value carries a comment.
  const rigweave::ConfigFile config = rigweave::ParseConfig({example.begin(), example.end()});
  ASSERT_GE(config.entries.size(), 5u);
  for (const rigweave::ConfigEntry& entry : config.entries)
    EXPECT_EQ(entry.value.find('#'), std::string::npos) << entry.value;

  rwtest::TempDir root;
  fs::create_directories(root / "models");
  for (const fs::directory_entry& file :
       fs::directory_iterator(std::string(RIGWEAVE_BUILD_DIR) + "/models"))
    fs::create_symlink(file.path(), root / ("models/" + file.path().filename().string()));
  WriteText(root / "models/example.cfg", example);
  const rwtest::RunResult run = rwtest::Run(std::string(RIGWEAVE_VIEW) + " --root " + root.Path() +
                                            " example.cfg --frames 1");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("map "), std::string::npos) << run.err;
}

}  // namespace
