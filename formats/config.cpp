#include "formats/config.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

namespace rigweave {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsBlank(s[i])) i++;
  return i;
}

ConfigKey KeyOf(std::string_view key) {
  if (key == "scale") return ConfigKey::Scale;
  if (key == "skeleton") return ConfigKey::Skeleton;
  if (key == "animation") return ConfigKey::Animation;
  if (key == "mesh") return ConfigKey::Mesh;
  if (key == "material") return ConfigKey::Material;
  if (key == "morphanim") return ConfigKey::MorphAnimation;
  if (key == "blendmesh") return ConfigKey::BlendMesh;
  return ConfigKey::Other;
}

}  // namespace

ConfigLine ParseConfigLine(std::string_view line) {
  ConfigLine result;
  size_t i = SkipBlanks(line, 0);
  if (i == line.size() || line[i] == '\n' || line[i] == '\r' || line[i] == '\0') return result;
  if (line[i] == '#') return result;

  const size_t keyEnd = line.find_first_of(std::string_view(" =\t\n\r", 5), i);
  result.keyText = line.substr(i, keyEnd == std::string_view::npos ? line.npos : keyEnd - i);
  result.key = KeyOf(result.keyText);

  i = SkipBlanks(line, i + result.keyText.size());
  if (i == line.size() || line[i] != '=') {
    result.kind = ConfigLine::SyntaxError;
    return result;
  }
  // Nothing but blanks after the '=' is an empty value, like the CR of a CR LF.
  i = SkipBlanks(line, i + 1);
  const size_t valueEnd = line.find_first_of(std::string_view("\r\n", 2), i);
  result.value = line.substr(i, valueEnd == std::string_view::npos ? line.npos : valueEnd - i);
  result.kind = ConfigLine::Entry;
  return result;
}

ScaleReading ReadScale(std::string_view value) {
  ScaleReading reading;
  const std::string text(value);
  reading.scale = static_cast<float>(std::atof(text.c_str()));
  double exact = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, exact);
  while (stop != end && IsBlank(*stop)) stop++;
  reading.plain = error == std::errc() && stop == end && static_cast<float>(exact) == reading.scale;
  char printed[32];
  auto [last, ignored] = std::to_chars(printed, printed + sizeof printed, reading.scale);
  (void)ignored;
  reading.asRead.assign(printed, last);
  return reading;
}

std::string_view AnimationNameFromFile(std::string_view file) {
  const size_t dot = file.rfind('.');
  return dot == std::string_view::npos ? file : file.substr(0, dot);
}

std::vector<std::string> ConfigFile::Values(ConfigKey key) const {
  std::vector<std::string> values;
  for (const ConfigEntry& entry : entries)
    if (entry.key == key) values.push_back(entry.value);
  return values;
}

std::vector<std::string> ConfigFile::AnimationNames() const {
  std::vector<std::string> names;
  for (const std::string& file : Values(ConfigKey::Animation))
    names.emplace_back(AnimationNameFromFile(file));
  return names;
}

ConfigFile ParseConfig(const uint8_t* bytes, size_t size) {
  ConfigFile config;
  std::string_view text(reinterpret_cast<const char*>(bytes), size);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    config.lines.emplace_back(line);
    const int number = static_cast<int>(config.lines.size());
    const ConfigLine parsed = ParseConfigLine(line);
    if (parsed.kind == ConfigLine::SyntaxError && config.syntaxErrorLine == 0)
      config.syntaxErrorLine = number;
    if (parsed.kind == ConfigLine::Entry)
      config.entries.push_back(
          {number, parsed.key, std::string(parsed.keyText), std::string(parsed.value)});
    start = end + 1;
  }
  return config;
}

}  // namespace rigweave
