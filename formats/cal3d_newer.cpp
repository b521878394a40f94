#include "formats/cal3d_newer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "formats/cal3d_newer_parts.h"

namespace rigweave {
namespace {

using newer_cal3d::AnimationLayout;
using newer_cal3d::HoldsAbsoluteTargets;
using newer_cal3d::In;
using newer_cal3d::MakeDense;
using newer_cal3d::MeshLayout;
using newer_cal3d::MeshMorphs;
using newer_cal3d::Out;
using newer_cal3d::ReadAnimation;
using newer_cal3d::ReadMesh;
using newer_cal3d::SameMorphs;
using newer_cal3d::TrackForm;

constexpr int32_t kOldestVersion = 699;
constexpr int32_t kNewestVersion = 1301;

bool IsLineage(int32_t version) {
  return version >= 911 && version <= 919;
}

// ---------------------------------------------------------------------------
// Skeletons

struct SkeletonLayout {
  const char* name;
  bool sceneAmbient;  // 3 floats after the bone count
  bool boneLights;    // int type, 3 floats colour after each parent id
};

const char* ReadSkeleton(In& in, const SkeletonLayout& layout, Out& out) {
  int32_t boneCount = 0;
  if (!in.Int(boneCount)) return "truncated header";
  if (boneCount <= 0) return "no bones";
  if (layout.sceneAmbient && !in.Skip(3 * 4)) return "truncated header";
  const size_t boneMin = 4 + 14 * 4 + 4 + (layout.boneLights ? 16 : 0) + 4;
  if (!in.Fits(boneCount, boneMin)) return "bone count out of range";
  out.Header("CSF\0");
  out.Int(boneCount);
  std::string name;
  for (int32_t bone = 0; bone < boneCount; bone++) {
    float pose[14];
    int32_t parent = 0, childCount = 0;
    if (!in.String(name)) return "bone name out of range";
    if (!in.Floats(pose, 14) || !in.Int(parent)) return "truncated bone";
    if (parent < -1 || parent >= boneCount) return "bone parent out of range";
    if (layout.boneLights && !in.Skip(16)) return "truncated bone";
    if (!in.Int(childCount)) return "truncated bone";
    if (!in.Fits(childCount, 4)) return "child count out of range";
    out.String(name);
    out.Floats(pose, 14);
    out.Int(parent);
    out.Int(childCount);
    for (int32_t c = 0; c < childCount; c++) {
      int32_t child = 0;
      in.Int(child);
      if (child < 0 || child >= boneCount) return "bone child out of range";
      out.Int(child);
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Materials

const char* ReadMaterial(In& in, bool mapTypes, Out& out) {
  uint8_t colours[16];
  int32_t mapCount = 0;
  if (!in.Raw(colours, 16) || !in.Int(mapCount)) return "truncated header";
  if (!in.Fits(mapCount, mapTypes ? 8 : 4)) return "map count out of range";
  out.Header("CRF\0");
  out.Raw(colours, 16);
  out.Int(mapCount);
  std::string name, type;
  for (int32_t map = 0; map < mapCount; map++) {
    if (!in.String(name)) return "map name out of range";
    if (mapTypes && !in.String(type)) return "map type out of range";
    out.String(name);
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Layouts by version

struct Candidate {
  const char* name;
  SkeletonLayout skeleton;
  AnimationLayout animation;
  MeshLayout mesh;
  bool mapTypes;
};

std::vector<Candidate> Candidates(Cal3DKind kind, int32_t version) {
  std::vector<Candidate> list;
  const auto add = [&list](const char* name) -> Candidate& {
    list.push_back(Candidate{name, {}, {}, {}, false});
    return list.back();
  };
  const bool lineage = IsLineage(version);
  const bool oldLayout = !lineage && version != 1200 && version < 1300;
  switch (kind) {
    case Cal3DKind::Skeleton:
      if (!lineage) add("the 0.11 layout").skeleton = {"", false, false};
      if (lineage || version == 1200 || version == 1300)
        add("scene ambient and bone lights").skeleton = {"", true, true};
      if (version == 1300) add("bone lights").skeleton = {"", false, true};
      break;
    case Cal3DKind::Animation:
      if (oldLayout || version == 1200 || version == 911 || version == 912)
        add("plain tracks").animation = {"", false, false, TrackForm::Plain, 0};
      if (version >= 913 && version <= 918)
        add("bit-packed tracks").animation = {"", false, false, TrackForm::Packed,
                                              version == 916 || version == 917 ? version : 0};
      if (version == 919 || version == 1200 || version == 1300)
        add("compression flag").animation = {"", true, false, TrackForm::ByCompressionFlag, 0};
      if (version == 1200)
        add("track flags (0.12)").animation = {"", false, true, TrackForm::ByFlagsBit0, 0};
      if (version == 1200 || version == 1300 || version == 1301)
        add("compression flag and track flags").animation = {"", true, true,
                                                             TrackForm::ByCompressionFlag, 0};
      break;
    case Cal3DKind::Mesh:
      if (oldLayout || version == 1200) add("the 0.11 layout").mesh = {"", false, false, false};
      if (lineage || version == 1200 || version >= 1300)
        add("vertex colours, morph blocks ended by an id").mesh = {"", true, true, false};
      if (version >= 1300) {
        add("morph blocks ended by an id").mesh = {"", false, true, false};
        add("morph blocks counted").mesh = {"", false, true, true};
      }
      break;
    case Cal3DKind::Material:
      if (oldLayout || version == 1200) add("the 0.11 layout").mapTypes = false;
      if (lineage || version >= 1200) add("map types").mapTypes = true;
      break;
  }
  return list;
}

const char* Magic(Cal3DKind kind) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return "CSF";
    case Cal3DKind::Animation:
      return "CAF";
    case Cal3DKind::Mesh:
      return "CMF";
    case Cal3DKind::Material:
      break;
  }
  return "CRF";
}

struct Reading {
  std::vector<uint8_t> bytes;
  MeshMorphs morphs;
  const char* reason = nullptr;
};

void ReadCandidate(Cal3DKind kind, const Candidate& candidate, const uint8_t* bytes, size_t size,
                   const std::vector<float>& rest, Reading& reading) {
  In in(bytes, size);
  in.Skip(8);
  Out out(reading.bytes);
  switch (kind) {
    case Cal3DKind::Skeleton:
      reading.reason = ReadSkeleton(in, candidate.skeleton, out);
      break;
    case Cal3DKind::Animation:
      reading.reason = ReadAnimation(in, candidate.animation, rest, out);
      break;
    case Cal3DKind::Mesh:
      reading.reason = ReadMesh(in, candidate.mesh, out, reading.morphs);
      break;
    case Cal3DKind::Material:
      reading.reason = ReadMaterial(in, candidate.mapTypes, out);
      break;
  }
  if (reading.reason == nullptr && !in.AtEnd()) reading.reason = "bytes left after the end";
}

thread_local std::string lastReason;

const char* Say(const std::string& text) {
  lastReason = text;
  return lastReason.c_str();
}

const char* Translate(Cal3DKind kind, const uint8_t* bytes, size_t size, NewerCal3DContext& context,
                      std::vector<uint8_t>& out) {
  context.morphTargets.clear();
  context.layout = "";
  if (size < 8) return "truncated header";
  if (std::memcmp(bytes, Magic(kind), 4) != 0) return "not a binary Cal3D file of this kind";
  int32_t version = 0;
  std::memcpy(&version, bytes + 4, 4);
  if (version < kOldestVersion || version > kNewestVersion)
    return Say("unsupported file version " + std::to_string(version) + " (Cal3D writes 699 to " +
               std::to_string(kNewestVersion) + ")");

  const std::vector<Candidate> candidates = Candidates(kind, version);
  std::vector<Reading> readings(candidates.size());
  Reading* kept = nullptr;
  const Candidate* keptLayout = nullptr;
  std::string failures;
  for (size_t i = 0; i < candidates.size(); i++) {
    Reading& reading = readings[i];
    ReadCandidate(kind, candidates[i], bytes, size, context.restTranslations, reading);
    if (reading.reason != nullptr) {
      failures +=
          std::string(failures.empty() ? "" : "; ") + candidates[i].name + ": " + reading.reason;
      continue;
    }
    if (kept == nullptr) {
      kept = &reading;
      keptLayout = &candidates[i];
    } else if (kept->bytes != reading.bytes || !SameMorphs(kept->morphs, reading.morphs)) {
      return Say("version " + std::to_string(version) + ": layouts \"" + keptLayout->name +
                 "\" and \"" + candidates[i].name + "\" both fit and disagree");
    }
  }
  if (kept == nullptr)
    return Say("version " + std::to_string(version) + ": no layout fits (" + failures + ")");

  context.layout = keptLayout->name;
  if (kind == Cal3DKind::Mesh) {
    // Counted blocks come from 2017 on, when the data had long been deltas.
    const bool absolute = !keptLayout->mesh.counted && HoldsAbsoluteTargets(kept->morphs);
    MakeDense(kept->morphs, absolute, context.morphTargets);
  }
  out.swap(kept->bytes);
  return nullptr;
}

}  // namespace

bool NeedsNewerTranslation(Cal3DKind kind, const uint8_t* bytes, size_t size) {
  if (size < 8 || std::memcmp(bytes, Magic(kind), 4) != 0) return false;
  int32_t version = 0;
  std::memcpy(&version, bytes + 4, 4);
  // Past the newest too, so that the refusal names the version.
  return IsLineage(version) || version > 1100;
}

const char* TranslateNewerCal3D(Cal3DKind kind, const uint8_t* bytes, size_t size,
                                NewerCal3DContext& context, std::vector<uint8_t>& out) {
  try {
    return Translate(kind, bytes, size, context, out);
  } catch (const std::bad_alloc&) {
    context.morphTargets.clear();
    return "out of memory";
  }
}

}  // namespace rigweave
