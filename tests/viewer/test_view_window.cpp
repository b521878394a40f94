// The window, under a virtual X display: it opens, draws the character and
// hands back what it showed.
#include <gtest/gtest.h>

#include <string>

#include "support/programs.h"

namespace {

TEST(ViewWindow, ShowsTheCharacterUnderAVirtualDisplay) {
  if (rwtest::Run("command -v xvfb-run").status != 0) GTEST_SKIP() << "xvfb-run is not installed";
  rwtest::TempDir dir;
  const std::string shot = dir / "window.png";
  const rwtest::RunResult run =
      rwtest::Run(std::string("xvfb-run -a -s '-screen 0 640x480x24' ") + RIGWEAVE_VIEW +
                  " --root " + RIGWEAVE_BUILD_DIR + " --window --frames 10 --screenshot " + shot);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("characters: 1"), std::string::npos) << run.out;
  const rwview::Picture picture = rwtest::LoadPicture(shot);
  EXPECT_EQ(picture.width, 320);
  EXPECT_EQ(picture.height, 240);
  const rwtest::Rgb corner = rwtest::PixelAt(picture, 0, 0);
  const double covered = rwtest::ShareAwayFrom(picture, corner, 12);
  EXPECT_GT(covered, 0.03);
  EXPECT_LT(covered, 0.60);
  EXPECT_GT(rwtest::ShareNear(picture, {40, 85, 190}, 24), 0.005) << "the shirt's blue";
}

}  // namespace
