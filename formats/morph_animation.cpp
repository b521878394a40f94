#include "formats/morph_animation.h"

#include <tinyxml2.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "formats/byte_reader.h"
#include "formats/cal3d_xml.h"

namespace rigweave {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

constexpr int32_t kEarliestVersion = 699;
constexpr int32_t kLatestVersion = 1301;

bool Is(const XMLElement* element, const char* name) {
  return element != nullptr && SameCal3DName(element->Name(), name);
}

std::string_view Trimmed(const char* text) {
  std::string_view s(text);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool ReadInt(const char* text, int32_t& value) {
  if (text == nullptr) return false;
  const std::string_view s = Trimmed(text);
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  return error == std::errc() && end == s.data() + s.size() && !s.empty();
}

bool ReadFloat(const char* text, float& value) {
  if (text == nullptr) return false;
  std::string_view s = Trimmed(text);
  if (s.size() > 1 && s[0] == '+') s.remove_prefix(1);
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  return error == std::errc() && end == s.data() + s.size() && !s.empty() && std::isfinite(value);
}

bool Positive(float duration) {
  return duration > 0 && std::isfinite(duration);
}

void SortKeyframes(MorphTrack& track) {
  std::stable_sort(track.keyframes.begin(), track.keyframes.end(),
                   [](const MorphKeyframe& a, const MorphKeyframe& b) { return a.time < b.time; });
}

// A track names its target by id (mesh, sub-meshes, morph index) or, in the
// older layout, by name.
const char* ReadXmlTrack(const XMLElement* element, MorphTrack& track) {
  if (const char* name = element->Attribute("MORPHNAME")) {
    track.morphName = name;
  } else {
    if (!ReadInt(element->Attribute("MORPHID"), track.morphId) || track.morphId < 0)
      return "bad or missing track MORPHID";
    if (!ReadInt(element->Attribute("MESHID"), track.meshId) || track.meshId < 0)
      return "bad or missing track MESHID";
  }
  // Counts are not trusted: the elements present are what is read.
  for (const XMLElement* item = element->FirstChildElement(); item != nullptr;
       item = item->NextSiblingElement()) {
    if (Is(item, "SUBMESH")) {
      int32_t submesh = 0;
      if (track.morphId < 0) return "SUBMESH in a track by name";
      if (!ReadInt(item->Attribute("ID"), submesh) || submesh < 0)
        return "bad or missing SUBMESH ID";
      track.submeshes.push_back(submesh);
    } else if (Is(item, "KEYFRAME")) {
      MorphKeyframe keyframe;
      const XMLElement* weight = item->FirstChildElement();
      if (!ReadFloat(item->Attribute("TIME"), keyframe.time)) return "bad or missing KEYFRAME TIME";
      if (!Is(weight, "WEIGHT") || !ReadFloat(weight->GetText(), keyframe.weight))
        return "bad or missing KEYFRAME WEIGHT";
      track.keyframes.push_back(keyframe);
    } else {
      return "element other than SUBMESH or KEYFRAME in TRACK";
    }
  }
  return nullptr;
}

const char* ReadXml(const uint8_t* bytes, size_t size, MorphAnimation& animation) {
  XMLDocument document(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (size == 0 ||
      document.Parse(reinterpret_cast<const char*>(bytes), size) != tinyxml2::XML_SUCCESS)
    return "malformed XML";
  const XMLElement* root = document.FirstChildElement();
  if (Is(root, "HEADER")) {
    const char* magic = root->Attribute("MAGIC");
    int32_t version = 0;
    if (magic == nullptr || !SameCal3DName(magic, "XPF")) return "not a morph animation";
    if (!ReadInt(root->Attribute("VERSION"), version) || version < kEarliestVersion)
      return "unsupported file version";
    root = root->NextSiblingElement();
  }
  if (!Is(root, "ANIMATION")) return "not a morph animation";
  if (!ReadFloat(root->Attribute("DURATION"), animation.duration) || !Positive(animation.duration))
    return "duration not a finite positive number";
  bool byName = false, byId = false;
  for (const XMLElement* element = root->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    if (!Is(element, "TRACK")) return "element other than TRACK in ANIMATION";
    MorphTrack& track = animation.tracks.emplace_back();
    if (const char* bad = ReadXmlTrack(element, track)) return bad;
    (track.morphId < 0 ? byName : byId) = true;
    SortKeyframes(track);
  }
  if (animation.tracks.empty()) return "no tracks";
  animation.layout = byName && byId ? "XML, tracks by id and by name"
                     : byName       ? "XML, tracks by morph name"
                                    : "XML, tracks by morph id";
  return nullptr;
}

using In = ByteReader;

enum class BinaryLayout { Loader, Saver, Named };

const char* ReadBinaryLayout(const uint8_t* bytes, size_t size, BinaryLayout layout,
                             MorphAnimation& animation) {
  In in(bytes, size);
  char magic[4];
  int32_t version = 0, trackCount = 0;
  if (!in.Raw(magic, 4) || std::memcmp(magic, "CPF\0", 4) != 0) return "not a morph animation";
  if (!in.Int(version)) return "truncated header";
  if (version < kEarliestVersion || version > kLatestVersion) return "unsupported file version";
  if (!in.Float(animation.duration) || !in.Int(trackCount)) return "truncated header";
  if (!Positive(animation.duration)) return "duration not a finite positive number";
  if (trackCount <= 0) return "no tracks";
  if (!in.Fits(trackCount, 8)) return "track count out of range";
  for (int32_t t = 0; t < trackCount; t++) {
    MorphTrack& track = animation.tracks.emplace_back();
    int32_t keyframeCount = 0;
    if (layout == BinaryLayout::Named) {
      if (!in.String(track.morphName)) return "truncated track";
    } else {
      if (!in.Int(track.morphId)) return "truncated track";
      if (track.morphId < 0) return "morph id out of range";
    }
    if (!in.Int(keyframeCount)) return "truncated track";
    // The saver writes 0 or 1 here whatever the track holds.
    if (keyframeCount < (layout == BinaryLayout::Saver ? 0 : 1) || !in.Fits(keyframeCount, 8))
      return "keyframe count out of range";
    if (layout == BinaryLayout::Saver) {
      int32_t submeshCount = 0;
      if (!in.Int(track.meshId) || !in.Int(submeshCount)) return "truncated track";
      if (track.meshId < 0) return "mesh id out of range";
      if (!in.Fits(submeshCount, 4)) return "sub-mesh count out of range";
      track.submeshes.resize(static_cast<size_t>(submeshCount));
      for (int& submesh : track.submeshes) {
        in.Int(submesh);
        if (submesh < 0) return "sub-mesh id out of range";
      }
    }
    // The loader's layout reads the keyframes right after the count.
    track.keyframes.resize(static_cast<size_t>(keyframeCount));
    for (MorphKeyframe& keyframe : track.keyframes) {
      if (!in.Float(keyframe.time) || !in.Float(keyframe.weight)) return "truncated keyframe";
      if (!std::isfinite(keyframe.time) || !std::isfinite(keyframe.weight))
        return "keyframe not a finite number";
    }
    SortKeyframes(track);
  }
  if (!in.AtEnd()) return "bytes left after the end";
  return nullptr;
}

const char* ReadBinary(const uint8_t* bytes, size_t size, MorphAnimation& animation) {
  static const struct {
    BinaryLayout layout;
    const char* name;
  } kLayouts[] = {{BinaryLayout::Loader, "binary, the newer loader's layout"},
                  {BinaryLayout::Saver, "binary, the newer saver's layout"},
                  {BinaryLayout::Named, "binary, tracks by morph name"}};
  const char* first = nullptr;
  const char* chosen = nullptr;
  MorphAnimation kept;
  for (const auto& candidate : kLayouts) {
    MorphAnimation reading;
    const char* reason = ReadBinaryLayout(bytes, size, candidate.layout, reading);
    if (reason != nullptr) {
      if (first == nullptr) first = reason;
      continue;
    }
    if (chosen != nullptr) return "two layouts fit and disagree";
    chosen = candidate.name;
    kept = std::move(reading);
  }
  if (chosen == nullptr) return first;
  animation = std::move(kept);
  animation.layout = chosen;
  return nullptr;
}

}  // namespace

bool NamesMorphAnimationXml(std::string_view name) {
  if (name.size() < 4) return false;
  return SameCal3DName(std::string(name.substr(name.size() - 4)).c_str(), ".XPF");
}

const char* ReadMorphAnimation(std::string_view name, const uint8_t* bytes, size_t size,
                               MorphAnimation& animation) {
  animation = MorphAnimation();
  try {
    const char* reason = NamesMorphAnimationXml(name) ? ReadXml(bytes, size, animation)
                                                      : ReadBinary(bytes, size, animation);
    if (reason != nullptr) animation = MorphAnimation();
    return reason;
  } catch (const std::bad_alloc&) {
    animation = MorphAnimation();
    return "out of memory";
  }
}

float MorphTrackWeight(const MorphTrack& track, float time) {
  const auto next =
      std::upper_bound(track.keyframes.begin(), track.keyframes.end(), time,
                       [](float t, const MorphKeyframe& keyframe) { return t < keyframe.time; });
  if (next == track.keyframes.end() || next == track.keyframes.begin()) return 0;
  const MorphKeyframe& before = *(next - 1);
  const float span = next->time - before.time;
  const float f = span > 0 ? (time - before.time) / span : 0;
  return before.weight + f * (next->weight - before.weight);
}

const char* CheckMorphTargets(
    const MorphAnimation& animation,
    const std::vector<std::vector<std::vector<std::string>>>& morphNames) {
  for (const MorphTrack& track : animation.tracks) {
    if (track.morphId < 0) continue;
    if (static_cast<size_t>(track.meshId) >= morphNames.size()) return "track mesh out of range";
    const auto& submeshes = morphNames[static_cast<size_t>(track.meshId)];
    for (int submesh : track.submeshes) {
      if (static_cast<size_t>(submesh) >= submeshes.size()) return "track sub-mesh out of range";
      if (static_cast<size_t>(track.morphId) >= submeshes[static_cast<size_t>(submesh)].size())
        return "track morph target out of range";
    }
  }
  return nullptr;
}

}  // namespace rigweave
