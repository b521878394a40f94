// rigweave-view's everyday options: where the camera looks from, the
// turntable, the floor, the animated GIF, and what a run says it wrote.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/programs.h"

namespace {

using rwtest::LoadPicture;
using rwtest::RunView;
using rwview::Picture;

const rwtest::Rgb kBackground{200, 208, 222};

// Where the two pictures' silhouettes (what is not background) disagree.
double SilhouettesDiffer(const Picture& a, const Picture& b) {
  long differing = 0;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++)
      differing += (rwtest::Distance(a.At(x, y), kBackground) > 12) !=
                   (rwtest::Distance(b.At(x, y), kBackground) > 12);
  return static_cast<double>(differing) / (static_cast<double>(a.width) * a.height);
}

// Seen from behind, a character's silhouette is its front one mirrored.
TEST(Viewpoint, YawTurnsAboutTheVertical) {
  rwtest::TempDir dir;
  for (const char* yaw : {"0", "180"})
    ASSERT_EQ(RunView(std::string("--cycle idle --frames 1 --yaw ") + yaw + " --screenshot " +
                      dir / (std::string(yaw) + ".png"))
                  .status,
              0);
  const Picture front = LoadPicture(dir / "0.png"), back = LoadPicture(dir / "180.png");
  EXPECT_GT(rwtest::ShareDiffering(front, back, 40), 0.002);  // the faces are not the backs
  EXPECT_LT(SilhouettesDiffer(front, rwtest::FlippedLeftRight(back)), 0.01);
  EXPECT_GT(SilhouettesDiffer(front, back), 0.002);  // not symmetric by accident
}

// Frame 2 of 4 of a turntable is the view from half a turn further round.
TEST(Viewpoint, TurntableTurnsOnceOverTheFrames) {
  rwtest::TempDir dir;
  ASSERT_EQ(RunView("--cycle idle --fps 1000 --frames 4 --turntable --out " + dir / "turn").status,
            0);
  // The framed yaw, 0.35 radians, half a turn on, in degrees.
  ASSERT_EQ(RunView("--cycle idle --fps 1000 --frames 1 --turntable --yaw 200.0535228 "
                    "--screenshot " +
                    dir / "half.png")
                .status,
            0);
  const Picture half = LoadPicture(dir / "turn/frame_0002.png");
  EXPECT_LT(rwtest::ShareDiffering(half, LoadPicture(dir / "half.png"), 24), 0.005);
  EXPECT_GT(SilhouettesDiffer(half, LoadPicture(dir / "turn/frame_0000.png")), 0.002);
}

TEST(Viewpoint, FloorReachesThePicturesLowerCorners) {
  rwtest::TempDir dir;
  ASSERT_EQ(RunView("--frames 1 --floor --screenshot " + dir / "floor.png").status, 0);
  ASSERT_EQ(RunView("--frames 1 --screenshot " + dir / "bare.png").status, 0);
  const Picture floor = LoadPicture(dir / "floor.png"), bare = LoadPicture(dir / "bare.png");
  for (const int x : {2, floor.width - 3}) {
    EXPECT_GT(rwtest::Distance(floor.At(x, floor.height - 3), kBackground), 20) << x;
    EXPECT_LE(rwtest::Distance(bare.At(x, bare.height - 3), kBackground), 2) << x;
  }
  // Above the horizon both are the same background.
  EXPECT_LE(rwtest::Distance(floor.At(2, 2), kBackground), 2);
}

// The GIF holds every frame at the picture's size, for the run's time, and
// its last frame is the screenshot's picture within the palette's error.
TEST(AnimatedOutput, GifHoldsEveryFrame) {
  rwtest::TempDir dir;
  const rwtest::RunResult run = RunView("--cycle walk --frames 24 --gif " + dir / "walk.gif" +
                                        " --screenshot " + dir / "last.png");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("animation: " + dir / "walk.gif" + " (24 frames, "), std::string::npos)
      << run.out;
  int error = 0;
  GifFileType* gif = DGifOpenFileName((dir / "walk.gif").c_str(), &error);
  ASSERT_NE(gif, nullptr) << error;
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  EXPECT_EQ(gif->SWidth, 320);
  EXPECT_EQ(gif->SHeight, 240);
  ASSERT_EQ(gif->ImageCount, 24);
  int centiseconds = 0;
  for (int i = 0; i < gif->ImageCount; i++) {
    GraphicsControlBlock control{};
    ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
    centiseconds += control.DelayTime;
  }
  EXPECT_EQ(centiseconds, 100);
  const SavedImage& last = gif->SavedImages[23];
  Picture decoded;
  decoded.width = 320;
  decoded.height = 240;
  for (int i = 0; i < 320 * 240; i++) {
    const GifColorType c = last.ImageDesc.ColorMap->Colors[last.RasterBits[i]];
    decoded.rgb.insert(decoded.rgb.end(), {c.Red, c.Green, c.Blue});
  }
  DGifCloseFile(gif, &error);
  EXPECT_LT(rwtest::ShareDiffering(decoded, LoadPicture(dir / "last.png"), 32), 0.01);
}

struct Said {
  const char* name;
  const char* environment;  // before the command
  const char* arguments;
  int status;
  const char* out;  // found on standard output
  const char* err;  // found on standard error, which holds one line (none when empty)
};

class WhatARunSays : public testing::TestWithParam<Said> {};

TEST_P(WhatARunSays, InOneLine) {
  const Said& c = GetParam();
  const rwtest::RunResult run = rwtest::Run(std::string(c.environment) + " " + RIGWEAVE_VIEW +
                                            " --root " + RIGWEAVE_BUILD_DIR + " " + c.arguments);
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), *c.err == '\0' ? 0 : 1) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WhatARunSays,
    testing::Values(
        // Off a terminal no progress is shown, and a run that keeps no
        // picture says so.
        Said{"NothingWritten", "", "--frames 1", 0,
             "hero.cfg, cycle idle, 1 frame of 320x240 at 24 fps\n", ""},
        Said{"NothingWrittenSaid", "", "--frames 3", 0,
             "written: nothing (--out DIR, --screenshot PATH or --gif FILE keep pictures)\n", ""},
        Said{"WindowWithoutDisplay", "SDL_VIDEODRIVER=offscreen", "--window --frames 1", 1, "",
             "rigweave-view: --window needs a display, and SDL's video driver is offscreen (use "
             "--out or --screenshot for pictures without one)\n"},
        Said{"GifTooLarge", "", "--frames 100000 --size 8192x8192 --gif x.gif", 2, "",
             "rigweave-view: --gif: 100000 frames of 8192x8192 are more than a GIF may hold here "
             "(256 Mi pixels in all) (try --help)\n"},
        Said{"UnknownSkinningSet", "RIGWEAVE_SKINNING_ISA=avx9", "--frames 1", 0, "1 frame",
             "crystalspace.mesh.object.rigweave: Unknown skinning instruction set "
             "RIGWEAVE_SKINNING_ISA=avx9 (scalar, sse2, avx2 or avx512); using "},
        Said{"PitchOutOfRange", "", "--pitch 90", 2, "",
             "rigweave-view: --pitch: 90: not degrees from -89 to 89 (try --help)\n"}),
    [](const testing::TestParamInfo<Said>& info) { return std::string(info.param.name); });

}  // namespace
