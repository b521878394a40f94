// How a LoadModel fuzz input reads: the first byte picks one file of the
// sample character (below 128) or of its twin made of XML files (from 128
// on), the second a mutation, and the rest are the mutation's arguments. Shared by the fuzzer and
// the seed writer so that seeds keep meaning what they were written to mean.
#pragma once

#include <cal3d/cal3d.h>
#include <cal3d/coretrack.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/config.h"
#include "formats/whole_file.h"

namespace rwfuzz {

constexpr const char kModelName[] = "hero.cfg";
// The sample character with its skeleton, animations, gear mesh and
// materials as XML files, made by the fuzzer from the binary ones.
constexpr const char kXmlModelName[] = "hero-fuzz-xml.cfg";
constexpr uint8_t kXmlCharacter = 128;

enum class Mutation : uint8_t {
  Keep,       // the file as generated
  Truncate,   // u32 length, taken modulo the file size + 1
  FlipBits,   // (u32 offset, u8 bit) groups
  SwapBytes,  // (u32 offset, u32 offset) groups
  Replace,    // the rest of the input is the whole file
  Overwrite,  // u32 offset, then bytes written from there on, growing the file if need be
  Count
};

inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void AppendU32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// A file of the sample character, read as the module reads it.
inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
  return rigweave::ReadWholeFile(path, rigweave::kMaxCal3DFileBytes, bytes) ==
         rigweave::FileError::None;
}

// The character's files in a fixed order: its configuration, the files the
// configuration names, then the textures its materials name. Empty when the
// folder does not hold a loadable sample character.
inline std::vector<std::string> ModelFiles(const std::string& dir,
                                           const std::string& configName = kModelName) {
  std::vector<std::string> files{configName};
  std::vector<uint8_t> bytes;
  if (rigweave::ReadWholeFile(dir + "/" + configName, rigweave::kMaxConfigBytes, bytes) !=
      rigweave::FileError::None)
    return {};
  std::vector<std::string> materials;
  for (const rigweave::ConfigEntry& entry : rigweave::ParseConfig(bytes).entries) {
    if (entry.key == rigweave::ConfigKey::Other || entry.key == rigweave::ConfigKey::Scale)
      continue;
    files.push_back(entry.value);
    if (entry.key == rigweave::ConfigKey::Material) materials.push_back(entry.value);
  }
  for (const std::string& name : materials) {
    CalCoreMaterialPtr material = CalLoader::loadCoreMaterial(dir + "/" + name);
    if (!material) return {};
    for (int i = 0; i < material->getMapCount(); i++) {
      const std::string texture = material->getMapFilename(i);
      bool known = false;
      for (const std::string& file : files) known = known || file == texture;
      if (!known) files.push_back(texture);
    }
  }
  return files;
}

// Writes the XML twin of the sample character into `dir`, which holds the
// sample: its skeleton, animations, gear mesh and materials saved again as
// XML by Cal3D's own saver, and kXmlModelName naming them. The body mesh
// stays binary, so that a load takes milliseconds, not a second.
inline bool WriteXmlTwin(const std::string& dir) {
  std::vector<uint8_t> bytes;
  if (rigweave::ReadWholeFile(dir + "/" + kModelName, rigweave::kMaxConfigBytes, bytes) !=
      rigweave::FileError::None)
    return false;
  std::ostringstream twin;
  CalCoreSkeletonPtr skeleton;
  for (const std::string& line : rigweave::ParseConfig(bytes).lines) {
    const rigweave::ConfigLine parsed = rigweave::ParseConfigLine(line);
    const std::string value(parsed.value);
    const std::string path = dir + "/" + value;
    std::string xml = value.size() > 4 ? value.substr(0, value.size() - 3) : value;
    bool saved = true;
    switch (parsed.kind == rigweave::ConfigLine::Entry ? parsed.key : rigweave::ConfigKey::Other) {
      case rigweave::ConfigKey::Skeleton:
        skeleton = CalLoader::loadCoreSkeleton(path);
        xml += "xsf";
        saved = skeleton && CalSaver::saveCoreSkeleton(dir + "/" + xml, skeleton.get());
        break;
      case rigweave::ConfigKey::Animation: {
        CalCoreAnimationPtr animation = CalLoader::loadCoreAnimation(path, skeleton.get());
        xml += "xaf";
        saved = animation && CalSaver::saveCoreAnimation(dir + "/" + xml, animation.get());
        if (animation) {
          for (CalCoreTrack* track : animation->getListCoreTrack()) {
            track->destroy();
            delete track;
          }
          animation->getListCoreTrack().clear();
        }
        break;
      }
      case rigweave::ConfigKey::Mesh: {
        if (value.find("gear") == std::string::npos) {
          xml = value;
          break;
        }
        CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(path);
        xml += "xmf";
        saved = mesh && CalSaver::saveCoreMesh(dir + "/" + xml, mesh.get());
        break;
      }
      case rigweave::ConfigKey::Material: {
        CalCoreMaterialPtr material = CalLoader::loadCoreMaterial(path);
        xml += "xrf";
        saved = material && CalSaver::saveCoreMaterial(dir + "/" + xml, material.get());
        break;
      }
      case rigweave::ConfigKey::Scale:
      case rigweave::ConfigKey::Other:
        twin << line << "\n";
        continue;
    }
    if (!saved) return false;
    twin << std::string(parsed.keyText) << " = " << xml << "\n";
  }
  std::ofstream out(dir + "/" + kXmlModelName, std::ios::binary | std::ios::trunc);
  out << twin.str();
  return static_cast<bool>(out.flush());
}

}  // namespace rwfuzz
