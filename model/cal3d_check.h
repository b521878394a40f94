// Cal3D 0.11 trusts its files: a count, a string length or an index taken
// from a damaged file makes it read past its buffer, reserve gigabytes, throw
// through the module or index arrays out of range later. These functions walk
// a binary Cal3D file in memory the way Cal3D's loader reads it and say
// whether Cal3D can be given it safely, before Cal3D sees a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rigweave {

struct Cal3DCheck {
  // Why the file must not reach Cal3D, in a few words; null when it may.
  const char* reason = nullptr;
  // The bones a skeleton defines (0 for the other kinds).
  int boneCount = 0;

  bool Ok() const { return reason == nullptr; }
};

enum class Cal3DKind { Skeleton, Animation, Mesh, Material };

// Cal3D hands a file whose name ends in the kind's XML extension (.xsf,
// .xaf, .xmf, .xrf, any case) to its XML reader, which these checks do not
// cover; the module refuses such names.
bool NamesCal3DXmlFile(std::string_view name, Cal3DKind kind);

// Bone, track and influence ids must lie below `boneCount`, the bone count
// of the skeleton already loaded.
Cal3DCheck CheckSkeleton(const uint8_t* bytes, size_t size);
Cal3DCheck CheckAnimation(const uint8_t* bytes, size_t size, int boneCount);
Cal3DCheck CheckMesh(const uint8_t* bytes, size_t size, int boneCount);
Cal3DCheck CheckMaterial(const uint8_t* bytes, size_t size);

// Reads a whole file; false when it cannot be opened or read (a directory)
// or does not fit in memory.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace rigweave
