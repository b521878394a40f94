// Every way a model, a Cal3D file, a raw texture or a call can be wrong, with
// what the module answers and prints. The README's diagnostics section lists
// the same cases.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/message_text.h"
#include "formats/raw_texture.h"
#include "formats/texture_files.h"
#include "formats/whole_file.h"
#include "fuzz/model_input.h"
#include "support/output.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/probes.h"
#include "support/rows.h"
#include "support/stage_fixture.h"
#include "ical3dstate.h"

namespace {

using rwtest::ModelFolder;

const std::string kId = kRigweaveClassId;

std::string Lines(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& m : messages) text += kId + m + "\n";
  return text;
}

// A name of `length` bytes that starts with "start" and ends with "end".
std::string LongName(size_t length) {
  return "start" + std::string(length - 8, 'x') + "end";
}

// How a line names it when it is too long: its first and last 512 bytes
// and the count of those between.
std::string Clipped(size_t length) {
  const std::string name = LongName(length);
  return name.substr(0, 512) + "[... " + std::to_string(length - 1024) + " bytes ...]" +
         name.substr(length - 512);
}

const std::string kGoodConfig =
    "skeleton = hero.csf\nanimation = walk.caf\nmesh = hero.cmf\nmaterial = skin.crf\n";
const std::vector<std::string> kGoodLines = {
    ": Loading skeleton hero.csf", ": Loading animation walk.caf", ": Loading mesh hero.cmf",
    ": Loading material skin.crf"};

struct Row {
  const char* name;
  // Changes the good model: skeleton hero.csf, animation walk.caf, mesh
  // hero.cmf, material skin.crf with map skin.raw, configuration hero.cfg.
  std::function<void(ModelFolder&)> spoil;
  bool loads;
  std::vector<std::string> printed;
  const char* model = "hero.cfg";
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

std::vector<Row> Catalogue() {
  auto config = [](std::string text) {
    return [text](ModelFolder& f) { f.WriteFile("hero.cfg", text); };
  };
  auto replace = [](const char* name, std::function<std::string(std::string)> change) {
    return [name, change](ModelFolder& f) {
      f.WriteFile(name, change(rwtest::ReadFile(f.Path(name))));
    };
  };
  auto directory = [](const char* name) {
    return [name](ModelFolder& f) {
      std::filesystem::remove(f.Path(name));
      std::filesystem::create_directory(f.Path(name));
    };
  };
  // A FIFO nobody writes to: opening it for reading the usual way blocks.
  auto fifo = [](const char* name) {
    return [name](ModelFolder& f) {
      std::filesystem::remove(f.Path(name));
      ASSERT_EQ(::mkfifo(f.Path(name).c_str(), 0600), 0);
    };
  };
  auto link = [](const char* name, const char* target) {
    return [name, target](ModelFolder& f) {
      std::filesystem::remove(f.Path(name));
      std::filesystem::create_symlink(target, f.Path(name));
    };
  };
  auto chain = [](int bones) {
    return
        [bones](ModelFolder& f) { f.WriteFile("hero.csf", rwfuzz::ChainSkeleton(bones, false)); };
  };
  // Map names of `length` bytes, their start and end told apart.
  auto mapNamed = [](size_t length) {
    return
        [length](ModelFolder& f) { ASSERT_TRUE(f.WriteMaterial("skin.crf", {LongName(length)})); };
  };
  // The largest texture, its rows and then zeros up to `bytes` (a hole in the file).
  auto rawOfSize = [](size_t bytes) {
    return [bytes](ModelFolder& f) {
      f.WriteFile("skin.raw", rwtest::RawTextureBytes(4096, 4096, 4));
      std::filesystem::resize_file(f.Path("skin.raw"), bytes);
    };
  };
  auto after = [](std::vector<std::string> lines, std::vector<std::string> more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  };
  const std::string tenMegabytes(10 << 20, 'x');
  std::string twentyOne = "skeleton = hero.csf\n";
  std::vector<std::string> twentyOneLines = {": Loading skeleton hero.csf"};
  for (int i = 0; i < 20; i++) {
    twentyOne += "animation = walk.caf\n";
    twentyOneLines.push_back(": Loading animation walk.caf");
  }
  twentyOne += "animation = jump.caf\n";
  twentyOneLines.push_back(": Too many animations jump.caf");

  return {
      // The configuration file.
      {"configuration missing", nullptr, false, {}, "absent.cfg"},
      {"directory where the configuration belongs",
       directory("hero.cfg"),
       false,
       {": Can't read hero.cfg (a folder, not a file)"}},
      {"FIFO where the configuration belongs",
       fifo("hero.cfg"),
       false,
       {": Can't read hero.cfg (not a regular file)"}},
      {"configuration linked to /dev/zero",
       link("hero.cfg", "/dev/zero"),
       false,
       {": Can't read hero.cfg (not a regular file)"}},
      {"configuration as large as allowed",
       config(std::string(rigweave::kMaxConfigBytes - kGoodConfig.size() - 1, '#') + "\n" +
              kGoodConfig),
       true, kGoodLines},
      {"configuration one byte larger",
       config(std::string(rigweave::kMaxConfigBytes - kGoodConfig.size(), '#') + "\n" +
              kGoodConfig),
       false,
       {": Can't read hero.cfg (too large)"}},
      {"empty configuration", config(""), false, {": No skeleton in hero.cfg"}},
      {"UTF-8 byte-order mark before the first line", config("\xEF\xBB\xBF" + kGoodConfig), true,
       kGoodLines},
      {"misspelt skeleton key",
       config("skeletn = hero.csf\nscale = 2\n"),
       false,
       {": No skeleton in hero.cfg (unknown keys: skeletn)"}},
      {"misspelt skeleton key before an animation",
       config("skeletn = hero.csf\nanimation = walk.caf\n"),
       false,
       {": Loading animation walk.caf", ": No skeleton before walk.caf (unknown keys: skeletn)"}},
      {"skeleton and animation without a mesh",
       config("skeleton = hero.csf\nanimation = walk.caf\n"),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf", ": No mesh in hero.cfg"}},
      {"scale of nan",
       config("scale = nan\n" + kGoodConfig),
       false,
       {": Invalid scale nan (not a finite positive number)"}},
      {"scale of -1", config(kGoodConfig + "scale = -1\n"), false,
       after(kGoodLines, {": Invalid scale -1 (not a finite positive number)"})},
      {"scale of 1.0abc", config("scale = 1.0abc\n" + kGoodConfig), true,
       after({": Scale 1.0abc read as 1"}, kGoodLines)},
      {"10 MB comment line before a good model", config("#" + tenMegabytes + "\n" + kGoodConfig),
       true, kGoodLines},
      {"10 MB line without '='", config(tenMegabytes + "\n" + kGoodConfig), false, {}},
      {"key without '='", config("skeleton hero.csf\n"), false, {}},
      {"NUL byte at a line's start", config(std::string(1, '\0') + "mesh = x\n" + kGoodConfig),
       true, kGoodLines},
      {"NUL byte inside a file name",
       config("skeleton = hero.csf" + std::string(1, '\0') + "x\n"),
       false,
       {": Loading skeleton hero.csf" + std::string(1, '\0') + "x", ": No mesh in hero.cfg"}},
      {"non-UTF-8 file name",
       [](ModelFolder& f) {
         std::filesystem::rename(f.Path("hero.cmf"), f.Path("h\xe9ro.cmf"));
         f.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = h\xe9ro.cmf\n");
       },
       true,
       {": Loading skeleton hero.csf", ": Loading mesh h\xe9ro.cmf"}},
      {"file in a sub-folder",
       [](ModelFolder& f) {
         std::filesystem::create_directory(f.Path("sub"));
         std::filesystem::rename(f.Path("hero.cmf"), f.Path("sub/hero.cmf"));
         f.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = sub/hero.cmf\n");
       },
       true,
       {": Loading skeleton hero.csf", ": Loading mesh sub/hero.cmf"}},
      {"'..' leading out of the models folder",
       [](ModelFolder& f) {
         std::filesystem::rename(f.Path("hero.cmf"), f.Path("../outside.cmf"));
         f.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = ../outside.cmf\n");
       },
       true,
       {": Loading skeleton hero.csf", ": Loading mesh ../outside.cmf"}},
      {"absolute path as a value",
       config("skeleton = /etc/passwd\n"),
       false,
       {": Loading skeleton /etc/passwd"}},
      {"empty value",
       config("skeleton =\n"),
       false,
       {": Loading skeleton ", ": Can't read  (a folder, not a file)"}},
      {"more than 20 animations", config(twentyOne), false, twentyOneLines},
      {"as many sub-meshes as allowed",
       [](ModelFolder& f) {
         f.WriteMesh("hero.cmf",
                     std::vector<rwtest::TestSubmesh>(100, rwtest::Quad(csVector3(0, 0, 0), 1)));
       },
       true, kGoodLines},
      {"more than 100 sub-meshes",
       [](ModelFolder& f) {
         f.WriteMesh("hero.cmf",
                     std::vector<rwtest::TestSubmesh>(101, rwtest::Quad(csVector3(0, 0, 0), 1)));
       },
       false, after(kGoodLines, {": Too many sub-meshes 101 (at most 100)"})},
      // Cal3D's files.
      {"skeleton of a chain of bones as deep as allowed", chain(rigweave::kMaxBoneDepth), true,
       kGoodLines},
      {"skeleton of a chain of bones one deeper",
       chain(rigweave::kMaxBoneDepth + 1),
       false,
       {": Loading skeleton hero.csf",
        ": Invalid Cal3D file hero.csf (bone hierarchy too deep (1025 levels, at most 1024))"}},
      {"skeleton missing", config("skeleton = gone.csf\n"), false, {": Loading skeleton gone.csf"}},
      {"directory where the skeleton belongs",
       directory("hero.csf"),
       false,
       {": Loading skeleton hero.csf", ": Can't read hero.csf (a folder, not a file)"}},
      {"FIFO where the skeleton belongs",
       fifo("hero.csf"),
       false,
       {": Loading skeleton hero.csf", ": Can't read hero.csf (not a regular file)"}},
      {"mesh linked to /dev/urandom",
       link("hero.cmf", "/dev/urandom"),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf", ": Loading mesh hero.cmf",
        ": Can't read hero.cmf (not a regular file)"}},
      {"animation of infinite duration",
       replace("walk.caf",
               [](std::string s) {
                 s.replace(8, 4, std::string("\0\0\x80\x7f", 4));
                 return s;
               }),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf",
        ": Invalid Cal3D file walk.caf (duration not a finite positive number)"}},
      {"mesh as XML of another kind",
       [](ModelFolder& f) {
         f.WriteFile("hero.xmf", "<MATERIAL><AMBIENT>0 0 0 0</AMBIENT></MATERIAL>");
         f.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.xmf\n");
       },
       false,
       {": Loading skeleton hero.csf", ": Loading mesh hero.xmf",
        ": Invalid Cal3D file hero.xmf (not an XML Cal3D file of this kind)"}},
      {"empty skeleton",
       replace("hero.csf", [](std::string) { return ""; }),
       false,
       {": Loading skeleton hero.csf", ": Invalid Cal3D file hero.csf (truncated header)"}},
      {"truncated skeleton",
       replace("hero.csf", [](std::string s) { return s.substr(0, s.size() / 2); }),
       false,
       {": Loading skeleton hero.csf", ": Invalid Cal3D file hero.csf (bone count out of range)"}},
      {"mesh with a damaged magic number",
       replace("hero.cmf",
               [](std::string s) {
                 s[0] ^= 0x20;
                 return s;
               }),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf", ": Loading mesh hero.cmf",
        ": Invalid Cal3D file hero.cmf (not a binary Cal3D file of this kind)"}},
      {"mesh claiming 2^31 sub-meshes",
       replace("hero.cmf",
               [](std::string s) {
                 s.replace(8, 4, std::string("\xff\xff\xff\x7f", 4));
                 return s;
               }),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf", ": Loading mesh hero.cmf",
        ": Invalid Cal3D file hero.cmf (sub-mesh count out of range)"}},
      {"skeleton file named as a mesh",
       config("skeleton = hero.csf\nmesh = hero.csf\n"),
       false,
       {": Loading skeleton hero.csf", ": Loading mesh hero.csf",
        ": Invalid Cal3D file hero.csf (not a binary Cal3D file of this kind)"}},
      {"animation of random bytes",
       replace("walk.caf", [](std::string s) { return std::string(s.size(), '\x5a'); }),
       false,
       {": Loading skeleton hero.csf", ": Loading animation walk.caf",
        ": Invalid Cal3D file walk.caf (not a binary Cal3D file of this kind)"}},
      {"truncated material", replace("skin.crf", [](std::string s) { return s.substr(0, 10); }),
       false, after(kGoodLines, {": Invalid Cal3D file skin.crf (truncated header)"})},
      // Raw textures: the load goes on without them.
      {"texture missing", [](ModelFolder& f) { std::filesystem::remove(f.Path("skin.raw")); }, true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"directory where a texture belongs", directory("skin.raw"), true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"FIFO where a texture belongs", fifo("skin.raw"), true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"texture linked to /dev/zero", link("skin.raw", "/dev/zero"), true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"texture file as large as allowed", rawOfSize(rigweave::kMaxRawTextureFileBytes), true,
       kGoodLines},
      {"texture file one byte larger", rawOfSize(rigweave::kMaxRawTextureFileBytes + 1), true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"empty texture", [](ModelFolder& f) { f.WriteFile("skin.raw", ""); }, true,
       after(kGoodLines, {": Can't load texture skin.raw"})},
      {"texture of 2^30 by 2^30 pixels",
       [](ModelFolder& f) {
         f.WriteFile("skin.raw", rwtest::RawTextureBytes(1 << 30, 1 << 30, 3) + "abc");
       },
       true, after(kGoodLines, {": Can't load texture skin.raw"})},
      {"texture of negative width",
       [](ModelFolder& f) { f.WriteFile("skin.raw", rwtest::RawTextureBytes(-4, 4, 3) + "abc"); },
       true, after(kGoodLines, {": Can't load texture skin.raw"})},
      {"texture of depth 2",
       [](ModelFolder& f) { f.WriteFile("skin.raw", rwtest::RawTextureBytes(1, 1, 2) + "ab"); },
       true, after(kGoodLines, {": Can't load texture skin.raw"})},
      {"map name as long as a line prints whole", mapNamed(rigweave::kMaxMessageDetail), true,
       after(kGoodLines, {": Can't load texture " + LongName(rigweave::kMaxMessageDetail)})},
      {"map name one byte longer: its start and end", mapNamed(rigweave::kMaxMessageDetail + 1),
       true,
       after(kGoodLines, {": Can't load texture " + Clipped(rigweave::kMaxMessageDetail + 1)})},
      {"map name of 4 MiB: its start and end", mapNamed(4 << 20), true,
       after(kGoodLines, {": Can't load texture " + Clipped(4 << 20)})},
      {"texture shorter than its header says",
       [](ModelFolder& f) { f.WriteFile("skin.raw", rwtest::RawTextureBytes(8, 8, 3) + "abc"); },
       true, after(kGoodLines, {": Can't load texture skin.raw"})},
  };
}

class BadInput : public rwtest::StageTest {};
class BadModel : public rwtest::StageTest, public testing::WithParamInterface<Row> {};

TEST_P(BadModel, AnswersAndPrintsAsListed) {
  const Row& row = GetParam();
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteAnimation("walk.caf", 1, csVector3(0, 0, 1)));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  ASSERT_TRUE(folder.WriteMaterial("skin.crf", {"skin.raw"}));
  folder.WriteRawTexture("skin.raw", 1, 1, 3, {1, 2, 3});
  folder.WriteFile("hero.cfg", kGoodConfig);
  if (row.spoil) row.spoil(folder);

  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = !row.loads;
  const std::string printed = LoadPrinting(mesh.get(), row.model, &loaded);
  EXPECT_EQ(loaded, row.loads);
  EXPECT_EQ(printed, Lines(row.printed));
  // Whatever the load did, the object can still be driven and drawn.
  bool drawn;
  {
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    drawn = DrawOnce(mesh.get());
    mesh->UpdateLighting(nullptr, 0, movable.get());
    StateOf(mesh.get())->SetCycle("walk", 0, 0, 1);
    StateOf(mesh.get())->ClearAllCycles();
  }
  EXPECT_EQ(drawn, row.loads);
}

INSTANTIATE_TEST_SUITE_P(BadInput, BadModel, testing::ValuesIn(Catalogue()), rwtest::RowName());

TEST_F(BadInput, CallsOutOfPlaceAnswerFalseOrDoNothing) {
  csRef<iMeshObject> mesh = NewMesh();
  csRef<iCal3DState> state = StateOf(mesh.get());
  // Before any load.
  EXPECT_TRUE(mesh->DrawTest(stage->GetView(), movable.get()));
  EXPECT_FALSE(mesh->Draw(stage->GetView(), movable.get(), CS_ZBUF_USE));
  mesh->UpdateLighting(nullptr, 0, movable.get());
  state->SetLodLevel(0.5f);
  state->ClearAllCycles();
  for (const char* name : {static_cast<const char*>(nullptr), "", "walk"}) {
    EXPECT_FALSE(state->SetCycle(name, 1, 1, 1));
    EXPECT_FALSE(state->ExecuteAction(name, 1, 1));
    EXPECT_FALSE(state->BlendCycle(name, 1, 1));
    EXPECT_FALSE(state->ClearCycle(name, 1));
  }
  EXPECT_EQ(recorder.CountOf(rwengine::RecordedCall::Draw), 0u);

  // A load without its arguments.
  rwtest::CapturedOutput output;
  EXPECT_FALSE(state->LoadModel(nullptr, stage->GetLoader(), stage->GetEngine()));
  EXPECT_FALSE(state->LoadModel("hero.cfg", nullptr, stage->GetEngine()));
  EXPECT_FALSE(state->LoadModel("hero.cfg", stage->GetLoader(), nullptr));
  const std::string line = kId + ": LoadModel needs a model name, a loader and an engine\n";
  EXPECT_EQ(output.Text(), line + line + line);
}

TEST_F(BadInput, LevelsOfDetailOfEveryFloatAreSafe) {
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  rwtest::TestSubmesh strip = rwtest::Strip(6);
  strip.lodCount = static_cast<int>(strip.vertices.size());
  for (int v = 0; v < strip.lodCount; v++) {
    strip.collapseIds.push_back(v >= 2 ? v - 2 : (v == 1 ? 0 : -1));
    strip.faceCollapses.push_back(v >= 2 ? 1 : 0);
  }
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {strip}));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  ASSERT_TRUE(LoadQuietly(mesh.get(), "hero.cfg"));
  csRef<iCal3DState> state = StateOf(mesh.get());
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // A NaN leaves the level as it was (Cal3D read before its arrays with it).
  state->SetLodLevel(0.5f);
  ASSERT_TRUE(DrawOnce(mesh.get()));
  const size_t half = recorder.Of(rwengine::RecordedCall::Draw).back()->triangles.size();
  for (float level : {nan, -nan, inf, -inf, 1e30f, -1e30f, 0.0f, 1.0f, nan}) {
    SCOPED_TRACE(level);
    state->SetLodLevel(level);
    recorder.Clear();
    ASSERT_TRUE(DrawOnce(mesh.get()));
    EXPECT_EQ(stage->GetGraphics()->DrawsRejected(), 0);
  }
  // The last NaN kept level 1 from the call before it.
  EXPECT_EQ(recorder.Of(rwengine::RecordedCall::Draw).back()->triangles.size(), strip.faces.size());
  state->SetLodLevel(nan);
  EXPECT_LT(half, strip.faces.size());
}

TEST_F(BadInput, ManyMapsNamingOneTextureInAnySpellingDecodeItOnce) {
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  // 1000 maps of one 512 x 512 texture: decoded each time, a gigabyte. Named
  // as written, through "./" and "//" in any number, a symbolic and a hard link.
  folder.WriteRawTexture("big.raw", 512, 512, 4, std::vector<uint8_t>(512 * 512 * 4, 7));
  std::filesystem::create_symlink("big.raw", folder.Path("alias.raw"));
  std::filesystem::create_hard_link(folder.Path("big.raw"), folder.Path("hard.raw"));
  std::filesystem::create_directory(folder.Path("sub"));
  std::vector<std::string> maps = {"big.raw", "alias.raw", "hard.raw", "sub/../big.raw"};
  for (size_t slashes = 0; maps.size() < 1000; slashes++)
    maps.push_back("./" + std::string(slashes, '/') + "big.raw");
  ASSERT_TRUE(folder.WriteMaterial("skin.crf", maps));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\nmaterial = skin.crf\n");
  const int textures = rwengine::LiveObjects::Count("TextureWrapper");
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded).find("Can't load"), std::string::npos);
  ASSERT_TRUE(loaded);
  int named = 0;
  for (int i = 0; i < stage->GetEngine()->GetMaterialCount(); i++)
    named += std::string(stage->GetEngine()->GetMaterial(i)->GetName()) == "big.raw";
  EXPECT_EQ(named, 1);
  EXPECT_EQ(stage->GetEngine()->GetMaterialCount(), 2);  // the fallback's and the texture's
  // The fallback texture and the one decoded picture.
  EXPECT_EQ(rwengine::LiveObjects::Count("TextureWrapper"), textures + 2);
}

// Every distinct texture may hold 4096 x 4096 pixels: a load decodes four
// such (the budget exactly), and no pixel more.
TEST_F(BadInput, TexturesPastTheLoadsPixelBudgetAreNotDecoded) {
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  constexpr int64_t kPerFile = rigweave::kMaxRawTexturePixels;
  ASSERT_EQ(rigweave::kMaxLoadTexturePixels % kPerFile, 0);
  std::vector<std::string> maps;
  for (int64_t i = 0; i < rigweave::kMaxLoadTexturePixels / kPerFile; i++) {
    maps.push_back("t" + std::to_string(i) + ".raw");
    // Pixel rows of zeros, written as a hole in the file.
    folder.WriteFile(maps.back(), rwtest::RawTextureBytes(4096, 4096, 3));
    std::filesystem::resize_file(folder.Path(maps.back()), 12 + 4096 * 4096 * 3);
  }
  maps.push_back("one.raw");
  folder.WriteRawTexture("one.raw", 1, 1, 3, {1, 2, 3});
  ASSERT_TRUE(folder.WriteMaterial("skin.crf", maps));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\nmaterial = skin.crf\n");
  const int textures = rwengine::LiveObjects::Count("TextureWrapper");
  csRef<iMeshObject> mesh = NewMesh();
  bool loaded = false;
  EXPECT_EQ(LoadPrinting(mesh.get(), "hero.cfg", &loaded),
            Lines({": Loading skeleton hero.csf", ": Loading mesh hero.cmf",
                   ": Loading material skin.crf",
                   ": Can't load texture one.raw (decoded textures of the model above 67108864 "
                   "pixels in all)"}));
  EXPECT_TRUE(loaded);
  EXPECT_EQ(rwengine::LiveObjects::Count("TextureWrapper"), textures + 1 + 4);
}

// Runs `body` in a child process and answers its exit status, or 128 plus
// the signal that ended it.
int InChild(const std::function<int()>& body) {
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A chain of bones deep enough to overflow a loader thread's 1 MiB stack in
// Cal3D's recursive walk is refused before Cal3D walks it.
TEST_F(BadInput, ADeepChainOfBonesLoadsSafelyOnAOneMebibyteThread) {
  ModelFolder folder;
  Use(folder);
  folder.WriteFile("hero.csf", rwfuzz::ChainSkeleton(40000, false));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  struct Job {
    csRef<iCal3DState> state;
    iLoader* loader;
    iEngine* engine;
    bool loaded = true;
  } job{StateOf(mesh.get()), stage->GetLoader(), stage->GetEngine()};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1 << 20);
  pthread_t thread;
  rwtest::CapturedOutput output;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* data) -> void* {
                  auto* job = static_cast<Job*>(data);
                  job->loaded = job->state->LoadModel("hero.cfg", job->loader, job->engine);
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(output.Text(),
            Lines({": Loading skeleton hero.csf",
                   ": Invalid Cal3D file hero.csf (bone hierarchy too deep (40000 levels, at most "
                   "1024))"}));
  EXPECT_FALSE(job.loaded);
}

// Out of memory inside a load (here tinyxml2's document of an XML skeleton
// under an address-space limit): LoadModel answers false with one line,
// nothing escapes as an exception, and the object loads again afterwards.
TEST_F(BadInput, RunningOutOfMemoryInALoadAnswersFalse) {
  if (RIGWEAVE_SANITIZED) GTEST_SKIP() << "the sanitizers reserve more than the limit allows";
  ModelFolder folder;
  Use(folder);
  // A valid skeleton with 1.9 million comments: within the tag budget, about
  // 230 MB as a document.
  std::string comments;
  for (int i = 0; i < 1900000; i++) comments += "<!---->";
  folder.WriteFile("deep.xsf", "<SKELETON>" + comments +
                                   "<BONE NAME=\"b\"><TRANSLATION>0 0 0</TRANSLATION>"
                                   "<ROTATION>0 0 0 1</ROTATION><LOCALTRANSLATION>0 0 0"
                                   "</LOCALTRANSLATION><LOCALROTATION>0 0 0 1</LOCALROTATION>"
                                   "<PARENTID>-1</PARENTID></BONE></SKELETON>");
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("big.cfg", "skeleton = deep.xsf\nmesh = hero.cmf\n");
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\n");
  csRef<iMeshObject> mesh = NewMesh();
  const std::string printed = folder.Path("printed.txt");
  const int status = InChild([&] {
    const int out = ::open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    // 64 MiB more than the process has: the document does not fit.
    std::ifstream self("/proc/self/statm");
    size_t pages = 0;
    self >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (64 << 20);
    const rlimit address{limit, limit};
    if (::setrlimit(RLIMIT_AS, &address) != 0) return 3;
    if (Load(mesh.get(), "big.cfg")) return 4;
    if (!Load(mesh.get(), "hero.cfg") || !DrawOnce(mesh.get())) return 5;
    std::fflush(stdout);
    std::cout.flush();
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rwtest::ReadFile(printed),
            Lines({": Loading skeleton deep.xsf", ": Out of memory loading big.cfg",
                   ": Loading skeleton hero.csf", ": Loading mesh hero.cmf"}));
}

// Releases the mesh object the engine was drawing from inside its visibility
// callback, as a scene that removes an object on sight would.
class ReleasingCallback : public scfImplementation<ReleasingCallback, iMeshObjectDrawCallback> {
 public:
  bool BeforeDrawing(iMeshObject* mesh, iRenderView*) override {
    calls++;
    if (release) release.reset();
    (void)mesh;
    return true;
  }
  csRef<iMeshObject> release;
  int calls = 0;
};

TEST_F(BadInput, ReleasingTheLastReferenceInsideTheCallbackIsSafe) {
  ModelFolder folder;
  Use(folder);
  ASSERT_TRUE(folder.WriteSkeleton("hero.csf"));
  ASSERT_TRUE(folder.WriteMesh("hero.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("hero.cfg", "skeleton = hero.csf\nmesh = hero.cmf\n");
  const int buffers = rwengine::LiveObjects::Count("VertexBuffer");

  auto callback = csRef<ReleasingCallback>::Adopt(new ReleasingCallback);
  iMeshObject* mesh = nullptr;
  {
    csRef<iMeshObject> owned = NewMesh();
    ASSERT_TRUE(LoadQuietly(owned.get(), "hero.cfg"));
    ASSERT_TRUE(DrawOnce(owned.get()));
    owned->SetVisibleCallback(callback.get());
    mesh = owned.get();
    // The callback gets the only reference.
    callback->release = owned;
  }
  ASSERT_EQ(mesh->GetRefCount(), 1);
  EXPECT_EQ(callback->GetRefCount(), 2);
  mesh->DrawTest(stage->GetView(), movable.get());
  // The object is destroyed during this call and must not touch itself after.
  EXPECT_FALSE(mesh->Draw(stage->GetView(), movable.get(), CS_ZBUF_USE));
  EXPECT_EQ(callback->calls, 1);
  EXPECT_EQ(callback->GetRefCount(), 1);
  EXPECT_EQ(rwengine::LiveObjects::Count("VertexBuffer"), buffers);
  EXPECT_EQ(stage->GetGraphics()->GetManager()->ClientCount(), 0);
}

}  // namespace
