// Cal3D 0.11 trusts its files: a count, a string length or an index taken
// from a damaged file makes it read past its buffer, reserve gigabytes, throw
// through the module or index arrays out of range later. These functions walk
// a binary Cal3D file in memory the way Cal3D's loader reads it and say
// whether Cal3D can be given it safely, before Cal3D sees a byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rigweave {

// Cal3D computes bone states recursively, one call a level from each root
// down, on the loading thread's stack: measured on Debian's Cal3D 0.11, 32
// bytes a level for the core skeleton's walk and for the model instance's,
// so that a chain of 32,600 bones fills a 1 MiB thread stack. Exported
// skeletons are a few dozen levels deep; this many levels take 32 KiB.
constexpr int32_t kMaxBoneDepth = 1024;

struct Cal3DCheck {
  // Why the file must not reach Cal3D, in a few words; null when it may.
  const char* reason = nullptr;
  // The bones a skeleton defines (0 for the other kinds).
  int boneCount = 0;
  // The levels of a skeleton's deepest chain of bones, a root being level 1
  // (also when it is refused for being deeper than kMaxBoneDepth).
  int32_t depth = 0;

  bool Ok() const { return reason == nullptr; }
  // The reason with what it counted, for a diagnostic line: "bone hierarchy
  // too deep (1025 levels, at most 1024)". Empty when the file may be read.
  std::string Text() const;
};

enum class Cal3DKind { Skeleton, Animation, Mesh, Material };

// Cal3D hands a file whose name ends in the kind's XML extension (.xsf,
// .xaf, .xmf, .xrf, any case) to its XML reader.
bool NamesCal3DXmlFile(std::string_view name, Cal3DKind kind);

// Bone, track and influence ids must lie below `boneCount`, the bone count
// of the skeleton already loaded.
Cal3DCheck CheckSkeleton(const uint8_t* bytes, size_t size);
Cal3DCheck CheckAnimation(const uint8_t* bytes, size_t size, int boneCount);
Cal3DCheck CheckMesh(const uint8_t* bytes, size_t size, int boneCount);
Cal3DCheck CheckMaterial(const uint8_t* bytes, size_t size);
// The level-of-detail data of one sub-mesh (faces as 3 vertex ids each,
// already in range): null when every level Cal3D can be set to hands out
// valid faces, otherwise why not. Time linear in vertices and faces.
const char* CheckLevelsOfDetail(int32_t vertexCount, int32_t lodCount,
                                const std::vector<int32_t>& collapseIds,
                                const std::vector<int32_t>& faceCollapses,
                                const std::vector<int32_t>& faces);

Cal3DCheck CheckCal3DFile(Cal3DKind kind, const uint8_t* bytes, size_t size, int boneCount);

// Makes the bytes of the file `name` ready for Cal3D's binary reader: an XML
// file (as Cal3D tells them by name) is converted to the binary layout in
// place, then the binary file is checked. On failure `bytes` may hold
// anything.
Cal3DCheck PrepareCal3DFile(std::string_view name, Cal3DKind kind, std::vector<uint8_t>& bytes,
                            int boneCount);

// The first face of each sub-mesh of a checked binary mesh, {-1, -1, -1}
// for a sub-mesh without faces. Cal3D's binary reader turns every face of a
// sub-mesh round when the first one winds with its vertex normal; its XML
// reader does not, and a mesh that came as XML is put back to its own order.
std::vector<std::array<int32_t, 3>> FirstFaces(const uint8_t* bytes, size_t size);

}  // namespace rigweave
