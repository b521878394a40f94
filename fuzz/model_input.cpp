#include "fuzz/model_input.h"

#include <cal3d/cal3d.h>
#include <cal3d/coretrack.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "formats/config.h"
#include "formats/whole_file.h"

namespace rwfuzz {
namespace {

// Reads the mutation's arguments; missing bytes read as zero.
class Arguments {
 public:
  Arguments(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint8_t bytes[4] = {U8(), U8(), U8(), U8()};
    return ReadU32(bytes);
  }
  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void FlipBits(Arguments& args, std::string& bytes) {
  while (!args.Empty() && !bytes.empty()) {
    const size_t at = args.U32() % bytes.size();
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << (args.U8() % 8)));
  }
}

}  // namespace

std::string ChainSkeleton(int bones, bool xml) {
  std::string out;
  if (xml) {
    out = "<HEADER MAGIC=\"XSF\" VERSION=\"1100\" />\n<SKELETON NUMBONES=\"" +
          std::to_string(bones) + "\">\n";
    for (int i = 0; i < bones; i++) {
      out += "<BONE ID=\"" + std::to_string(i) + "\" NAME=\"b" + std::to_string(i) +
             "\" NUMCHILDS=\"" + (i + 1 < bones ? "1" : "0") +
             "\"><TRANSLATION>0 0 1</TRANSLATION><ROTATION>0 0 0 1</ROTATION>"
             "<LOCALTRANSLATION>0 0 -1</LOCALTRANSLATION><LOCALROTATION>0 0 0 1</LOCALROTATION>"
             "<PARENTID>" +
             std::to_string(i - 1) + "</PARENTID>";
      if (i + 1 < bones) out += "<CHILDID>" + std::to_string(i + 1) + "</CHILDID>";
      out += "</BONE>\n";
    }
    return out + "</SKELETON>\n";
  }
  const auto floats = [&out](std::initializer_list<float> values) {
    for (float v : values) out.append(reinterpret_cast<const char*>(&v), 4);
  };
  out.append("CSF\0", 4);
  AppendU32(out, 1100);
  AppendU32(out, static_cast<uint32_t>(bones));
  for (int i = 0; i < bones; i++) {
    const std::string name = "b" + std::to_string(i);
    AppendU32(out, static_cast<uint32_t>(name.size() + 1));
    out.append(name.c_str(), name.size() + 1);
    floats({0, 0, 1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1});
    AppendU32(out, static_cast<uint32_t>(i - 1));
    AppendU32(out, i + 1 < bones ? 1 : 0);
    if (i + 1 < bones) AppendU32(out, static_cast<uint32_t>(i + 1));
  }
  return out;
}

std::string Mutate(const std::string& original, const uint8_t* input, size_t size) {
  Arguments args(input, size);
  const uint8_t pick = args.U8();
  const auto mutation = pick >= kExtendedFirst && pick < static_cast<uint8_t>(Mutation::ExtendedEnd)
                            ? static_cast<Mutation>(pick)
                            : static_cast<Mutation>(pick % static_cast<uint8_t>(Mutation::Count));
  std::string bytes = original;
  switch (mutation) {
    case Mutation::Keep:
    case Mutation::Count:
    case Mutation::ExtendedEnd:
      break;
    case Mutation::Truncate:
      bytes.resize(args.U32() % (bytes.size() + 1));
      break;
    case Mutation::FlipBits:
      FlipBits(args, bytes);
      break;
    case Mutation::SwapBytes:
      while (!args.Empty() && !bytes.empty()) {
        const size_t a = args.U32() % bytes.size();
        const size_t b = args.U32() % bytes.size();
        std::swap(bytes[a], bytes[b]);
      }
      break;
    case Mutation::Replace:
      bytes = args.Rest();
      break;
    case Mutation::Overwrite: {
      const size_t at = args.U32() % (bytes.size() + 1);
      const std::string patch = args.Rest();
      if (at + patch.size() > bytes.size()) bytes.resize(at + patch.size());
      bytes.replace(at, patch.size(), patch);
      break;
    }
    case Mutation::Chain: {
      const int bones = static_cast<int>((args.U8() | args.U8() << 8) % 2048) + 1;
      bytes = ChainSkeleton(bones, bytes.compare(0, 4, std::string("CSF\0", 4)) != 0);
      FlipBits(args, bytes);
      break;
    }
    case Mutation::Repeat: {
      const size_t at = args.U32() % (bytes.size() + 1);
      const size_t length = std::min<size_t>(args.U8() % 64 + 1, bytes.size() - at);
      const size_t most = length == 0 ? 0 : (size_t{4} << 20) / length;
      const size_t count = std::min<size_t>(args.U32(), most);
      const std::string slice = bytes.substr(at, length);
      std::string repeated;
      repeated.reserve(slice.size() * count);
      for (size_t i = 0; i < count; i++) repeated += slice;
      bytes.insert(at, repeated);
      break;
    }
  }
  return bytes;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  return rigweave::ReadWholeFile(path, rigweave::kMaxCal3DFileBytes, bytes) ==
         rigweave::FileError::None;
}

std::vector<std::string> ModelFiles(const std::string& dir, const std::string& configName) {
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

bool WriteXmlTwin(const std::string& dir) {
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
      case rigweave::ConfigKey::MorphAnimation:
      case rigweave::ConfigKey::BlendMesh:
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
