// The pictures rigweave-view makes of the sample character, looked at pixel
// by pixel, and how it fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <iostream>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/programs.h"

namespace {

using rwtest::Rgb;
using rwview::Picture;

// The sample textures' dominant colours, as the character generator paints
// them (sample/textures.cpp).
const Rgb kShirtBlue{40, 85, 190};
const Rgb kTrouserGreen{50, 118, 62};
const Rgb kSkinTone{224, 172, 138};
const Rgb kBootOxblood{115, 45, 35};
const Rgb kHairGold{212, 170, 64};

class ViewImages : public ::testing::Test {
 protected:
  // Renders `frames` frames with the given options into a folder of its own
  // and loads them; fails the test when the viewer does.
  std::vector<Picture> Render(const std::string& options, int frames,
                              rwtest::RunResult* result = nullptr) {
    const std::string out = dir / ("run" + std::to_string(runs++));
    const rwtest::RunResult run =
        rwtest::RunView(options + " --frames " + std::to_string(frames) + " --out " + out);
    if (result != nullptr) *result = run;
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<Picture> pictures;
    if (run.status != 0) return pictures;
    for (int i = 0; i < frames; i++) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame_%04d.png", i);
      pictures.push_back(rwtest::LoadPicture(out + name));
    }
    lastSheet = out + "/sheet.png";
    return pictures;
  }

  static Rgb Background(const Picture& picture) { return rwtest::PixelAt(picture, 0, 0); }
  static double Coverage(const Picture& picture) {
    return rwtest::ShareAwayFrom(picture, Background(picture), 12);
  }

  rwtest::TempDir dir;
  std::string lastSheet;
  int runs = 0;
};

TEST_F(ViewImages, CharacterCoversAPlausibleShareOfEveryFrame) {
  for (const Picture& frame : Render("", 6)) {
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(frame.height, 240);
    EXPECT_GT(Coverage(frame), 0.03);
    EXPECT_LT(Coverage(frame), 0.60);
  }
}

TEST_F(ViewImages, TextureColoursShowOnTheCharacter) {
  // Unlit: the light would darken the textures' own colours.
  const std::vector<Picture> frames = Render("--size 400x400 --unlit", 1);
  ASSERT_EQ(frames.size(), 1u);
  const Picture& frame = frames[0];
  struct Material {
    const char* name;
    Rgb colour;
    double share;  // of the whole frame, at least
  };
  for (const Material& m : {Material{"shirt", kShirtBlue, 0.01},
                            {"trousers", kTrouserGreen, 0.01},
                            {"skin", kSkinTone, 0.003},
                            {"boots", kBootOxblood, 0.001},
                            {"hair", kHairGold, 0.001}}) {
    SCOPED_TRACE(m.name);
    EXPECT_GT(rwtest::ShareNear(frame, m.colour, 24), m.share);
  }
}

// --bounds draws the box in yellow around the character, and nothing of it without.
TEST_F(ViewImages, TheBoxShowsOnlyWithBounds) {
  const Rgb kEdgeYellow{255, 217, 26};
  EXPECT_GT(rwtest::ShareNear(Render("--bounds", 1)[0], kEdgeYellow, 30), 0.002);
  EXPECT_EQ(rwtest::ShareNear(Render("", 1)[0], kEdgeYellow, 30), 0.0);
}

// A pick names something exactly where the picture shows the character: the
// beam's inverse projection, the camera's mirror and each character's place
// all agree with what the renderer drew. Only pixels on a silhouette's edge,
// where rasterising and the beam test round differently, may disagree.
TEST_F(ViewImages, PicksNameWhatThePictureShows) {
  constexpr int kStep = 7;
  std::string picks;
  int asked = 0;
  for (int y = kStep / 2; y < 240; y += kStep)
    for (int x = kStep / 2; x < 320; x += kStep, asked++)
      picks += " --pick " + std::to_string(x) + "," + std::to_string(y);
  for (const char* view : {"--cycle walk", "--cycle walk --mirror", "--crowd 4 --yaw 30"}) {
    SCOPED_TRACE(view);
    rwtest::RunResult run;
    const std::vector<Picture> frames = Render(std::string(view) + picks, 1, &run);
    ASSERT_EQ(frames.size(), 1u);
    const std::regex line(R"(pick (\d+),(\d+): (nothing|.*sub-mesh \d+, triangle \d+ at .*))");
    int points = 0, hits = 0, disagreements = 0;
    std::istringstream out(run.out);
    for (std::string text; std::getline(out, text);) {
      std::smatch m;
      if (!std::regex_match(text, m, line)) continue;
      const Rgb pixel = rwtest::PixelAt(frames[0], std::stoi(m[1]), std::stoi(m[2]));
      const Rgb back = Background(frames[0]);
      const bool drawn = std::max({std::abs(pixel.r - back.r), std::abs(pixel.g - back.g),
                                   std::abs(pixel.b - back.b)}) > 12;
      const bool hit = m[3] != "nothing";
      points++, hits += hit, disagreements += hit != drawn;
    }
    EXPECT_EQ(points, asked) << run.out;
    EXPECT_GT(hits, points / 20);
    EXPECT_LE(disagreements, points / 100) << "of " << hits << " hits";
    std::cout << view << ": " << hits << " hits, " << disagreements << " disagree\n";
  }
}

TEST_F(ViewImages, WalkingFramesDifferFromOneToTheNext) {
  const std::vector<Picture> frames = Render("--cycle walk", 6);
  for (size_t i = 1; i < frames.size(); i++)
    EXPECT_GT(rwtest::ShareDiffering(frames[i - 1], frames[i], 24), 0.003) << "frame " << i;
}

TEST_F(ViewImages, SameCommandGivesTheSameFramesOnAnyNumberOfThreads) {
  const std::vector<Picture> first = Render("--crowd 3", 4);
  const std::vector<Picture> second = Render("--crowd 3", 4);
  rwtest::RunResult run;
  const std::vector<Picture> threaded = Render("--crowd 3 --threads 2", 4, &run);
  EXPECT_NE(run.out.find("characters: 3, drawn on 2 threads\n"), std::string::npos) << run.out;
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex("module [-0-9.]+ with the shares' recording, renderer [0-9.]+")))
      << run.out;
  ASSERT_EQ(first.size(), second.size());
  ASSERT_EQ(first.size(), threaded.size());
  for (size_t i = 0; i < first.size(); i++) {
    EXPECT_EQ(first[i].rgb, second[i].rgb) << "frame " << i;
    EXPECT_EQ(first[i].rgb, threaded[i].rgb) << "frame " << i << " on two threads";
  }
}

TEST_F(ViewImages, MirroredCameraMirrorsThePicture) {
  const std::vector<Picture> plain = Render("", 4);
  const std::vector<Picture> mirrored = Render("--mirror", 4);
  ASSERT_EQ(plain.size(), mirrored.size());
  for (size_t i = 0; i < plain.size(); i++) {
    SCOPED_TRACE(i);
    const double unlike = rwtest::ShareDiffering(mirrored[i], plain[i], 24);
    const double flippedUnlike =
        rwtest::ShareDiffering(mirrored[i], rwtest::FlippedLeftRight(plain[i]), 24);
    EXPECT_LT(flippedUnlike, 0.01);
    EXPECT_GT(unlike, 5 * flippedUnlike + 0.01) << "the picture is not symmetric to begin with";
  }
}

TEST_F(ViewImages, EmptySceneIsBackgroundOnly) {
  rwtest::RunResult run;
  const std::vector<Picture> frames = Render("--empty", 2, &run);
  EXPECT_NE(run.out.find("characters: 0"), std::string::npos) << run.out;
  for (const Picture& frame : frames) {
    const Rgb background = Background(frame);
    EXPECT_EQ(rwtest::ShareAwayFrom(frame, background, 0), 0.0);
    // Light grey-blue.
    EXPECT_GT(background.r, 150);
    EXPECT_GE(background.b, background.r);
  }
}

TEST_F(ViewImages, ContactSheetHoldsEveryFrameAtHalfSize) {
  const std::vector<Picture> frames = Render("", 6);
  ASSERT_EQ(frames.size(), 6u);
  const Picture sheet = rwtest::LoadPicture(lastSheet);
  // Three columns and two rows of 160x120, with 2-pixel gaps.
  ASSERT_EQ(sheet.width, 3 * 160 + 4 * 2);
  ASSERT_EQ(sheet.height, 2 * 120 + 3 * 2);
  for (int i = 0; i < 6; i++) {
    SCOPED_TRACE(i);
    Picture thumb, shrunk;
    thumb.width = shrunk.width = 160;
    thumb.height = shrunk.height = 120;
    for (int y = 0; y < 120; y++) {
      for (int x = 0; x < 160; x++) {
        const uint8_t* p = sheet.At(2 + (i % 3) * 162 + x, 2 + (i / 3) * 122 + y);
        thumb.rgb.insert(thumb.rgb.end(), p, p + 3);
        const uint8_t* f = frames[static_cast<size_t>(i)].At(2 * x, 2 * y);
        shrunk.rgb.insert(shrunk.rgb.end(), f, f + 3);
      }
    }
    // Averaging 2x2 blocks moves edges by a pixel's share at most.
    EXPECT_LT(rwtest::ShareDiffering(thumb, shrunk, 48), 0.03);
  }
}

TEST_F(ViewImages, CrowdReportsEveryCharacterAndItsTimes) {
  rwtest::RunResult one, crowd;
  Render("", 2, &one);
  const std::vector<Picture> frames = Render("--crowd 4", 2, &crowd);
  EXPECT_NE(crowd.out.find("characters: 4\n"), std::string::npos) << crowd.out;
  std::smatch single, many;
  const std::regex triangles("triangles per frame: (\\d+)");
  ASSERT_TRUE(std::regex_search(one.out, single, triangles)) << one.out;
  ASSERT_TRUE(std::regex_search(crowd.out, many, triangles)) << crowd.out;
  EXPECT_EQ(std::stol(many[1]), 4 * std::stol(single[1]));
  EXPECT_TRUE(std::regex_search(
      crowd.out, std::regex("ms per frame: [0-9.]+ \\(module [-0-9.]+, renderer [0-9.]+\\)")))
      << crowd.out;
  for (const Picture& frame : frames) EXPECT_GT(Coverage(frame), 0.03);
}

TEST_F(ViewImages, ActionChangesTheCharactersPose) {
  const std::vector<Picture> idle = Render("--cycle idle", 12);
  const std::vector<Picture> waving = Render("--cycle idle --action wave@0", 12);
  ASSERT_EQ(idle.size(), waving.size());
  EXPECT_GT(rwtest::ShareDiffering(idle.back(), waving.back(), 24), 0.005);
  // Without a time, at once.
  const std::vector<Picture> atOnce = Render("--cycle idle --action wave", 12);
  ASSERT_EQ(atOnce.size(), waving.size());
  EXPECT_EQ(rwtest::ShareDiffering(atOnce.back(), waving.back(), 0), 0.0);
}

// --morph weights the 0.11 morph character's face, and a configuration's
// morph animation plays unless --morphanim names another: the face moves.
TEST_F(ViewImages, MorphWeightsAndMorphAnimationsMoveTheFace) {
  const std::vector<Picture> plain = Render("hero-morph.cfg --cycle idle", 1);
  const std::vector<Picture> smiling =
      Render("hero-morph.cfg --cycle idle --morph smile=1 --morph jaw_open=0.5", 1);
  ASSERT_EQ(plain.size(), smiling.size());
  const double face = rwtest::ShareDiffering(plain[0], smiling[0], 24);
  EXPECT_GT(face, 0.0005);
  EXPECT_LT(face, 0.02) << "more than the face changed";
  // newer-hero.cfg draws as hero.cfg while its morph weights are 0: what
  // differs 0.4 s in is the face its morph animation moves.
  const std::vector<Picture> hero = Render("hero.cfg --cycle idle --fps 5", 3);
  const std::vector<Picture> talking = Render("newer-hero.cfg --cycle idle --fps 5", 3);
  const std::vector<Picture> named =
      Render("newer-hero.cfg --cycle idle --fps 5 --morphanim face", 3);
  ASSERT_EQ(hero.size(), 3u);
  ASSERT_EQ(talking.size(), 3u);
  ASSERT_EQ(named.size(), 3u);
  const double talks = rwtest::ShareDiffering(hero[2], talking[2], 24);
  EXPECT_GT(talks, 0.0005);
  EXPECT_LT(talks, 0.02) << "more than the face changed";
  EXPECT_EQ(rwtest::ShareDiffering(named[2], talking[2], 0), 0.0);
}

// Where the pixels that differ between two pictures lie: their centre and share.
struct Difference {
  double x = 0, y = 0, share = 0;
};
Difference Differing(const Picture& a, const Picture& b) {
  Difference d;
  long count = 0;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) {
      const uint8_t* p = &a.rgb[3 * (static_cast<size_t>(y) * a.width + x)];
      if (rwtest::Distance(p, rwtest::PixelAt(b, x, y)) <= 24) continue;
      d.x += x, d.y += y, count++;
    }
  if (count == 0) return d;
  d.x /= count, d.y /= count;
  d.share = static_cast<double>(count) / (a.width * a.height);
  return d;
}

// The sample sword on the walking character's hand: it shows in every frame
// (where the pictures differ from the walk alone) and swings with the hand.
TEST_F(ViewImages, AnAttachedPropShowsAndSwingsWithTheHand) {
  const std::vector<Picture> walk = Render("--cycle walk --size 640x480", 24);
  const std::vector<Picture> armed =
      Render("--cycle walk --size 640x480 --attach hand_r=sword.cfg", 24);
  ASSERT_EQ(walk.size(), armed.size());
  const Difference first = Differing(armed[0], walk[0]);
  double farthest = 0;
  for (size_t i = 0; i < walk.size(); i++) {
    const Difference sword = Differing(armed[i], walk[i]);
    EXPECT_GT(sword.share, 0.001) << "frame " << i;
    farthest = std::max(farthest, std::hypot(sword.x - first.x, sword.y - first.y));
  }
  EXPECT_GT(farthest, 4) << "the sword stood still while the hand swung";
}

TEST_F(ViewImages, EventsArePrintedAsTheyFire) {
  rwtest::RunResult run;
  Render("--cycle walk --action wave@0.5 --events", 72, &run);
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = run.out.find(what); at != std::string::npos; at = run.out.find(what, at + 1))
      n++;
    return n;
  };
  // Three seconds of a one-second walk, and one wave of 1.5 s.
  EXPECT_EQ(count(" hero.cfg: walk start\n"), 3u) << run.out;
  EXPECT_EQ(count(" hero.cfg: wave start\n"), 1u) << run.out;
  EXPECT_EQ(count(" hero.cfg: wave end\n"), 1u) << run.out;
  EXPECT_LT(run.out.find("wave start"), run.out.find("wave end"));
}

TEST_F(ViewImages, FailuresSayWhyOnOneLine) {
  rwtest::TempDir noModels;
  rwtest::TempDir broken;
  std::filesystem::create_directories(broken / "models");
  std::ofstream(broken / "models/broken.cfg") << "skeleton = missing.csf\n";
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"--frames 0", 2, "--frames"},
      {"--size 10x10", 2, "--size"},
      {"--size big", 2, "--size"},
      {"--bogus", 2, "--bogus"},
      {"--action wave@", 2, "--action"},
      {"--action @1", 2, "--action"},
      {"--attach hand_r", 2, "--attach"},
      {"--attach =sword.cfg", 2, "--attach"},
      {"--attach tail=sword.cfg --frames 1", 1, "no bone named tail (it has: hips, spine"},
      {"--attach hand_r=nope.cfg --frames 1", 1, "unknown model nope.cfg"},
      {"--lod 2", 2, "--lod"},
      {"--frames", 2, "--frames"},
      {"--root " + noModels.Path(), 1, "no models/ folder"},
      {"nope.cfg", 1, "unknown model nope.cfg"},
      {"--root " + broken.Path() + " broken.cfg", 1, "cannot load model broken.cfg"},
      {"--cycle moonwalk", 1, "no animation named moonwalk"},
      {"--morph smile", 2, "--morph"},
      {"--morph smile=-1", 2, "--morph"},
      {"--morph smile=1 --frames 1", 1, "no morph target named smile"},
      {"newer-hero.cfg --morphanim shrug --frames 1", 1, "no morph animation named shrug"},
      {"--action moonwalk@0 --frames 2", 1, "no animation named moonwalk"},
      {"--module /nonexistent/rigweave.so", 1, "cannot load the module"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const rwtest::RunResult run = rwtest::RunView(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("rigweave-view: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
