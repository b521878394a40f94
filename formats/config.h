// The model configuration format: one "key = value" per line, '#' comment
// lines, blank lines. Parsing is pure so that tests and fuzzers can call it
// on raw bytes; the module's loader, the programs, the benchmark and the
// tests all act on what it returns, so that a value means the same to each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rigweave {

// MorphAnimation is "morphanim", the facial animation exporters of Cal3D's
// newer line name (formats/morph_animation.h); BlendMesh is "blendmesh", a
// whole mesh added to an earlier one as a Cal3D morph target.
enum class ConfigKey {
  Other,
  Scale,
  Skeleton,
  Animation,
  Mesh,
  Material,
  MorphAnimation,
  BlendMesh
};

struct ConfigLine {
  enum Kind {
    Skip,         // empty or comment
    Entry,        // key, '=', value
    SyntaxError,  // a key not followed by '='
  };
  Kind kind = Skip;
  ConfigKey key = ConfigKey::Other;
  std::string_view keyText;
  // Runs to the first CR or LF; inner and trailing blanks belong to it.
  std::string_view value;
};

// `line` is one line without its LF; it may still end in the CR of a CR LF.
ConfigLine ParseConfigLine(std::string_view line);

// What a "scale" value reads as: the format reads it as atof does. `plain`
// tells whether the value was a decimal number and nothing else (trailing
// blanks aside); `asRead` is the number read, for a line that says so when
// it was not.
struct ScaleReading {
  float scale = 0;
  bool plain = false;
  std::string asRead;
};
ScaleReading ReadScale(std::string_view value);

// The name an animation file gives its animation: up to its last '.'.
std::string_view AnimationNameFromFile(std::string_view file);

struct ConfigEntry {
  int line = 0;  // from 1
  ConfigKey key = ConfigKey::Other;
  std::string keyText;
  std::string value;
};

// A whole configuration file, split into lines at each LF (a last line
// without its LF is a line like the others) after a UTF-8 byte-order mark,
// which editors on Windows put first and which would otherwise become part
// of the first key.
struct ConfigFile {
  // The file's lines without their LF (a CR of CR LF stays), in order.
  std::vector<std::string> lines;
  // Every "key = value" line, in order (those after a syntax error too).
  std::vector<ConfigEntry> entries;
  // The first line that has a key without '=' (the module refuses the file), or 0.
  int syntaxErrorLine = 0;

  // The values of every line of that key, in order.
  std::vector<std::string> Values(ConfigKey key) const;
  // The names the module gives the configuration's animations, in order.
  std::vector<std::string> AnimationNames() const;
};

ConfigFile ParseConfig(const uint8_t* bytes, size_t size);
inline ConfigFile ParseConfig(const std::vector<uint8_t>& bytes) {
  return ParseConfig(bytes.data(), bytes.size());
}

}  // namespace rigweave
