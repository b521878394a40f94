// What the programs (viewer, importer) read of a character's files besides
// what the module loads: the configuration's lines through the module's own
// line parser, animation names, and Cal3D files checked by the module's
// checks before Cal3D's loader sees them. Every read is of a regular file of
// bounded size, so that a FIFO, a device or a huge file is refused before a
// byte is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <cal3d/cal3d.h>

#include "model/cal3d_check.h"
#include "model/config.h"
#include "model/whole_file.h"

namespace rwtools {

// The module's own limits, so that the programs refuse what it refuses.
constexpr uint64_t kMaxConfigBytes = rigweave::kMaxConfigBytes;
constexpr uint64_t kMaxCal3DFileBytes = rigweave::kMaxCal3DFileBytes;

// rigweave::ReadWholeFile with the reason as a phrase in `error`: a whole
// regular file of at most `limit` bytes, opened without blocking.
bool ReadRegularFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes,
                     std::string& error);

struct ConfigEntry {
  int line = 0;  // from 1
  rigweave::ConfigKey key = rigweave::ConfigKey::Other;
  std::string keyText;
  std::string value;
};

struct ConfigFile {
  // The file's lines without their LF (a CR of CR LF stays), in order.
  std::vector<std::string> lines;
  // Every "key = value" line, in order.
  std::vector<ConfigEntry> entries;
  // The first line that has a key without '=' (the module refuses the file), or 0.
  int syntaxErrorLine = 0;

  // The values of every line of that key, in order.
  std::vector<std::string> Values(rigweave::ConfigKey key) const;
  // The names the module gives the configuration's animations, in order.
  std::vector<std::string> AnimationNames() const;
};

// Splits the bytes into lines and parses each as the module does.
ConfigFile ParseConfig(const std::vector<uint8_t>& bytes);
bool ReadConfig(const std::string& path, ConfigFile& config, std::string& error);

// An animation asked for by name: its module name (`paladin/paladin_walk`)
// or, when only one animation has it, the name without its folders
// (`paladin_walk`).
struct AnimationLookup {
  enum Result { Found, Unknown, Ambiguous };
  Result result = Unknown;
  std::string name;                 // the module's name when found
  std::vector<std::string> others;  // the names that share the base name when ambiguous
};
AnimationLookup FindAnimation(const std::vector<std::string>& names, const std::string& asked);
// "a, b, c", or "none" when empty.
std::string JoinNames(const std::vector<std::string>& names);

// Reads a Cal3D file, binary or XML (told apart by name, as Cal3D does), and
// prepares it as the module does (bone ids checked against `bones`, the bone
// count of the skeleton loaded before it), leaving binary bytes Cal3D's
// loader can be given in `bytes`. False, with the reason in
// `error`, when it cannot be read or must not reach Cal3D.
bool ReadCheckedCal3D(const std::string& path, rigweave::Cal3DKind kind, int bones,
                      std::vector<uint8_t>& bytes, std::string& error, int* boneCount = nullptr);

// Cal3D objects made from prepared bytes; null when Cal3D refuses them.
// `xml`: the mesh's file was XML (its faces keep their written winding).
CalCoreSkeletonPtr LoadSkeleton(std::vector<uint8_t>& bytes);
CalCoreMeshPtr LoadMesh(std::vector<uint8_t>& bytes, bool xml);
CalCoreMaterialPtr LoadMaterial(std::vector<uint8_t>& bytes);

// Whether a file name ends in a picture format's extension (.tga, .png,
// .jpg, .jpeg, .bmp, any case): a map the module cannot read as it is.
bool NamesPicture(const std::string& name);

}  // namespace rwtools
