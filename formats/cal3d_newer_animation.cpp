// Animations of the newer Cal3D files: plain, bit-packed and min/scale
// compressed tracks, decoded into 0.11's plain keyframes.
#include <cmath>

#include "formats/cal3d_newer_parts.h"

namespace rigweave {
namespace newer_cal3d {
namespace {

// Reads `count` bits from `bits`, a little-endian bit stream, from bit `at`.
uint32_t Bits(const uint8_t* bits, int& at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; i++, at++)
    value |= static_cast<uint32_t>((bits[at >> 3] >> (at & 7)) & 1u) << i;
  return value;
}

void DecodeTranslation(const uint8_t* block, bool highRange, float t[3]) {
  const int magnitudeBits = highRange ? 25 : 9;
  const double scale = highRange ? 8388608.0 / 33554431.0 : 128.0 / 511.0;
  int at = 0;
  for (int axis = 0; axis < 3; axis++) {
    const uint32_t magnitude = Bits(block, at, magnitudeBits);
    const bool negative = Bits(block, at, 1) != 0;
    const double value = magnitude * scale;
    t[axis] = static_cast<float>(negative ? -value : value);
  }
}

// The 48-bit quaternion and time block: returns the time in steps of 1/30 s.
uint32_t DecodeRotation(const uint8_t* block, float q[4]) {
  int at = 0;
  const uint32_t largest = Bits(block, at, 2);
  double sum = 0;
  for (uint32_t i = 0; i < 4; i++) {
    if (i == largest) continue;
    const bool negative = Bits(block, at, 1) != 0;
    const double value = Bits(block, at, 11) / 2047.0;
    q[i] = static_cast<float>(negative ? -value : value);
    sum += value * value;
  }
  q[largest] = static_cast<float>(std::sqrt(1.0 - std::min(sum, 1.0)));
  return Bits(block, at, 10);
}

struct PackedTrack {
  int32_t bone;
  int32_t keyframeCount;
  bool translationRequired, highRange, translationDynamic;
};

const char* ReadPackedTrack(In& in, const AnimationLayout& layout, const std::vector<float>& rest,
                            Out& out, int32_t& written) {
  uint8_t header[4];
  if (!in.Raw(header, 4)) return "truncated track";
  PackedTrack track;
  track.bone = header[0] | (header[1] & 0x1F) << 8;
  track.translationRequired = (header[1] & 0x80) != 0;
  track.highRange = (header[1] & 0x40) != 0;
  track.translationDynamic = (header[1] & 0x20) != 0;
  track.keyframeCount = header[2] | header[3] << 8;
  if (static_cast<size_t>(track.bone) >= rest.size() / 3) return "track bone out of range";
  if (!in.Fits(track.keyframeCount, 6)) return "keyframe count out of range";
  // 0.11 refuses tracks without keyframes; they animate nothing.
  if (track.keyframeCount == 0) return nullptr;
  out.Int(track.bone);
  out.Int(track.keyframeCount);
  written++;
  float translation[3] = {rest[3 * static_cast<size_t>(track.bone)],
                          rest[3 * static_cast<size_t>(track.bone) + 1],
                          rest[3 * static_cast<size_t>(track.bone) + 2]};
  for (int32_t k = 0; k < track.keyframeCount; k++) {
    const bool block = track.translationRequired && (k == 0 || track.translationDynamic);
    if (block) {
      uint8_t bits[10];
      if (!in.Raw(bits, track.highRange ? 10 : 4)) return "truncated keyframe";
      DecodeTranslation(bits, track.highRange, translation);
    }
    uint8_t bits[6];
    float rotation[4];
    if (!in.Raw(bits, 6)) return "truncated keyframe";
    const uint32_t steps = DecodeRotation(bits, rotation);
    // The lineage's 916 and 917 follow each keyframe with its values unpacked.
    if (layout.rawFloats == 917 && block && !in.Floats(translation, 3)) return "truncated keyframe";
    if (layout.rawFloats != 0 && !in.Floats(rotation, 4)) return "truncated keyframe";
    out.Float(static_cast<float>(steps / 30.0));
    out.Floats(translation, 3);
    out.Floats(rotation, 4);
  }
  return nullptr;
}

// Cal3D's CalQuaternion::decompress.
void DecodeShortQuaternion(int16_t s0, int16_t s1, int16_t s2, float q[4]) {
  const int select = ((s1 & 1) << 1) | (s2 & 1);
  s1 = static_cast<int16_t>(s1 & ~1);
  s2 = static_cast<int16_t>(s2 & ~1);
  const float k = 1.0f / (32767.0f * 1.41421f);
  const float a = s0 * k, b = s1 * k, c = s2 * k;
  float derived = 1.0f - (a * a + b * b + c * c);
  if (derived > 1.19e-7f) derived = std::sqrt(derived);
  // select 3 leaves out w, 2 z, 1 y, 0 x: the others are stored in order.
  const int missing = select;
  const float stored[3] = {a, b, c};
  for (int i = 0, s = 0; i < 4; i++) q[i] = i == missing ? derived : stored[s++];
}

const char* ReadMinScaleTrack(In& in, float duration, int32_t boneCount, Out& out,
                              int32_t& written) {
  int32_t bone = 0, keyframeCount = 0;
  float minimum[3], step[3];
  if (!in.Int(bone) || !in.Int(keyframeCount) || !in.Floats(minimum, 3) || !in.Floats(step, 3))
    return "truncated track";
  if (bone < 0 || bone >= boneCount) return "track bone out of range";
  if (!in.Fits(keyframeCount, 12)) return "keyframe count out of range";
  if (keyframeCount == 0) return nullptr;
  out.Int(bone);
  out.Int(keyframeCount);
  written++;
  for (int32_t k = 0; k < keyframeCount; k++) {
    uint16_t time = 0;
    uint32_t packed = 0;
    int16_t s[3];
    in.Raw(&time, 2);
    in.Raw(&packed, 4);
    in.Raw(s, 6);
    const float translation[3] = {static_cast<float>(packed & 0x7FF) * step[0] + minimum[0],
                                  static_cast<float>((packed >> 11) & 0x7FF) * step[1] + minimum[1],
                                  static_cast<float>(packed >> 22) * step[2] + minimum[2]};
    float rotation[4];
    DecodeShortQuaternion(s[0], s[1], s[2], rotation);
    out.Float(time / 65535.0f * duration);
    out.Floats(translation, 3);
    out.Floats(rotation, 4);
  }
  return nullptr;
}

}  // namespace

const char* ReadAnimation(In& in, const AnimationLayout& layout, const std::vector<float>& rest,
                          Out& out) {
  const int32_t boneCount = static_cast<int32_t>(rest.size() / 3);
  int32_t compression = 0, trackCount = 0, flags = 0;
  float duration = 0;
  if (layout.compressionFlag && !in.Int(compression)) return "truncated header";
  if (!in.Float(duration) || !in.Int(trackCount)) return "truncated header";
  if (layout.flags && !in.Int(flags)) return "truncated header";
  if (!(duration > 0) || !std::isfinite(duration)) return "duration not a finite positive number";
  if (trackCount <= 0) return "no tracks";
  TrackForm form = layout.form;
  if (form == TrackForm::ByCompressionFlag)
    form = compression != 0 ? TrackForm::Packed : TrackForm::Plain;
  if (form == TrackForm::ByFlagsBit0)
    form = (flags & 1) ? TrackForm::ByFlagsBit0 : TrackForm::Plain;
  const size_t trackMin = form == TrackForm::Plain ? 8 + 32 : form == TrackForm::Packed ? 4 : 32;
  if (!in.Fits(trackCount, trackMin)) return "track count out of range";
  out.Header("CAF\0");
  out.Float(duration);
  const size_t countAt = out.Size();
  out.Int(0);
  int32_t written = 0;
  for (int32_t track = 0; track < trackCount; track++) {
    const char* bad = nullptr;
    if (form == TrackForm::Packed) {
      bad = ReadPackedTrack(in, layout, rest, out, written);
    } else if (form == TrackForm::ByFlagsBit0) {
      bad = ReadMinScaleTrack(in, duration, boneCount, out, written);
    } else {
      int32_t bone = 0, keyframeCount = 0;
      if (!in.Int(bone) || !in.Int(keyframeCount)) return "truncated track";
      if (bone < 0 || bone >= boneCount) return "track bone out of range";
      if (keyframeCount <= 0 || !in.Fits(keyframeCount, 32)) return "keyframe count out of range";
      out.Int(bone);
      out.Int(keyframeCount);
      written++;
      for (int32_t k = 0; k < keyframeCount; k++) {
        float keyframe[8];
        in.Floats(keyframe, 8);
        out.Floats(keyframe, 8);
      }
    }
    if (bad) return bad;
  }
  if (written == 0) return "no track with keyframes";
  out.PatchInt(countAt, written);
  return nullptr;
}

}  // namespace newer_cal3d
}  // namespace rigweave
