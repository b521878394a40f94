// Feeds a whole configuration file to the line parser, split into lines as
// the loader splits it, and to the whole-file parser, and checks what the
// loader relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "formats/config.h"

namespace {

using rigweave::ConfigKey;
using rigweave::ConfigLine;

void Fail(const char* what, std::string_view line) {
  std::fprintf(stderr, "config line invariant broken: %s\nline (%zu bytes): ", what, line.size());
  for (unsigned char c : line) std::fprintf(stderr, "\\x%02x", c);
  std::fprintf(stderr, "\n");
  std::abort();
}

#define CHECK(cond, line)           \
  do {                              \
    if (!(cond)) Fail(#cond, line); \
  } while (0)

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool AllBlank(std::string_view s) {
  for (char c : s)
    if (!IsBlank(c)) return false;
  return true;
}

// Views handed back must point into the line itself: the loader copies them
// only after the parse, and a view into anything else would dangle.
bool Inside(std::string_view part, std::string_view line) {
  if (part.empty()) return true;
  return part.data() >= line.data() && part.data() + part.size() <= line.data() + line.size();
}

size_t OffsetIn(std::string_view part, std::string_view line) {
  return static_cast<size_t>(part.data() - line.data());
}

ConfigKey ExpectedKey(std::string_view key) {
  if (key == "scale") return ConfigKey::Scale;
  if (key == "skeleton") return ConfigKey::Skeleton;
  if (key == "animation") return ConfigKey::Animation;
  if (key == "mesh") return ConfigKey::Mesh;
  if (key == "material") return ConfigKey::Material;
  if (key == "morphanim") return ConfigKey::MorphAnimation;
  if (key == "blendmesh") return ConfigKey::BlendMesh;
  return ConfigKey::Other;
}

void CheckAnimationName(std::string_view file) {
  const std::string_view name = rigweave::AnimationNameFromFile(file);
  CHECK(name.data() == file.data() || name.empty(), file);
  CHECK(name.size() <= file.size(), file);
  CHECK(file.substr(0, name.size()) == name, file);
  const std::string_view rest = file.substr(name.size());
  if (file.find('.') == std::string_view::npos) {
    CHECK(rest.empty(), file);
  } else {
    // Exactly the last extension is dropped, dot included.
    CHECK(!rest.empty() && rest[0] == '.', file);
    CHECK(rest.find('.', 1) == std::string_view::npos, file);
  }
}

void CheckLine(std::string_view line) {
  const ConfigLine parsed = rigweave::ParseConfigLine(line);
  CHECK(Inside(parsed.keyText, line), line);
  CHECK(Inside(parsed.value, line), line);

  const size_t first = line.find_first_not_of(" \t");
  switch (parsed.kind) {
    case ConfigLine::Skip: {
      CHECK(parsed.keyText.empty() && parsed.value.empty(), line);
      CHECK(first == std::string_view::npos || line[first] == '#' || line[first] == '\r' ||
                line[first] == '\0',
            line);
      return;
    }
    case ConfigLine::SyntaxError: {
      CHECK(!parsed.keyText.empty(), line);
      CHECK(parsed.keyText.find_first_of(std::string_view(" \t=\r\n", 5)) == std::string_view::npos,
            line);
      // Whatever follows the key and its blanks is not '='.
      const size_t after = OffsetIn(parsed.keyText, line) + parsed.keyText.size();
      const size_t next = line.find_first_not_of(" \t", after);
      CHECK(next == std::string_view::npos || line[next] != '=', line);
      return;
    }
    case ConfigLine::Entry:
      break;
    default:
      Fail("unknown kind", line);
  }

  CHECK(first != std::string_view::npos && line[first] != '#', line);
  CHECK(parsed.keyText.find_first_of(std::string_view(" \t=\r\n", 5)) == std::string_view::npos,
        line);
  CHECK(parsed.key == ExpectedKey(parsed.keyText), line);
  // The key starts the line after its blanks, and only blanks stand between
  // the key, the '=' and the value.
  const size_t keyAt = parsed.keyText.empty() ? first : OffsetIn(parsed.keyText, line);
  CHECK(keyAt == first, line);
  const size_t equals = line.find('=', keyAt + parsed.keyText.size());
  CHECK(equals != std::string_view::npos, line);
  CHECK(
      AllBlank(line.substr(keyAt + parsed.keyText.size(), equals - keyAt - parsed.keyText.size())),
      line);
  const size_t valueAt = parsed.value.empty() ? line.find_first_not_of(" \t", equals + 1)
                                              : OffsetIn(parsed.value, line);
  if (!parsed.value.empty()) {
    CHECK(valueAt > equals && AllBlank(line.substr(equals + 1, valueAt - equals - 1)), line);
    CHECK(!IsBlank(parsed.value.front()), line);
  }
  // The value never carries a line end: it runs to the first CR or LF, or
  // to the end of the line.
  CHECK(parsed.value.find_first_of(std::string_view("\r\n", 2)) == std::string_view::npos, line);
  if (valueAt != std::string_view::npos) {
    const size_t end = valueAt + parsed.value.size();
    CHECK(end == line.size() || line[end] == '\r' || line[end] == '\n', line);
  }

  // Writing the entry back in its plain form reads the same.
  std::string canonical(parsed.keyText);
  canonical += " = ";
  canonical += parsed.value;
  const ConfigLine again = rigweave::ParseConfigLine(canonical);
  CHECK(again.kind == ConfigLine::Entry, line);
  CHECK(again.keyText == parsed.keyText && again.value == parsed.value, line);
  CHECK(again.key == parsed.key, line);

  if (parsed.key == ConfigKey::Animation) CheckAnimationName(parsed.value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  // As std::getline splits: at each LF, the LF dropped, and a last line
  // without its LF read like the others.
  while (start < all.size()) {
    const size_t lf = all.find('\n', start);
    const size_t end = lf == std::string_view::npos ? all.size() : lf;
    // Each line in a buffer of its own exact size, so that a read past its
    // end lands in a redzone instead of the next line.
    const std::vector<char> line(all.begin() + start, all.begin() + end);
    CheckLine(std::string_view(line.data(), line.size()));
    start = end + 1;
  }
  CheckAnimationName(all);

  // The whole-file parse the loader uses keeps every line and finds the
  // entries and the first syntax error where the lines say they are.
  const rigweave::ConfigFile file = rigweave::ParseConfig(data, size);
  int previous = 0;
  for (const rigweave::ConfigEntry& entry : file.entries) {
    CHECK(entry.line > previous && entry.line <= static_cast<int>(file.lines.size()), all);
    const ConfigLine parsed = rigweave::ParseConfigLine(file.lines[entry.line - 1]);
    CHECK(parsed.kind == ConfigLine::Entry && parsed.key == entry.key, all);
    CHECK(parsed.keyText == entry.keyText && parsed.value == entry.value, all);
    previous = entry.line;
  }
  if (file.syntaxErrorLine != 0) {
    CHECK(file.syntaxErrorLine <= static_cast<int>(file.lines.size()), all);
    CHECK(rigweave::ParseConfigLine(file.lines[file.syntaxErrorLine - 1]).kind ==
              ConfigLine::SyntaxError,
          all);
  }
  return 0;
}
