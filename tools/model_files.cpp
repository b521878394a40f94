#include "tools/model_files.h"

#include <algorithm>
#include <string_view>

namespace rwtools {
namespace {

std::string MiB(uint64_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

bool EndsWithIgnoringCase(const std::string& text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); i++) {
    char c = text[text.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

std::string BaseName(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

bool ReadRegularFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes,
                     std::string& error) {
  const rigweave::FileError read = rigweave::ReadWholeFile(path, static_cast<size_t>(limit), bytes);
  if (read == rigweave::FileError::None) return true;
  error = read == rigweave::FileError::TooLarge ? "larger than " + MiB(limit)
                                                : rigweave::FileErrorText(read);
  return false;
}

bool ReadConfig(const std::string& path, rigweave::ConfigFile& config, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadRegularFile(path, kMaxConfigBytes, bytes, error)) return false;
  config = rigweave::ParseConfig(bytes);
  return true;
}

AnimationLookup FindAnimation(const std::vector<std::string>& names, const std::string& asked) {
  AnimationLookup lookup;
  if (std::find(names.begin(), names.end(), asked) != names.end()) {
    lookup.result = AnimationLookup::Found;
    lookup.name = asked;
    return lookup;
  }
  auto gather = [&](auto matches) {
    for (const std::string& name : names)
      if (matches(BaseName(name)) &&
          std::find(lookup.others.begin(), lookup.others.end(), name) == lookup.others.end())
        lookup.others.push_back(name);
  };
  gather([&](const std::string& base) { return base == asked; });
  // Exporters prefix every animation with the character's name: "walk"
  // is the one whose base name ends in "_walk".
  const std::string suffix = "_" + asked;
  if (lookup.others.empty())
    gather([&](const std::string& base) {
      return base.size() > suffix.size() &&
             base.compare(base.size() - suffix.size(), suffix.size(), suffix) == 0;
    });
  if (lookup.others.size() == 1) {
    lookup.result = AnimationLookup::Found;
    lookup.name = lookup.others.front();
    lookup.others.clear();
  } else if (lookup.others.size() > 1) {
    lookup.result = AnimationLookup::Ambiguous;
  }
  return lookup;
}

std::string JoinNames(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

bool ReadCheckedCal3D(const std::string& path, rigweave::Cal3DKind kind, int bones,
                      std::vector<uint8_t>& bytes, std::string& error, int* boneCount) {
  if (!ReadRegularFile(path, kMaxCal3DFileBytes, bytes, error)) {
    error = "cannot be read (" + error + ")";
    return false;
  }
  const rigweave::Cal3DCheck check = rigweave::PrepareCal3DFile(path, kind, bytes, bones);
  if (!check.Ok()) {
    error = "not a Cal3D file the module can read (" + check.Text() + ")";
    bytes.clear();
    return false;
  }
  if (boneCount != nullptr) *boneCount = check.boneCount;
  return true;
}

bool NamesPicture(const std::string& name) {
  for (std::string_view extension : {".tga", ".png", ".jpg", ".jpeg", ".bmp"})
    if (EndsWithIgnoringCase(name, extension)) return true;
  return false;
}

}  // namespace rwtools
