#include "render/skinning_job.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include "render/skinning_kernels.h"

namespace rigweave {

const char* SkinningIsaName(SkinningIsa isa) {
  switch (isa) {
    case SkinningIsa::Scalar:
      return "scalar";
    case SkinningIsa::Sse2:
      return "sse2";
    case SkinningIsa::Avx2:
      return "avx2";
    case SkinningIsa::Avx512:
      return "avx512";
  }
  return "?";
}

bool SkinningIsaSupported(SkinningIsa isa) {
  switch (isa) {
    case SkinningIsa::Scalar:
      return true;
#if defined(RIGWEAVE_SKINNING_X86)
    case SkinningIsa::Sse2:
      return true;  // part of x86-64 itself
    case SkinningIsa::Avx2: {
      // Also false when the system does not save the wide registers.
      static const bool avx2 = __builtin_cpu_supports("avx2");
      return avx2;
    }
    case SkinningIsa::Avx512: {
      // As above, the check includes the system saving the mask and the
      // 512-bit registers.
      static const bool avx512 =
          __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
          __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
      return avx512;
    }
#else
    case SkinningIsa::Sse2:
    case SkinningIsa::Avx2:
    case SkinningIsa::Avx512:
      return false;
#endif
  }
  return false;
}

SkinningIsa BestSkinningIsa() {
  static const SkinningIsa best = [] {
    // AVX-512 is left to the override: on the Xeon it was measured on, its
    // sixteen lanes spend more in gathering each lane's bone rows than they
    // save in arithmetic, and it ran at 0.92-0.96 of AVX2's speed.
    for (SkinningIsa isa : {SkinningIsa::Avx2, SkinningIsa::Sse2})
      if (SkinningIsaSupported(isa)) return isa;
    return SkinningIsa::Scalar;
  }();
  return best;
}

bool SkinningIsaFromName(const char* name, SkinningIsa& isa) {
  if (name == nullptr) return false;
  for (SkinningIsa known :
       {SkinningIsa::Scalar, SkinningIsa::Sse2, SkinningIsa::Avx2, SkinningIsa::Avx512}) {
    if (std::strcmp(name, SkinningIsaName(known)) == 0) {
      isa = known;
      return true;
    }
  }
  return false;
}

void SkinningLayout::Clear() {
  vertexCount_ = 0;
  bonesNeeded_ = 0;
  // Released, not only emptied: a cleared layout holds no memory.
  std::vector<Lanes>().swap(positions_);
  std::vector<Lanes>().swap(normals_);
  std::vector<uint8_t>().swap(counts_);
  std::vector<uint8_t>().swap(slots_);
  std::vector<Lanes>().swap(weights_);
  std::vector<BoneLanes>().swap(bones_);
  std::vector<uint8_t>().swap(oneBone_);
  std::vector<int32_t>().swap(order_);
}

size_t SkinningLayout::Bytes() const {
  return (positions_.capacity() + normals_.capacity()) * sizeof(Lanes) + counts_.capacity() +
         slots_.capacity() + weights_.capacity() * sizeof(Lanes) +
         bones_.capacity() * sizeof(BoneLanes) + oneBone_.capacity() +
         order_.capacity() * sizeof(int32_t);
}

namespace {

constexpr size_t kGroup = SkinningLayout::kGroup;
constexpr int32_t kNoVertex = INT32_MAX;

// One more than the highest bone id `vertices` name, into `needed`; false
// when a vertex has more than 255 influences or a bone id outside
// [0, boneCount) or above 65535.
bool CheckInfluences(Span<const SkinningVertex> vertices, int boneCount, int& needed) {
  constexpr size_t kMaxInfluences = 255, kMaxBoneId = 65535;
  needed = 0;
  for (size_t i = 0; i < vertices.size; i++) {
    const Span<const SkinningInfluence>& influences = vertices[i].influences;
    if (influences.size > kMaxInfluences) return false;
    for (size_t k = 0; k < influences.size; k++) {
      const int32_t bone = influences[k].bone;
      if (bone < 0 || bone >= boneCount || static_cast<size_t>(bone) > kMaxBoneId) return false;
      needed = std::max(needed, bone + 1);
    }
  }
  return true;
}

bool SameBones(const SkinningVertex& a, const SkinningVertex& b) {
  if (a.influences.size != b.influences.size) return false;
  for (size_t k = 0; k < a.influences.size; k++)
    if (a.influences[k].bone != b.influences[k].bone) return false;
  return true;
}

// Fewer influences first, then by bone list: vertices that share their
// bones end up in one group, whose slots then each name one bone.
bool BonesBefore(const SkinningVertex& a, const SkinningVertex& b) {
  if (a.influences.size != b.influences.size) return a.influences.size < b.influences.size;
  for (size_t k = 0; k < a.influences.size; k++)
    if (a.influences[k].bone != b.influences[k].bone)
      return a.influences[k].bone < b.influences[k].bone;
  return false;
}

using GroupLanes = std::array<int32_t, kGroup>;

// The groups of the window [first, end) of `vertices`, appended to `groups`
// in the order of their first vertex: each run of neighbours with the same
// bones gives whole groups of eight, and what is left over is sorted by
// bones and cut into groups, each with its lanes in vertex order.
void ArrangeWindow(Span<const SkinningVertex> vertices, size_t first, size_t end,
                   std::vector<int32_t>& pool, std::vector<GroupLanes>& groups) {
  const size_t firstGroup = groups.size();
  pool.clear();
  for (size_t i = first; i < end;) {
    size_t next = i + 1;
    while (next < end && SameBones(vertices[i], vertices[next])) next++;
    const size_t whole = i + (next - i) / kGroup * kGroup;
    for (; i < whole; i += kGroup) {
      groups.emplace_back();
      for (size_t lane = 0; lane < kGroup; lane++)
        groups.back()[lane] = static_cast<int32_t>(i + lane);
    }
    for (; i < next; i++) pool.push_back(static_cast<int32_t>(i));
  }
  std::stable_sort(pool.begin(), pool.end(), [&vertices](int32_t a, int32_t b) {
    return BonesBefore(vertices[static_cast<size_t>(a)], vertices[static_cast<size_t>(b)]);
  });
  for (size_t at = 0; at < pool.size(); at += kGroup) {
    const size_t lanes = std::min(kGroup, pool.size() - at);
    std::sort(pool.begin() + static_cast<ptrdiff_t>(at),
              pool.begin() + static_cast<ptrdiff_t>(at + lanes));
    groups.emplace_back();
    groups.back().fill(kNoVertex);
    std::copy_n(pool.begin() + static_cast<ptrdiff_t>(at), lanes, groups.back().begin());
  }
  std::sort(groups.begin() + static_cast<ptrdiff_t>(firstGroup), groups.end(),
            [](const GroupLanes& a, const GroupLanes& b) { return a[0] < b[0]; });
}

// Which vertex each lane of each group holds, window by window (see the
// header); INT32_MAX in the lanes of the last group that hold none.
std::vector<int32_t> Arrange(Span<const SkinningVertex> vertices) {
  const size_t window = SkinningLayout::kWindow;
  std::vector<int32_t> pool;
  std::vector<GroupLanes> groups;
  groups.reserve((vertices.size + kGroup - 1) / kGroup + vertices.size / window + 1);
  for (size_t first = 0; first < vertices.size; first += window)
    ArrangeWindow(vertices, first, std::min(vertices.size, first + window), pool, groups);
  std::vector<int32_t> order;
  order.reserve(groups.size() * kGroup);
  for (const GroupLanes& group : groups) order.insert(order.end(), group.begin(), group.end());
  return order;
}

}  // namespace

bool SkinningLayout::Build(Span<const SkinningVertex> vertices, int boneCount) {
  Clear();
  if (vertices.size > static_cast<size_t>(INT32_MAX - kGroup)) return false;
  int needed = 0;
  if (!CheckInfluences(vertices, boneCount, needed)) return false;
  try {
    order_ = Arrange(vertices);
    const size_t groups = order_.size() / kGroup;
    size_t slotTotal = 0;
    for (size_t g = 0; g < groups; g++) {
      size_t most = 0;
      for (size_t lane = 0; lane < kGroup; lane++) {
        const int32_t i = order_[g * kGroup + lane];
        if (i != kNoVertex) most = std::max(most, vertices[static_cast<size_t>(i)].influences.size);
      }
      slotTotal += most;
    }
    positions_.resize(groups * 3);
    normals_.resize(groups * 3);
    counts_.resize(groups * kGroup);
    slots_.resize(groups);
    weights_.resize(slotTotal);
    bones_.resize(slotTotal);
    oneBone_.resize(slotTotal);
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
  size_t slot = 0;
  for (size_t g = 0; g < slots_.size(); g++) slot += FillGroup(vertices, g, slot);
  vertexCount_ = static_cast<int>(vertices.size);
  bonesNeeded_ = needed;
  return true;
}

size_t SkinningLayout::FillGroup(Span<const SkinningVertex> vertices, size_t g, size_t slot) {
  size_t most = 0;
  for (size_t lane = 0; lane < kGroup; lane++) {
    const int32_t i = order_[g * kGroup + lane];
    if (i == kNoVertex) break;
    const SkinningVertex& vertex = vertices[static_cast<size_t>(i)];
    for (size_t c = 0; c < 3; c++) {
      positions_[g * 3 + c].v[lane] = vertex.position[c];
      normals_[g * 3 + c].v[lane] = vertex.normal[c];
    }
    counts_[g * kGroup + lane] = static_cast<uint8_t>(vertex.influences.size);
    most = std::max(most, vertex.influences.size);
    for (size_t k = 0; k < vertex.influences.size; k++) {
      weights_[slot + k].v[lane] = vertex.influences[k].weight;
      bones_[slot + k].v[lane] = static_cast<uint16_t>(vertex.influences[k].bone);
    }
  }
  // Unused lanes take the bone of the first vertex that uses the slot, so
  // that they never break up a slot of one bone.
  for (size_t k = 0; k < most; k++) {
    uint16_t* ids = bones_[slot + k].v;
    size_t user = 0;
    while (counts_[g * kGroup + user] <= k) user++;
    const uint16_t bone = ids[user];
    bool one = true;
    for (size_t lane = 0; lane < kGroup; lane++) {
      if (counts_[g * kGroup + lane] <= k) ids[lane] = bone;
      one = one && ids[lane] == bone;
    }
    oneBone_[slot + k] = one ? 1 : 0;
  }
  slots_[g] = static_cast<uint8_t>(most);
  return most;
}

bool SkinningJob::Validate() const {
  if (layout == nullptr || vertexCount < 0 || vertexCount > layout->VertexCount()) return false;
  if (bones.size < static_cast<size_t>(layout->BonesNeeded())) return false;
  if (layout->BonesNeeded() > 0 && bones.data == nullptr) return false;
  if (output.size < 3 * static_cast<size_t>(vertexCount)) return false;
  if (vertexCount > 0 && output.data == nullptr) return false;
  if (normalOutput.size > 0 && normalOutput.size < 3 * static_cast<size_t>(vertexCount))
    return false;
  if (normalOutput.size > 0 && normalOutput.data == nullptr) return false;
  if (colorOutput.size > 0 &&
      (normalOutput.size == 0 || colorOutput.size < static_cast<size_t>(vertexCount) ||
       colorOutput.data == nullptr || !lighting.Validate()))
    return false;
  return SkinningIsaSupported(isa);
}

namespace {

// The kernels' view of the job; `terms` keeps the lights' terms.
skinning::KernelArgs ArgsOf(const SkinningJob& job, LightTerms* terms) {
  const SkinningLayout& layout = *job.layout;
  skinning::KernelArgs args;
  args.positions = layout.Positions()->v;
  args.influenceCounts = layout.InfluenceCounts();
  args.slotCounts = layout.SlotCounts();
  args.weights = layout.Weights() != nullptr ? layout.Weights()->v : nullptr;
  args.bones = layout.Bones() != nullptr ? layout.Bones()->v : nullptr;
  args.oneBone = layout.OneBone();
  args.palette = job.bones.data != nullptr ? job.bones.data->rows[0] : nullptr;
  args.order = layout.Order();
  args.groupCount = layout.GroupCount();
  args.vertexCount = job.vertexCount;
  for (int c = 0; c < 3; c++) args.axisFactors[c] = job.axisFactors[c];
  args.scale = job.scale;
  args.turnSine = job.turnSine;
  args.turnCosine = job.turnCosine;
  args.output = job.output.data;
  args.normals = layout.Normals()->v;
  args.normalOutput = job.normalOutput.size > 0 ? job.normalOutput.data : nullptr;
  args.box = job.box;
  csColor base{0.0f, 0.0f, 0.0f};
  const bool colors = job.colorOutput.size > 0;
  args.lightCount = colors ? TermsOf(job.lighting, terms, base) : 0;
  args.lights = terms;
  args.base[0] = base.red;
  args.base[1] = base.green;
  args.base[2] = base.blue;
  args.colorOutput = colors ? &job.colorOutput.data->red : nullptr;
  return args;
}

}  // namespace

bool SkinningJob::Run() const {
  if (!Validate()) return false;
  if (vertexCount == 0) return true;
  static_assert(sizeof(SkinningBone) == 12 * sizeof(float), "the palette is 12 floats a bone");
  static_assert(sizeof(csVector3) == 3 * sizeof(float) && sizeof(csColor) == 3 * sizeof(float),
                "positions, normals and colours are packed triples");
  static_assert(sizeof(SkinningLayout::Lanes) == SkinningLayout::kGroup * sizeof(float),
                "a slot's weights are eight floats");
  LightTerms terms[LightSetting::kMaxLights];
  const skinning::KernelArgs args = ArgsOf(*this, terms);
  switch (isa) {
    case SkinningIsa::Scalar:
      skinning::RunScalar(args);
      break;
#if defined(RIGWEAVE_SKINNING_X86)
    case SkinningIsa::Sse2:
      skinning::RunSse2(args);
      break;
    case SkinningIsa::Avx2:
      skinning::RunAvx2(args);
      break;
    case SkinningIsa::Avx512:
      // Its kernel gives positions only; a job that asks for normals or the
      // box goes to the AVX2 kernel, which gives every output there is.
      if (args.normalOutput != nullptr || args.box != nullptr)
        skinning::RunAvx2(args);
      else
        skinning::RunAvx512(args);
      break;
#else
    default:
      return false;
#endif
  }
  // Only the AVX2 kernel lights as it goes; the others' output is lit now.
  const bool lit = isa == SkinningIsa::Avx2 || isa == SkinningIsa::Avx512;
  if (colorOutput.size == 0 || lit) return true;
  LightingJob light;
  const auto count = static_cast<size_t>(vertexCount);
  light.positions = {reinterpret_cast<const csVector3*>(output.data), count};
  light.normals = {reinterpret_cast<const csVector3*>(normalOutput.data), count};
  light.setting = lighting;
  light.output = {colorOutput.data, count};
  return light.Run();
}

namespace skinning {

namespace {

// Cal3D's normal of one vertex, unit length and turned; `lane` within its
// group, whose influences start at `slot`.
void ScalarNormal(const KernelArgs& a, int g, int lane, size_t slot, float* out) {
  constexpr int kGroup = SkinningLayout::kGroup;
  const float* rest = a.normals + 3 * kGroup * g;
  const float nx = rest[lane], ny = rest[kGroup + lane], nz = rest[2 * kGroup + lane];
  float x = 0.0f, y = 0.0f, z = 0.0f;
  const int count = a.influenceCounts[g * kGroup + lane];
  if (count == 0) {
    x = nx;
    y = ny;
    z = nz;
  }
  for (int k = 0; k < count; k++) {
    const size_t at = (slot + static_cast<size_t>(k)) * kGroup + static_cast<size_t>(lane);
    const float* bone = a.palette + 12 * static_cast<size_t>(a.bones[at]);
    const float weight = a.weights[at];
    x += (bone[0] * nx + bone[1] * ny + bone[2] * nz) * weight;
    y += (bone[4] * nx + bone[5] * ny + bone[6] * nz) * weight;
    z += (bone[8] * nx + bone[9] * ny + bone[10] * nz) * weight;
  }
  x = x / a.axisFactors[0];
  y = y / a.axisFactors[1];
  z = z / a.axisFactors[2];
  const float length = 1.0f / std::sqrt(x * x + y * y + z * z);
  x = x * length;
  y = y * length;
  z = z * length;
  out[0] = x;
  out[1] = a.turnCosine * y - a.turnSine * z;
  out[2] = a.turnSine * y + a.turnCosine * z;
}

}  // namespace

void WidenBox(float* box, const float* positions, int count) {
  for (int i = 0; i < count; i++) {
    for (int c = 0; c < 3; c++) {
      const float v = positions[3 * i + c];
      box[c] = std::min(box[c], v);
      box[3 + c] = std::max(box[3 + c], v);
    }
  }
}

void ScatterPacked(const float* packed, const int32_t* order, int lanes, int limit, float* out,
                   float* box) {
  for (int lane = 0; lane < lanes && order[lane] < limit; lane++) {
    float* to = out + 3 * static_cast<size_t>(order[lane]);
    std::memcpy(to, packed + 3 * lane, 3 * sizeof(float));
    if (box != nullptr) WidenBox(box, to, 1);
  }
}

// Cal3D's loop, one vertex at a time; what each lane of the wider kernels does.
void RunScalar(const KernelArgs& a) {
  constexpr int kGroup = SkinningLayout::kGroup;
  size_t slot = 0;
  for (int g = 0; g < a.groupCount && a.order[g * kGroup] < a.vertexCount; g++) {
    const float* position = a.positions + 3 * kGroup * g;
    for (int lane = 0; lane < kGroup; lane++) {
      const int i = a.order[g * kGroup + lane];
      if (i >= a.vertexCount) break;
      const float px = position[lane], py = position[kGroup + lane],
                  pz = position[2 * kGroup + lane];
      float x = 0.0f, y = 0.0f, z = 0.0f;
      const int count = a.influenceCounts[g * kGroup + lane];
      if (count == 0) {
        x = px;
        y = py;
        z = pz;
      }
      for (int k = 0; k < count; k++) {
        const size_t at = (slot + static_cast<size_t>(k)) * kGroup + static_cast<size_t>(lane);
        const float* bone = a.palette + 12 * static_cast<size_t>(a.bones[at]);
        const float weight = a.weights[at];
        const float vx = bone[0] * px + bone[1] * py + bone[2] * pz + bone[3];
        const float vy = bone[4] * px + bone[5] * py + bone[6] * pz + bone[7];
        const float vz = bone[8] * px + bone[9] * py + bone[10] * pz + bone[11];
        x += weight * vx;
        y += weight * vy;
        z += weight * vz;
      }
      x = x * a.axisFactors[0];
      y = y * a.axisFactors[1];
      z = z * a.axisFactors[2];
      const float sx = x * a.scale, sy = y * a.scale, sz = z * a.scale;
      float* out = a.output + 3 * static_cast<size_t>(i);
      out[0] = sx;
      out[1] = a.turnCosine * sy - a.turnSine * sz;
      out[2] = a.turnSine * sy + a.turnCosine * sz;
      if (a.normalOutput != nullptr)
        ScalarNormal(a, g, lane, slot, a.normalOutput + 3 * static_cast<size_t>(i));
      if (a.box != nullptr) WidenBox(a.box, out, 1);
    }
    slot += a.slotCounts[g];
  }
}

}  // namespace skinning
}  // namespace rigweave
