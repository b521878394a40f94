// The model configuration format, byte for byte: lines, and whole files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/config.h"
#include "support/rows.h"

namespace {

using rigweave::AnimationNameFromFile;
using rigweave::ConfigKey;
using rigweave::ConfigLine;
using rigweave::ParseConfigLine;

TEST(ConfigLine, BlankAndCommentLinesAreSkipped) {
  for (const std::string& line :
       std::vector<std::string>{"", "   ", "\t \t", "\r", "  \r", "# comment", "   #scale = 3",
                                "\t#", std::string(1, '\0'), std::string("  \0mesh = x", 10)}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(ParseConfigLine(line).kind, ConfigLine::Skip);
  }
}

struct Entry {
  const char* name;
  std::string line;
  ConfigKey key;
  std::string keyText, value;
  friend void PrintTo(const Entry& row, std::ostream* out) { *out << row.name; }
};

class KeysAndValues : public testing::TestWithParam<Entry> {};

TEST_P(KeysAndValues, FollowTheBlankAndEqualsRules) {
  const Entry& c = GetParam();
  const ConfigLine parsed = ParseConfigLine(c.line);
  ASSERT_EQ(parsed.kind, ConfigLine::Entry);
  EXPECT_EQ(parsed.key, c.key);
  EXPECT_EQ(parsed.keyText, c.keyText);
  EXPECT_EQ(parsed.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigLine, KeysAndValues,
    testing::Values(
        Entry{"NoBlanks", "scale=2.5", ConfigKey::Scale, "scale", "2.5"},
        Entry{"BlanksAroundKeyAndValue", "\t scale \t=\t 2.5", ConfigKey::Scale, "scale", "2.5"},
        Entry{"Skeleton", "skeleton = hero.csf", ConfigKey::Skeleton, "skeleton", "hero.csf"},
        Entry{"Animation", "animation = walk.caf", ConfigKey::Animation, "animation", "walk.caf"},
        Entry{"Mesh", "mesh = hero.cmf", ConfigKey::Mesh, "mesh", "hero.cmf"},
        Entry{"Material", "material = skin.crf", ConfigKey::Material, "material", "skin.crf"},
        // Keys are case-sensitive; unknown ones are entries nobody acts on.
        Entry{"KeysAreCaseSensitive", "Skeleton = hero.csf", ConfigKey::Other, "Skeleton",
              "hero.csf"},
        Entry{"UnknownKey", "colour = red", ConfigKey::Other, "colour", "red"},
        Entry{"NoKey", "= orphan", ConfigKey::Other, "", "orphan"},
        Entry{"NoKeyNoValue", "  =", ConfigKey::Other, "", ""},
        // Inner and trailing blanks are the value's; only CR and LF end it.
        Entry{"TrailingBlanksStay", "mesh = hero.cmf  ", ConfigKey::Mesh, "mesh", "hero.cmf  "},
        Entry{"HashInValue", "material = skin # red", ConfigKey::Material, "material",
              "skin # red"},
        Entry{"CarriageReturnEnds", "mesh = hero.cmf\r", ConfigKey::Mesh, "mesh", "hero.cmf"},
        Entry{"InnerCarriageReturnEnds", "mesh = a\rb", ConfigKey::Mesh, "mesh", "a"},
        Entry{"SlashInValue", "mesh=sub/body.cmf", ConfigKey::Mesh, "mesh", "sub/body.cmf"},
        // Nothing (or only blanks) after the '=' is an empty value.
        Entry{"NothingAfterEquals", "mesh =", ConfigKey::Mesh, "mesh", ""},
        Entry{"BlanksAfterEquals", "mesh =   \t ", ConfigKey::Mesh, "mesh", ""},
        Entry{"CarriageReturnAfterEquals", "scale =\r", ConfigKey::Scale, "scale", ""},
        // A key ends at its first blank, '=', CR or LF only.
        Entry{"HashInKey", "me#sh = x", ConfigKey::Other, "me#sh", "x"},
        Entry{"TabsBeforeEquals", "mesh\t\t= x", ConfigKey::Mesh, "mesh", "x"}),
    rwtest::RowName());

TEST(ConfigLine, KeyWithoutEqualsIsASyntaxError) {
  for (const char* line : {"mesh hero.cmf", "mesh", "  mesh   ", "mesh\r", "mesh : x", "a b = c"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(ParseConfigLine(line).kind, ConfigLine::SyntaxError);
  }
}

TEST(ConfigFile, SplitsAtEachLineFeedAfterAByteOrderMarkAndKeepsEveryLine) {
  const std::string text =
      "\xEF\xBB\xBFskeleton = a.csf\r\n# note\n\nmesh b.cmf\ncolour = red\nmesh = c.cmf";
  const rigweave::ConfigFile file =
      rigweave::ParseConfig(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  EXPECT_EQ(file.lines, (std::vector<std::string>{"skeleton = a.csf\r", "# note", "", "mesh b.cmf",
                                                  "colour = red", "mesh = c.cmf"}));
  // The first line's key is read without the mark; the line without '='
  // is the first syntax error, and the entries after it are still listed.
  EXPECT_EQ(file.syntaxErrorLine, 4);
  ASSERT_EQ(file.entries.size(), 3u);
  EXPECT_EQ(file.entries[0].line, 1);
  EXPECT_EQ(file.entries[0].key, ConfigKey::Skeleton);
  EXPECT_EQ(file.entries[0].value, "a.csf");
  EXPECT_EQ(file.entries[1].line, 5);
  EXPECT_EQ(file.entries[1].keyText, "colour");
  EXPECT_EQ(file.entries[2].line, 6);
  EXPECT_EQ(file.Values(ConfigKey::Mesh), std::vector<std::string>{"c.cmf"});

  const std::string animations = "animation = walk.caf\nanimation = wave.old.caf\n";
  EXPECT_EQ(
      rigweave::ParseConfig(reinterpret_cast<const uint8_t*>(animations.data()), animations.size())
          .AnimationNames(),
      (std::vector<std::string>{"walk", "wave.old"}));
  EXPECT_TRUE(rigweave::ParseConfig(nullptr, 0).lines.empty());
}

TEST(ConfigLine, AnimationNamesRunToTheLastDot) {
  EXPECT_EQ(AnimationNameFromFile("walk.caf"), "walk");
  EXPECT_EQ(AnimationNameFromFile("wave.old.caf"), "wave.old");
  EXPECT_EQ(AnimationNameFromFile("jump"), "jump");
  EXPECT_EQ(AnimationNameFromFile(".caf"), "");
  EXPECT_EQ(AnimationNameFromFile("anims/run.caf"), "anims/run");
  EXPECT_EQ(AnimationNameFromFile("walk.caf  "), "walk");
}

}  // namespace
