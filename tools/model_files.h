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

#include "formats/cal3d_check.h"
#include "formats/config.h"
#include "formats/whole_file.h"

namespace rwtools {

// The module's own limits, so that the programs refuse what it refuses.
constexpr uint64_t kMaxConfigBytes = rigweave::kMaxConfigBytes;
constexpr uint64_t kMaxCal3DFileBytes = rigweave::kMaxCal3DFileBytes;

// rigweave::ReadWholeFile with the reason as a phrase in `error`: a whole
// regular file of at most `limit` bytes, opened without blocking.
bool ReadRegularFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes,
                     std::string& error);

// Reads a configuration whole, as the module does, and parses it with the
// module's own parser.
bool ReadConfig(const std::string& path, rigweave::ConfigFile& config, std::string& error);

// An animation asked for by name: its module name (`paladin/paladin_walk`),
// or, when only one animation has it, the name without its folders
// (`paladin_walk`), or else, when only one base name ends in `_` and the
// name, the natural name (`walk`).
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
// loader can be given in `bytes` (formats/cal3d_objects.h reads them). False,
// with the reason in `error`, when it cannot be read or must not reach Cal3D.
bool ReadCheckedCal3D(const std::string& path, rigweave::Cal3DKind kind, int bones,
                      std::vector<uint8_t>& bytes, std::string& error, int* boneCount = nullptr);

// Whether a file name ends in a picture format's extension (.tga, .png,
// .jpg, .jpeg, .bmp, any case): a map the module cannot read as it is.
bool NamesPicture(const std::string& name);

}  // namespace rwtools
