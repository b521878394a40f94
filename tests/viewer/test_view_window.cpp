// The window, under a virtual X display: it opens, draws the character and
// hands back what it showed.
#include <gtest/gtest.h>

#include <fstream>
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

// What a person does in the window, sent by xdotool: a click names what is
// under it, a drag does not, and keys pause and speed the animation, as the
// title and the printed lines show.
TEST(ViewWindow, ClicksPickAndKeysSteer) {
  if (rwtest::Run("command -v xvfb-run && command -v xdotool").status != 0)
    GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  rwtest::TempDir dir;
  const std::string script = dir / "drive.sh";
  std::ofstream(script) << R"sh(viewer="$1"; root="$2"
"$viewer" --root "$root" --window &
pid=$!
window=$(xdotool search --sync --onlyvisible --name rigweave-view | head -n 1)
title() { sleep 1; echo "title $1: $(xdotool getwindowname "$window")" >&2; }
sleep 1
xdotool mousemove --window "$window" 160 100 click 1
title pick
xdotool mousemove --window "$window" 100 60 mousedown 1 mousemove --window "$window" 140 60 mouseup 1
xdotool key space
title paused
xdotool key space bracketright
title faster
xdotool key Escape
wait $pid
)sh";
  const rwtest::RunResult run =
      rwtest::Run(std::string("xvfb-run -a -s '-screen 0 640x480x24' sh ") + script + " " +
                  RIGWEAVE_VIEW + " " + RIGWEAVE_BUILD_DIR);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string picked = "pick 160,100: hero.cfg, mesh 0 (hero_body.cmf), sub-mesh 1, triangle";
  EXPECT_NE(run.out.find(picked), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("pick 100,60"), std::string::npos) << "a drag picked";
  EXPECT_EQ(run.out.find("pick 140,60"), std::string::npos) << "a drag picked";
  const auto titled = [&](const std::string& when, const std::string& what) {
    const size_t at = run.err.find("title " + when + ": ");
    return at != std::string::npos &&
           run.err.substr(at, run.err.find('\n', at) - at).find(what) != std::string::npos;
  };
  EXPECT_TRUE(titled("pick", picked)) << run.err;
  EXPECT_TRUE(titled("paused", ", paused,")) << run.err;
  EXPECT_TRUE(titled("faster", ", speed x2,")) << run.err;
  EXPECT_FALSE(titled("faster", "paused")) << run.err;
}

}  // namespace
