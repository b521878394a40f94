// rigweave-view with characters other than the sample: framing whatever
// their units, the animations they name, what it says about their maps, and
// what it refuses before the first frame.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/model_folder.h"
#include "viewer/sheet.h"
#include "support/programs.h"

namespace {

namespace fs = std::filesystem;
using rwview::Picture;

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Everything made in some folders while it lives, even what is gone again
// by the time anyone could look.
class CreationWatch {
 public:
  explicit CreationWatch(const std::vector<std::string>& folders)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    for (const std::string& folder : folders)
      if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0)
        ADD_FAILURE() << "cannot watch " << folder << ": " << std::strerror(errno);
  }
  ~CreationWatch() {
    if (fd_ >= 0) close(fd_);
  }
  CreationWatch(const CreationWatch&) = delete;
  CreationWatch& operator=(const CreationWatch&) = delete;

  // The names made since the last call.
  std::vector<std::string> Made() {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[8192];
    ssize_t length;
    while (fd_ >= 0 && (length = read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* at = buffer; at < buffer + length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        names.emplace_back(event->len > 0 ? event->name : "");
        at += sizeof(inotify_event) + event->len;
      }
    }
    return names;
  }

 private:
  int fd_;
};

// A character folder: one bone, a standing quad `height` model units tall
// and half as wide (Cal3D counts z up), animations and maps as a test asks.
class Characters : public ::testing::Test {
 protected:
  std::string Root() const { return fs::path(folder.Path("x")).parent_path().parent_path(); }

  void WriteQuad(const std::string& name, float height) {
    rwtest::TestSubmesh quad;
    quad.vertices = {csVector3(-height / 4, 0, 0), csVector3(height / 4, 0, 0),
                     csVector3(height / 4, 0, height), csVector3(-height / 4, 0, height)};
    quad.faces = {{0, 1, 2}, {0, 2, 3}};
    ASSERT_TRUE(folder.WriteMesh(name, {quad}));
  }

  // `lines` after a skeleton and a quad mesh.
  void WriteCharacter(const std::string& config, const std::string& lines, float scale = 1.0f) {
    ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
    WriteQuad("quad.cmf", 100);
    folder.WriteFile(config, "scale = " + std::to_string(scale) +
                                 "\nskeleton = one.csf\nmesh = quad.cmf\n" + lines);
  }

  rwtest::RunResult View(const std::string& arguments) {
    return rwtest::Run(std::string(RIGWEAVE_VIEW) + " --root " + Root() + " " + arguments);
  }

  // The rows and columns the character covers, as shares of the picture.
  struct Extent {
    double height = 0, width = 0, coverage = 0;
  };
  static Extent Measure(const Picture& picture) {
    const rwtest::Rgb background = rwtest::PixelAt(picture, 0, 0);
    int top = picture.height, bottom = -1, left = picture.width, right = -1;
    long covered = 0;
    for (int y = 0; y < picture.height; y++)
      for (int x = 0; x < picture.width; x++)
        if (rwtest::Distance(picture.At(x, y), background) > 12) {
          top = std::min(top, y), bottom = std::max(bottom, y);
          left = std::min(left, x), right = std::max(right, x);
          covered++;
        }
    Extent extent;
    if (bottom < 0) return extent;
    extent.height = static_cast<double>(bottom - top + 1) / picture.height;
    extent.width = static_cast<double>(right - left + 1) / picture.width;
    extent.coverage = static_cast<double>(covered) / (picture.width * picture.height);
    return extent;
  }

  rwtest::ModelFolder folder;
  rwtest::TempDir out;
};

TEST_F(Characters, FramesCharactersOfAnySizeAtTwoThirdsOfThePicture) {
  // Engine units are model units times scale * 0.02: the quad is 2 * scale tall.
  for (double tall : {0.001, 0.05, 2.0, 40.0, 1000.0}) {
    SCOPED_TRACE(tall);
    WriteCharacter("size.cfg", "", static_cast<float>(tall / 2));
    const std::string shot = out / "shot.png";
    const rwtest::RunResult run = View("size.cfg --frames 1 --size 200x200 --screenshot " + shot);
    ASSERT_EQ(run.status, 0) << run.err;
    // Without animations the rest pose shows.
    EXPECT_NE(run.out.find("rest pose"), std::string::npos) << run.out;
    const Extent extent = Measure(rwtest::LoadPicture(shot));
    EXPECT_NEAR(extent.height, 2.0 / 3.0, 0.06);
    EXPECT_GT(extent.coverage, 0.01);
    EXPECT_LT(extent.coverage, 0.80);
  }
}

TEST_F(Characters, ZoomAndCrowdScaleWithTheCharacter) {
  WriteCharacter("small.cfg", "", 0.005f);  // 0.01 units tall
  const std::string plain = out / "plain.png", zoomed = out / "zoomed.png",
                    crowd = out / "crowd.png";
  ASSERT_EQ(View("small.cfg --frames 1 --size 200x200 --screenshot " + plain).status, 0);
  ASSERT_EQ(View("small.cfg --frames 1 --size 200x200 --zoom 0.5 --screenshot " + zoomed).status,
            0);
  ASSERT_EQ(View("small.cfg --frames 1 --size 200x200 --crowd 9 --screenshot " + crowd).status, 0);
  const Extent one = Measure(rwtest::LoadPicture(plain));
  EXPECT_NEAR(Measure(rwtest::LoadPicture(zoomed)).height, one.height / 2, 0.05);
  // Nine characters spaced by their own size: the grid fills the frame as
  // one character does, and they do not all stand in one spot.
  const Extent grid = Measure(rwtest::LoadPicture(crowd));
  EXPECT_GT(grid.width, 1.5 * one.width);
  EXPECT_GT(grid.coverage, 1.5 * one.coverage);
  EXPECT_LT(grid.coverage, 0.80);
}

TEST_F(Characters, PlaysTheFirstAnimationAndFindsNamesByTheirBase) {
  WriteCharacter("anim.cfg",
                 "animation = pal/pal_walk.caf\nanimation = pal/pal_idle.caf\n"
                 "animation = other/jump.caf\nanimation = pal/jump.caf\n"
                 "animation = pal/pal_wave.caf\nanimation = other/big_wave.caf\n");
  fs::create_directories(folder.Path("pal"));
  fs::create_directories(folder.Path("other"));
  for (const char* name : {"pal/pal_walk.caf", "pal/pal_idle.caf", "other/jump.caf", "pal/jump.caf",
                           "pal/pal_wave.caf", "other/big_wave.caf"})
    ASSERT_TRUE(folder.WriteAnimation(name, 1.0f, csVector3(0, 0, 10)));

  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"", 0, "cycle pal/pal_walk,"},
      {"--cycle pal_idle", 0, "cycle pal/pal_idle,"},
      {"--cycle pal/pal_idle", 0, "cycle pal/pal_idle,"},
      {"--cycle other/jump --action pal_idle@0", 0, "cycle other/jump,"},
      {"--cycle jump", 1, "jump names several animations (other/jump, pal/jump)"},
      // The natural name: the one base name that ends in _walk, at once.
      {"--cycle walk --action idle", 0, "cycle pal/pal_walk,"},
      {"--cycle wave", 1, "wave names several animations (pal/pal_wave, other/big_wave)"},
      {"--cycle pal_run", 1, "no animation named pal_run (it has: pal/pal_walk, pal/pal_idle,"},
      {"--cycle pal_walk.caf", 1, "no animation named pal_walk.caf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const rwtest::RunResult run = View("anim.cfg --frames 2 " + c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE((c.status == 0 ? run.out : run.err).find(c.says), std::string::npos)
        << run.out << run.err;
  }
}

TEST_F(Characters, UnknownActionIsRefusedBeforeTheFirstFrame) {
  WriteCharacter("anim.cfg", "animation = walk.caf\n");
  ASSERT_TRUE(folder.WriteAnimation("walk.caf", 1.0f, csVector3(0, 0, 10)));
  // Due in the middle of the run, and after its last frame.
  for (const std::string action : {"nosuch@0.2", "nosuch@5"}) {
    SCOPED_TRACE(action);
    const std::string frames = out / action;
    const rwtest::RunResult run =
        View("anim.cfg --frames 12 --action " + action + " --out " + frames);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("rigweave-view: model anim.cfg has no animation named nosuch", 0), 0u)
        << run.err;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_FALSE(fs::exists(frames + "/frame_0000.png"));
  }
}

// Maps of every kind the module may fail to read, and one it reads.
class CharacterMaps : public Characters {
 protected:
  void SetUp() override {
    folder.WriteRawTexture("ok.raw", 2, 2, 3, std::vector<uint8_t>(12, 200));
    ASSERT_TRUE(rwview::WritePng(folder.Path("pic.png"), Tiny()));
    ASSERT_TRUE(rwview::WritePng(folder.Path("gone.png"), Tiny()));
    folder.WriteFile("bump.dds", "DDS " + std::string(124, '\0'));
    ASSERT_TRUE(folder.WriteMaterial("one.crf", {"ok.raw", "bump.dds"}));
    ASSERT_TRUE(folder.WriteMaterial("two.crf", {"pic.png"}));
    ASSERT_TRUE(folder.WriteMaterial("three.crf", {"gone.raw", "ok.raw"}));
    WriteCharacter("maps.cfg", "material = one.crf\nmaterial = two.crf\nmaterial = three.crf\n");
  }
  static Picture Tiny() {
    Picture p;
    p.width = p.height = 2;
    p.rgb.assign(12, 90);
    return p;
  }
};

TEST_F(CharacterMaps, SaysWhichMapsDidNotLoadAndHowToFixThem) {
  const rwtest::RunResult run = View("maps.cfg --frames 1");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines;
  std::smatch match;
  const std::regex mapLine("rigweave-view: maps.cfg: map ([^:]+): ([^\n]*)\n");
  for (auto it = std::sregex_iterator(run.err.begin(), run.err.end(), mapLine);
       it != std::sregex_iterator(); ++it)
    lines.push_back((*it)[1].str() + " | " + (*it)[2].str());
  ASSERT_EQ(lines.size(), 3u) << run.err;
  EXPECT_EQ(lines[0].rfind("bump.dds | not a raw texture", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].find("to fix"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("pic.png | a picture, not a raw texture; to fix: rigweave-import " +
                          folder.Path("maps.cfg")),
            std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("gone.raw | cannot be read (not found); to fix: "
                          "rigweave-raw " +
                          folder.Path("gone.png") + " " + folder.Path("gone.raw")),
            std::string::npos)
      << lines[2];

  const rwtest::RunResult quiet = View("maps.cfg --frames 1 --quiet");
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err.find("map "), std::string::npos) << quiet.err;
}

// An export's pictures, all fixed by one import, are one line with the count.
TEST_F(CharacterMaps, MapsWithOneCauseAreOneLine) {
  std::vector<std::string> pictures;
  for (int i = 0; i < 5; i++) {
    pictures.push_back("p" + std::to_string(i) + ".png");
    ASSERT_TRUE(rwview::WritePng(folder.Path(pictures.back()), Tiny()));
  }
  ASSERT_TRUE(folder.WriteMaterial("four.crf", pictures));
  WriteCharacter("maps.cfg", "material = four.crf\nmaterial = two.crf\n");
  const rwtest::RunResult run = View("maps.cfg --frames 1");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.rfind("rigweave-view: maps.cfg: 6 maps (p0.png, p1.png, p2.png and 3 more): a "
                          "picture, not a raw texture; to fix: rigweave-import " +
                              folder.Path("maps.cfg") + " ",
                          0),
            0u)
      << run.err;
  EXPECT_EQ(Lines(run.err), 1) << run.err;
}

TEST_F(CharacterMaps, ListsWhatTheCharacterHolds) {
  folder.WriteFile("maps.cfg",
                   "scale = 2\nskeleton = one.csf\nanimation = sub/wave.caf\n"
                   "animation = sub/pose.caf\n"
                   "mesh = quad.cmf\nmaterial = one.crf\nmaterial = two.crf\n");
  fs::create_directories(folder.Path("sub"));
  ASSERT_TRUE(folder.WriteAnimation("sub/wave.caf", 1.25f, csVector3(0, 0, 10)));
  ASSERT_TRUE(folder.WriteAnimation("sub/pose.caf", 0.5f, csVector3(0, 0, 0)));
  const rwtest::RunResult run = View("maps.cfg --list");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "model maps.cfg\n"
            "  scale 2\n"
            "  skeleton one.csf: 1 bone\n"
            "  animation sub/wave 1.250 s (played)\n"
            "  animation sub/pose 0.500 s (no bone moves)\n"
            "  mesh quad.cmf: 1 sub-mesh\n"
            "    sub-mesh 0: 4 vertices, 2 faces, material 0\n"
            "  material one.crf: 2 maps\n"
            "    map ok.raw: loaded\n"
            "    map bump.dds: not loaded, not a raw texture: width or height out of range\n"
            "  material two.crf: 1 map\n"
            "    map pic.png: not loaded, a picture, not a raw texture\n");
}

TEST_F(Characters, FileSystemTroubleIsOneLineNotAnAbort) {
  WriteCharacter("good.cfg", "");
  fs::create_symlink("loop.cfg", folder.Path("loop.cfg"));
  rwtest::TempDir loopingRoot;
  fs::create_directory_symlink("models", loopingRoot / "models");
  const std::string longName(300, 'n');
  struct Case {
    std::string arguments, says;
  };
  for (const Case& c : {Case{"loop.cfg", "loop.cfg cannot be read"},
                        Case{longName + ".cfg", "cannot be read (name too long)"},
                        Case{"--root " + loopingRoot.Path() + " good.cfg", "no models/ folder"},
                        Case{"--root " + loopingRoot.Path() + " --empty", "no models/ folder"}}) {
    SCOPED_TRACE(c.arguments.substr(0, 60));
    const rwtest::RunResult run = View(c.arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("rigweave-view: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
  }
}

TEST_F(Characters, OutputsThatCannotBeWrittenAreRefusedBeforeRendering) {
  WriteCharacter("good.cfg", "");
  fs::create_directories(out / "folder");
  struct Case {
    std::string arguments, says;
    int status;
  };
  for (const Case& c : {Case{"--screenshot /nonexistent/shot.png", "cannot write", 1},
                        Case{"--screenshot " + out / "folder", "a folder has that name", 1},
                        Case{"--out /dev/null/frames", "cannot make the folder", 1},
                        Case{"--out ''", "--out: needs a folder name", 2},
                        Case{"--screenshot ''", "--screenshot: needs a file name", 2},
                        Case{"--frames 100001", "--frames", 2}}) {
    SCOPED_TRACE(c.arguments);
    const rwtest::RunResult run = View("good.cfg --frames 3 " + c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("frame 1/"), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
  }
}

// A configuration given by its path is read from where it lies: beside its
// files in a folder of any name, as exporters leave it, or below the
// models/ folder of another root.
TEST_F(Characters, ReadsAConfigurationGivenByItsPathWhereItLies) {
  folder.WriteRawTexture("red.raw", 2, 2, 3, {200, 40, 40, 200, 40, 40, 200, 40, 40, 200, 40, 40});
  ASSERT_TRUE(folder.WriteMaterial("red.crf", {"red.raw", "gone.raw"}));
  Picture tiny;
  tiny.width = tiny.height = 2;
  tiny.rgb.assign(12, 90);
  ASSERT_TRUE(rwview::WritePng(folder.Path("gone.png"), tiny));
  WriteCharacter("red.cfg", "material = red.crf\n");
  fs::create_directories(folder.Path("sub"));
  folder.WriteFile("sub/nested.cfg", "skeleton = one.csf\nmesh = quad.cmf\nmaterial = red.crf\n");
  const std::string shot = " --frames 1 --size 120x120 --quiet --screenshot ";
  ASSERT_EQ(View("red.cfg" + shot + (out / "reference.png")).status, 0);
  const Picture reference = rwtest::LoadPicture(out / "reference.png");

  rwtest::TempDir exported, temporary, elsewhere;
  fs::copy(fs::path(folder.Path("red.cfg")).parent_path(), exported / "paladin",
           fs::copy_options::recursive);
  struct Case {
    std::string where, config;
  };
  // Nothing is made to read a model where it lies: no folder or link in the
  // temporary folder, none beside the configuration or in the folder above.
  const std::string models = fs::path(folder.Path("red.cfg")).parent_path();
  CreationWatch watch({temporary.Path(), exported / "paladin", exported.Path(), models,
                       fs::path(models).parent_path(), folder.Path("sub")});
  for (const Case& c : {Case{exported.Path(), "paladin/red.cfg"},
                        Case{elsewhere.Path(), exported / "paladin/red.cfg"},
                        Case{elsewhere.Path(), folder.Path("red.cfg")},
                        Case{elsewhere.Path(), folder.Path("sub/nested.cfg")}}) {
    SCOPED_TRACE(c.config);
    const std::string viewer =
        "cd " + c.where + " && TMPDIR=" + temporary.Path() + " " + RIGWEAVE_VIEW + " " + c.config;
    const rwtest::RunResult run = rwtest::Run(viewer + shot + (out / "shot.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(rwtest::ShareDiffering(rwtest::LoadPicture(out / "shot.png"), reference, 0), 0.0);
    const rwtest::RunResult list = rwtest::Run(viewer + " --list");
    EXPECT_NE(list.out.find("    map red.raw: loaded\n"), std::string::npos) << list.out;
    // The command that fixes a map names the files where they are.
    const rwtest::RunResult maps = rwtest::Run(viewer + " --frames 1");
    const std::string base = fs::path(c.config).is_absolute()
                                 ? fs::path(c.config).parent_path().string()
                                 : exported / "paladin";
    const std::string models =
        c.config.find("/sub/") != std::string::npos ? fs::path(base).parent_path().string() : base;
    EXPECT_NE(maps.err.find("to fix: rigweave-raw " + models + "/gone.png " + models + "/gone.raw"),
              std::string::npos)
        << maps.err;
    EXPECT_EQ(watch.Made(), std::vector<std::string>{});
  }
}

// A run that does not finish leaves no --out folder it made and no
// picture, whole or cut short: a refused model, a disk that fills (a file
// size limit, with its signal ignored as a full disk sends none) and a
// SIGTERM in the middle of the frames.
TEST_F(Characters, AnUnfinishedRunLeavesNoOutputBehind) {
  folder.WriteFile("bad.cfg", "skeleton = missing.csf\n");
  const std::string frames = out / "new/deeper";
  const std::string hero =
      std::string(RIGWEAVE_VIEW) + " --root " + RIGWEAVE_BUILD_DIR + " hero.cfg --out " + frames;
  struct Case {
    std::string name, command, says;
    int status;
  };
  for (const Case& c : {
           Case{"refused model",
                std::string(RIGWEAVE_VIEW) + " --root " + Root() + " bad.cfg --out " + frames,
                "cannot load model bad.cfg", 1},
           Case{"full disk", "{ trap '' XFSZ; ulimit -f 8; " + hero + " --frames 3; }",
                "frame_0000.png: cannot be written (File too large)", 1},
           Case{"SIGTERM",
                "{ " + hero + " --frames 100000 & i=0; until [ -e " + frames +
                    "/frame_0002.png ] || [ $i -ge 600 ]; do sleep 0.05; i=$((i+1)); "
                    "done; kill -TERM $!; wait $!; }",
                "", 128 + SIGTERM},
       }) {
    SCOPED_TRACE(c.name);
    const rwtest::RunResult run = rwtest::Run(c.command);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out / "new")) << run.err;
  }
  // Into a folder that was there, a failed write leaves it as it was.
  const rwtest::RunResult full =
      rwtest::Run("{ trap '' XFSZ; ulimit -f 8; " + std::string(RIGWEAVE_VIEW) + " --root " +
                  RIGWEAVE_BUILD_DIR + " --frames 2 --out " + out.Path() + "; }");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(Lines(full.err.substr(full.err.rfind('\r') + 1)), 1) << full.err;
  EXPECT_TRUE(fs::is_empty(out.Path()));
}

// Each mesh object holds tens of megabytes of colour arrays: under a limit
// of address space a crowd runs out, and the viewer says so.
TEST_F(Characters, OutOfMemoryIsSaidAsSuch) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (RIGWEAVE_SANITIZED || (preload != nullptr && std::strstr(preload, "vgpreload") != nullptr))
    GTEST_SKIP() << "the checker's own reservations exceed the limit";
  WriteCharacter("good.cfg", "");
  const rwtest::RunResult run = rwtest::Run("ulimit -v 1000000 && " + std::string(RIGWEAVE_VIEW) +
                                            " --root " + Root() + " good.cfg --list --crowd 100");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("rigweave-view: out of memory after ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(": Out of memory for a new mesh object)"), std::string::npos) << run.err;
  EXPECT_EQ(Lines(run.err), 1) << run.err;
}

TEST(ViewOffscreen, EglAndOsMesaDrawTheSamePictures) {
  rwtest::TempDir dir;
  std::vector<Picture> pictures[2];
  const char* kinds[2] = {"egl", "osmesa"};
  const char* names[2] = {"renderer: EGL surfaceless", "renderer: OSMesa"};
  for (int k = 0; k < 2; k++) {
    const std::string folder = dir / kinds[k];
    const rwtest::RunResult run =
        rwtest::RunView(std::string("--crowd 2 --cycle walk --frames 3 ") + "--offscreen " +
                        kinds[k] + " --out " + folder);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(names[k]), std::string::npos) << run.out;
    for (int i = 0; i < 3; i++)
      pictures[k].push_back(
          rwtest::LoadPicture(folder + "/frame_000" + std::to_string(i) + ".png"));
  }
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_GT(rwtest::ShareAwayFrom(pictures[0][i], rwtest::PixelAt(pictures[0][i], 0, 0), 12),
              0.02);
    // Both are Mesa's software rasteriser: the same pixels but for rounding.
    EXPECT_LT(rwtest::ShareDiffering(pictures[0][i], pictures[1][i], 2), 0.001);
  }
}

TEST(ContactSheet, StaysWithinItsBoundForAnyRun) {
  const rwview::SheetLayout six = rwview::LayOutSheet(6, 320, 240);
  EXPECT_EQ(six.shrink, 2);
  EXPECT_EQ(six.columns, 3);
  EXPECT_EQ(six.rows, 2);
  struct Run {
    int frames, width, height;
  };
  for (const Run& run : {Run{100000, 8192, 8192}, Run{100000, 16, 16}, Run{500, 8192, 8192},
                         Run{1, 8192, 8192}, Run{24, 320, 240}}) {
    SCOPED_TRACE(std::to_string(run.frames) + " of " + std::to_string(run.width));
    rwview::ContactSheet sheet(run.frames, run.width, run.height);
    EXPECT_LE(static_cast<long long>(sheet.Sheet().width) * sheet.Sheet().height,
              rwview::kMaxSheetPixels);
    EXPECT_EQ(sheet.Sheet().rgb.size(), 3u * sheet.Sheet().width * sheet.Sheet().height);
  }
}

}  // namespace
