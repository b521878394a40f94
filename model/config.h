// The model configuration format: one "key = value" per line, '#' comment
// lines, blank lines. Parsing is pure so that tests and fuzzers can call it
// on raw bytes; the loader acts on what it returns.
#pragma once

#include <string>
#include <string_view>

namespace rigweave {

enum class ConfigKey { Other, Scale, Skeleton, Animation, Mesh, Material };

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

}  // namespace rigweave
