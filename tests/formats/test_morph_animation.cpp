// Morph animations (.xpf, .cpf) as the generator writes them in each layout,
// read back into tracks and compared with the tracks they were written from;
// the weight rule of the newer line's mixer; and what is refused.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/morph_animation.h"
#include "support/files.h"
#include "sample/newer_files.h"

namespace {

const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";

rigweave::MorphAnimation Read(const std::string& name, const std::string& bytes,
                              std::string& reason) {
  rigweave::MorphAnimation animation;
  const char* why = rigweave::ReadMorphAnimation(
      name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), animation);
  reason = why ? why : "";
  return animation;
}

struct LayoutRow {
  const char* name;
  const char* file;
  const char* layout;
  bool byName;    // tracks name their target
  bool targeted;  // tracks carry mesh and sub-meshes
};

class MorphAnimationLayouts : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(MorphAnimationLayouts, ReadTheTracksTheyWereWrittenFrom) {
  const LayoutRow& row = GetParam();
  CalCoreMeshPtr body = CalLoader::loadCoreMesh(kModels + "hero_body.cmf");
  CalCoreMeshPtr gear = CalLoader::loadCoreMesh(kModels + "hero_gear.cmf");
  ASSERT_TRUE(body && gear);
  float duration = 0;
  const std::vector<rwsample::MorphTrackDef> want = rwsample::FaceTracks(
      rwsample::FaceMorphs(*body, rwsample::HeadLevel({body.get(), gear.get()})), duration);
  ASSERT_GE(want.size(), 3u);

  std::string reason;
  const rigweave::MorphAnimation got = Read(row.file, rwtest::ReadFile(kModels + row.file), reason);
  ASSERT_EQ(reason, "");
  EXPECT_STREQ(got.layout, row.layout);
  EXPECT_EQ(got.duration, duration);
  ASSERT_EQ(got.tracks.size(), want.size());
  for (size_t t = 0; t < want.size(); t++) {
    const rigweave::MorphTrack& track = got.tracks[t];
    if (row.byName) {
      EXPECT_EQ(track.morphName, want[t].morphName);
      EXPECT_EQ(track.morphId, -1);
    } else {
      EXPECT_EQ(track.morphId, want[t].morphId);
    }
    EXPECT_EQ(track.meshId, row.targeted ? want[t].meshId : 0);
    EXPECT_EQ(track.submeshes, row.targeted ? want[t].submeshes : std::vector<int>{});
    ASSERT_EQ(track.keyframes.size(), want[t].keyframes.size());
    for (size_t k = 0; k < track.keyframes.size(); k++) {
      EXPECT_EQ(track.keyframes[k].time, want[t].keyframes[k].first);
      EXPECT_EQ(track.keyframes[k].weight, want[t].keyframes[k].second);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MorphAnimationLayouts,
    ::testing::Values(
        LayoutRow{"xpf_by_id", "newer/face.xpf", "XML, tracks by morph id", false, true},
        LayoutRow{"xpf_by_name", "newer/face named.XPF", "XML, tracks by morph name", true, false},
        LayoutRow{"cpf_loader", "newer/face.cpf", "binary, the newer loader's layout", false,
                  false},
        LayoutRow{"cpf_saver", "newer/face saver.cpf", "binary, the newer saver's layout", false,
                  true},
        LayoutRow{"cpf_by_name", "newer/face named.cpf", "binary, tracks by morph name", true,
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// Keyframes come sorted by time whatever order the file gives them in.
TEST(MorphAnimationXml, SortsKeyframesByTimeKeepingEqualTimesInOrder) {
  std::string reason;
  const rigweave::MorphAnimation animation =
      Read("a.xpf",
           "<animation DURATION=\"2\"><track MORPHID=\"0\" MESHID=\"0\">"
           "<KEYFRAME TIME=\"1.5\"><WEIGHT>3</WEIGHT></KEYFRAME>"
           "<KEYFRAME TIME=\"0.5\"><WEIGHT>1</WEIGHT></KEYFRAME>"
           "<KEYFRAME TIME=\"1.5\"><WEIGHT>4</WEIGHT></KEYFRAME>"
           "</track></animation>",
           reason);
  ASSERT_EQ(reason, "");
  const auto& keys = animation.tracks.at(0).keyframes;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].weight, 1);
  EXPECT_EQ(keys[1].weight, 3);
  EXPECT_EQ(keys[2].weight, 4);
}

struct WeightRow {
  const char* name;
  std::vector<rigweave::MorphKeyframe> keys;
  float time;
  float weight;
};

class MorphWeights : public ::testing::TestWithParam<WeightRow> {};

TEST_P(MorphWeights, FollowTheNewerMixer) {
  rigweave::MorphTrack track;
  track.keyframes = GetParam().keys;
  EXPECT_FLOAT_EQ(rigweave::MorphTrackWeight(track, GetParam().time), GetParam().weight);
}

const std::vector<rigweave::MorphKeyframe> kRamp = {{0.5f, 0.2f}, {1.5f, 1.0f}, {2.0f, 0.4f}};

INSTANTIATE_TEST_SUITE_P(Rule, MorphWeights,
                         ::testing::Values(WeightRow{"before_the_first_key", kRamp, 0.25f, 0.0f},
                                           WeightRow{"on_the_first_key", kRamp, 0.5f, 0.2f},
                                           WeightRow{"between_keys", kRamp, 1.0f, 0.6f},
                                           WeightRow{"between_later_keys", kRamp, 1.75f, 0.7f},
                                           WeightRow{"on_the_last_key", kRamp, 2.0f, 0.0f},
                                           WeightRow{"after_the_last_key", kRamp, 3.0f, 0.0f},
                                           WeightRow{"single_key", {{0.0f, 1.0f}}, 0.5f, 0.0f},
                                           WeightRow{"no_keys", {}, 0.5f, 0.0f}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

std::string Cpf(int32_t version, float duration, std::vector<int32_t> trackWords) {
  std::string b = std::string("CPF", 4);
  b.append(reinterpret_cast<const char*>(&version), 4);
  b.append(reinterpret_cast<const char*>(&duration), 4);
  for (int32_t w : trackWords) b.append(reinterpret_cast<const char*>(&w), 4);
  return b;
}

int32_t F(float f) {
  int32_t i;
  std::memcpy(&i, &f, 4);
  return i;
}

struct RefusalRow {
  const char* name;
  const char* file;
  std::string bytes;
  const char* reason;
};

class MorphAnimationRefusals : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(MorphAnimationRefusals, SayWhy) {
  std::string reason;
  const rigweave::MorphAnimation animation = Read(GetParam().file, GetParam().bytes, reason);
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_TRUE(animation.tracks.empty());
}

const std::string kTrack =
    "<TRACK MORPHID=\"0\" MESHID=\"0\"><KEYFRAME TIME=\"0\"><WEIGHT>1</WEIGHT></KEYFRAME></TRACK>";

INSTANTIATE_TEST_SUITE_P(
    Damaged, MorphAnimationRefusals,
    ::testing::Values(
        RefusalRow{"xml_cut_short", "a.xpf", "<ANIMATION DURATION=\"1\"><TRACK", "malformed XML"},
        RefusalRow{"xml_other_kind", "a.xpf", "<SKELETON/>", "not a morph animation"},
        RefusalRow{"xml_header_of_other_kind", "a.xpf",
                   "<HEADER MAGIC=\"XAF\" VERSION=\"1300\"/><ANIMATION DURATION=\"1\">" + kTrack +
                       "</ANIMATION>",
                   "not a morph animation"},
        RefusalRow{"xml_zero_duration", "a.xpf",
                   "<ANIMATION DURATION=\"0\">" + kTrack + "</ANIMATION>",
                   "duration not a finite positive number"},
        RefusalRow{"xml_no_tracks", "a.xpf", "<ANIMATION DURATION=\"1\"></ANIMATION>", "no tracks"},
        // The newer loader calls atoi on it without looking whether it is there.
        RefusalRow{"xml_track_without_mesh", "a.xpf",
                   "<ANIMATION DURATION=\"1\"><TRACK MORPHID=\"0\"/></ANIMATION>",
                   "bad or missing track MESHID"},
        RefusalRow{
            "xml_negative_sub_mesh", "a.xpf",
            "<ANIMATION DURATION=\"1\"><TRACK MORPHID=\"0\" MESHID=\"0\"><SUBMESH ID=\"-1\"/>"
            "</TRACK></ANIMATION>",
            "bad or missing SUBMESH ID"},
        RefusalRow{"xml_weight_not_a_number", "a.xpf",
                   "<ANIMATION DURATION=\"1\"><TRACK MORPHID=\"0\" MESHID=\"0\"><KEYFRAME "
                   "TIME=\"0\"><WEIGHT>nan</WEIGHT></KEYFRAME></TRACK></ANIMATION>",
                   "bad or missing KEYFRAME WEIGHT"},
        RefusalRow{"cpf_of_version_1302", "a.cpf", Cpf(1302, 1, {1, 0, 1, 0, F(1)}),
                   "unsupported file version"},
        RefusalRow{"cpf_negative_duration", "a.cpf", Cpf(1301, -1, {1, 0, 1, 0, F(1)}),
                   "duration not a finite positive number"},
        RefusalRow{"cpf_cut_short", "a.cpf", Cpf(1301, 1, {1, 0, 2, 0, F(1), 0}),
                   "keyframe count out of range"},
        RefusalRow{"cpf_bytes_after_the_end", "a.cpf", Cpf(1301, 1, {1, 0, 1, 0, F(1), 0, 0}),
                   "bytes left after the end"},
        RefusalRow{"cpf_huge_track_count", "a.cpf", Cpf(1301, 1, {0x7FFFFFFF, 0, 1, 0, F(1)}),
                   "track count out of range"},
        RefusalRow{"cpf_infinite_time", "a.cpf",
                   Cpf(1301, 1, {1, 0, 1, F(std::numeric_limits<float>::infinity()), F(1)}),
                   "keyframe not a finite number"}),
    [](const auto& info) { return std::string(info.param.name); });

// A track by id must find its target in the meshes loaded; one by name may
// match nothing.
TEST(MorphTargets, TracksByIdMustNameExistingTargets) {
  const std::vector<std::vector<std::vector<std::string>>> names = {
      {{"jaw", "brow"}, {}, {"lift"}}};
  rigweave::MorphAnimation animation;
  rigweave::MorphTrack& track = animation.tracks.emplace_back();
  track.morphId = 1;
  track.submeshes = {0};
  EXPECT_EQ(rigweave::CheckMorphTargets(animation, names), nullptr);
  track.submeshes = {0, 2};
  EXPECT_STREQ(rigweave::CheckMorphTargets(animation, names), "track morph target out of range");
  track.submeshes = {3};
  EXPECT_STREQ(rigweave::CheckMorphTargets(animation, names), "track sub-mesh out of range");
  track.meshId = 1;
  EXPECT_STREQ(rigweave::CheckMorphTargets(animation, names), "track mesh out of range");
  track.morphId = -1;
  track.morphName = "nowhere";
  EXPECT_EQ(rigweave::CheckMorphTargets(animation, names), nullptr);
}

}  // namespace
