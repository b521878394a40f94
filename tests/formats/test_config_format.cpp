// The model configuration format, byte for byte: lines, and whole files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/config.h"

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

TEST(ConfigLine, KeysAndValuesFollowTheBlankAndEqualsRules) {
  struct Case {
    std::string line;
    ConfigKey key;
    std::string keyText, value;
  };
  const Case cases[] = {
      {"scale=2.5", ConfigKey::Scale, "scale", "2.5"},
      {"\t scale \t=\t 2.5", ConfigKey::Scale, "scale", "2.5"},
      {"skeleton = hero.csf", ConfigKey::Skeleton, "skeleton", "hero.csf"},
      {"animation = walk.caf", ConfigKey::Animation, "animation", "walk.caf"},
      {"mesh = hero.cmf", ConfigKey::Mesh, "mesh", "hero.cmf"},
      {"material = skin.crf", ConfigKey::Material, "material", "skin.crf"},
      // Keys are case-sensitive; unknown ones are entries nobody acts on.
      {"Skeleton = hero.csf", ConfigKey::Other, "Skeleton", "hero.csf"},
      {"colour = red", ConfigKey::Other, "colour", "red"},
      {"= orphan", ConfigKey::Other, "", "orphan"},
      {"  =", ConfigKey::Other, "", ""},
      // Inner and trailing blanks are the value's; only CR and LF end it.
      {"mesh = hero.cmf  ", ConfigKey::Mesh, "mesh", "hero.cmf  "},
      {"material = skin # red", ConfigKey::Material, "material", "skin # red"},
      {"mesh = hero.cmf\r", ConfigKey::Mesh, "mesh", "hero.cmf"},
      {"mesh = a\rb", ConfigKey::Mesh, "mesh", "a"},
      {"mesh=sub/body.cmf", ConfigKey::Mesh, "mesh", "sub/body.cmf"},
      // Nothing (or only blanks) after the '=' is an empty value.
      {"mesh =", ConfigKey::Mesh, "mesh", ""},
      {"mesh =   \t ", ConfigKey::Mesh, "mesh", ""},
      {"scale =\r", ConfigKey::Scale, "scale", ""},
      // A key ends at its first blank, '=', CR or LF only.
      {"me#sh = x", ConfigKey::Other, "me#sh", "x"},
      {"mesh\t\t= x", ConfigKey::Mesh, "mesh", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ConfigLine parsed = ParseConfigLine(c.line);
    ASSERT_EQ(parsed.kind, ConfigLine::Entry);
    EXPECT_EQ(parsed.key, c.key);
    EXPECT_EQ(parsed.keyText, c.keyText);
    EXPECT_EQ(parsed.value, c.value);
  }
}

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
