#include "tools/map_report.h"

#include <cstdint>
#include <filesystem>

#include "formats/cal3d_objects.h"
#include "formats/raw_texture.h"
#include "tools/model_files.h"
#include "tools/picture.h"

namespace rwtools {
namespace {

namespace fs = std::filesystem;

std::string Normal(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

// A picture beside a missing raw texture, under the same name, converts to it.
std::string RawFix(const std::string& path) {
  const std::string stem = path.substr(0, path.size() - fs::path(path).extension().string().size());
  for (const char* extension :
       {".png", ".tga", ".jpg", ".jpeg", ".bmp", ".PNG", ".TGA", ".JPG", ".JPEG", ".BMP"}) {
    std::error_code error;
    if (fs::is_regular_file(stem + extension, error))
      return "rigweave-raw " + ShellQuoted(Normal(stem + extension)) + " " +
             ShellQuoted(Normal(path));
  }
  return "";
}

}  // namespace

std::vector<MaterialMaps> ReadMaterialMaps(const std::string& folder,
                                           const rigweave::ConfigFile& config) {
  std::vector<MaterialMaps> materials;
  for (const std::string& file : config.Values(rigweave::ConfigKey::Material)) {
    MaterialMaps entry;
    entry.file = file;
    std::vector<uint8_t> bytes;
    if (ReadCheckedCal3D((fs::path(folder) / file).string(), rigweave::Cal3DKind::Material, 0,
                         bytes, entry.problem)) {
      CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
      if (!material) {
        entry.problem = "Cal3D cannot read it";
      } else {
        for (int j = 0; j < material->getMapCount(); j++)
          entry.maps.push_back(material->getMapFilename(j));
      }
    }
    materials.push_back(entry);
  }
  return materials;
}

std::string MapProblem(const std::string& folder, const std::string& map,
                       const std::string& configPath, const std::string& importRoot,
                       std::string& fix) {
  const std::string path = (fs::path(folder) / map).string();
  std::vector<uint8_t> bytes;
  std::string reason;
  const bool readable = ReadRegularFile(path, kMaxPictureFileBytes, bytes, reason);
  fix.clear();
  if (NamesPicture(map)) {
    fix = "rigweave-import " + ShellQuoted(configPath) + " " + ShellQuoted(importRoot);
    return readable ? "a picture, not a raw texture" : "missing (" + reason + ")";
  }
  if (!readable) {
    fix = RawFix(path);
    return "cannot be read (" + reason + ")";
  }
  rigweave::RawTextureHeader header;
  const rigweave::RawTextureError error =
      rigweave::ParseRawTextureHeader(bytes.data(), bytes.size(), header);
  if (error != rigweave::RawTextureError::None)
    return std::string("not a raw texture: ") + rigweave::RawTextureErrorText(error);
  if (bytes.size() - rigweave::kRawHeaderSize < header.DataSize())
    return "not a raw texture: shorter than its header announces";
  return "not loaded by the module";
}

std::string ShellQuoted(const std::string& path) {
  if (path.find_first_of(" \t'\"$\\;&|<>()*?`") == std::string::npos) return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace rwtools
