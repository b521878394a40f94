// rigweave-import [--force] CONFIG.cfg ROOT
//
// Takes a character as exporters leave it (a configuration anywhere, its
// Cal3D files binary or XML, image maps beside them, every name relative to
// the configuration's folder) and writes ROOT/models/NAME.cfg with
// ROOT/models/NAME/, ready for the module: every map a raw texture, every
// material naming its maps as the module resolves them (below models/), the
// configuration's values pointed into NAME/, every other line kept.
//
// Everything is written into a hidden folder beside the result first and
// moved into place at the end, so that a failure leaves nothing half-written.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/raw_texture.h"
#include "formats/cal3d_objects.h"
#include "tools/command_line.h"
#include "tools/model_files.h"
#include "tools/picture.h"

namespace {

namespace fs = std::filesystem;
using rigweave::Cal3DKind;
using rigweave::ConfigKey;

constexpr const char kProgram[] = "rigweave-import";

// Stops the import; main prints it as the one line of a failure.
struct Failure {
  std::string text;
};

void Warn(const std::string& text) {
  std::fprintf(stderr, "%s: warning: %s\n", kProgram, text.c_str());
}

std::string Quoted(const std::string& path) {
  if (path.find_first_of(" \t'\"$\\;&|<>()*?`") == std::string::npos) return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool IsCal3DKey(ConfigKey key) {
  return key == ConfigKey::Skeleton || key == ConfigKey::Animation || key == ConfigKey::Mesh ||
         key == ConfigKey::Material;
}

Cal3DKind KindOf(ConfigKey key) {
  switch (key) {
    case ConfigKey::Skeleton:
      return Cal3DKind::Skeleton;
    case ConfigKey::Animation:
      return Cal3DKind::Animation;
    case ConfigKey::Mesh:
      return Cal3DKind::Mesh;
    default:
      return Cal3DKind::Material;
  }
}

// Removes the folder it holds unless told the folder is finished.
class Staging {
 public:
  explicit Staging(fs::path path) : path_(std::move(path)) {}
  ~Staging() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  const fs::path& Path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

class Importer {
 public:
  Importer(std::string config, std::string root, bool force)
      : configPath_(std::move(config)), root_(std::move(root)), force_(force) {}

  void Run() {
    std::string error;
    rigweave::ConfigFile config;
    if (!rwtools::ReadConfig(configPath_, config, error))
      throw Failure{configPath_ + ": cannot be read (" + error + ")"};
    if (config.syntaxErrorLine != 0)
      throw Failure{configPath_ + " line " + std::to_string(config.syntaxErrorLine) +
                    ": a key without '=', which the module refuses"};
    source_ = fs::absolute(fs::path(configPath_)).parent_path();
    name_ = fs::path(configPath_).stem().string();
    if (name_.empty() || name_[0] == '.')
      throw Failure{configPath_ + ": the configuration's name must not start with '.'"};

    const fs::path models = fs::path(root_) / "models";
    const fs::path folder = models / name_, file = models / (name_ + ".cfg");
    std::error_code status;
    for (const fs::path& existing : {folder, file}) {
      if (fs::exists(fs::symlink_status(existing, status)) && !force_)
        throw Failure{existing.string() + " exists (--force replaces it)"};
    }
    // The input must survive a --force.
    if (Inside(source_, folder) || fs::equivalent(configPath_, file, status))
      throw Failure{"the output " + folder.string() + " would replace the input"};
    fs::create_directories(models, status);
    if (status) throw Failure{"cannot make " + models.string() + " (" + status.message() + ")"};

    const fs::path stagingPath = models / ("." + name_ + ".import-" + std::to_string(getpid()));
    fs::remove_all(stagingPath, status);
    if (!fs::create_directory(stagingPath, status))
      throw Failure{"cannot write into " + models.string() + " (" + status.message() + ")"};
    Staging staging(stagingPath);
    staging_ = stagingPath;

    std::map<int, std::string> newValues;  // by line number
    int bones = 0;
    for (const rigweave::ConfigEntry& entry : config.entries) {
      if (!IsCal3DKey(entry.key)) continue;
      newValues[entry.line] = name_ + "/" + ImportCal3D(entry, bones);
    }
    const std::vector<uint8_t> text = RewriteConfig(config, newValues);

    // Into place: the folder first, then the configuration that names it.
    if (force_) {
      fs::remove_all(folder, status);
      if (status)
        throw Failure{"cannot replace " + folder.string() + " (" + status.message() + ")"};
    }
    fs::rename(stagingPath, folder, status);
    if (status) throw Failure{"cannot make " + folder.string() + " (" + status.message() + ")"};
    staging.Release();
    Staging finished(folder);
    if (!rwtools::WriteFileWhole(file.string(), text, error))
      throw Failure{file.string() + ": " + error};
    finished.Release();

    for (const std::string& line : written_)
      std::printf("wrote %s\n", (folder / line).string().c_str());
    std::printf("wrote %s\n", file.string().c_str());
    std::printf("show it: rigweave-view --root %s %s\n",
                Quoted(fs::absolute(root_).lexically_normal().string()).c_str(),
                Quoted(name_ + ".cfg").c_str());
  }

 private:
  static bool Inside(const fs::path& path, const fs::path& folder) {
    std::error_code error;
    const fs::path a = fs::weakly_canonical(path, error);
    const fs::path b = fs::weakly_canonical(folder, error);
    auto rel = a.lexically_relative(b);
    return !rel.empty() && *rel.begin() != "..";
  }

  // Where a file named `value` (relative to the configuration's folder)
  // goes below NAME/: the same relative path when it stays inside that
  // folder, else its file name; never a name given to another file.
  std::string Destination(const std::string& value, const std::string& extension) {
    fs::path relative = fs::path(value).lexically_normal();
    if (relative.is_absolute() || relative.empty() || *relative.begin() == "..")
      relative = relative.filename();
    if (!extension.empty()) relative.replace_extension(extension);
    std::string candidate = relative.generic_string();
    for (int n = 2; !taken_.insert(candidate).second; n++) {
      fs::path numbered = relative;
      numbered.replace_filename(relative.stem().string() + "_" + std::to_string(n) +
                                relative.extension().string());
      candidate = numbered.generic_string();
    }
    return candidate;
  }

  fs::path Staged(const std::string& relative) {
    const fs::path path = staging_ / relative;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error)
      throw Failure{"cannot make " + path.parent_path().string() + " (" + error.message() + ")"};
    return path;
  }

  void WriteStaged(const std::string& relative, const std::vector<uint8_t>& bytes,
                   const std::string& note) {
    std::string error;
    const fs::path path = Staged(relative);
    if (!rwtools::WriteFileWhole(path.string(), bytes, error))
      throw Failure{path.string() + ": " + error};
    written_.push_back(relative + note);
  }

  // Checks one Cal3D file as the module will and writes it below NAME/;
  // answers its name there.
  std::string ImportCal3D(const rigweave::ConfigEntry& entry, int& bones) {
    const fs::path path = source_ / entry.value;
    const Cal3DKind kind = KindOf(entry.key);
    std::vector<uint8_t> bytes;
    std::string error;
    int boneCount = 0;
    if (!rwtools::ReadCheckedCal3D(path.string(), kind, bones, bytes, error, &boneCount))
      throw Failure{configPath_ + " line " + std::to_string(entry.line) + ": " + path.string() +
                    ": " + error};
    if (kind == Cal3DKind::Skeleton) bones = boneCount;
    if (kind == Cal3DKind::Material) return ImportMaterial(entry, bytes);

    // Skeletons, animations and meshes go as they are, XML or binary: the
    // module reads both.
    const auto known = copied_.find(path.string());
    if (known != copied_.end()) return known->second;
    if (!rwtools::ReadRegularFile(path.string(), rwtools::kMaxCal3DFileBytes, bytes, error))
      throw Failure{path.string() + ": cannot be read (" + error + ")"};
    const std::string destination = Destination(entry.value, "");
    WriteStaged(destination, bytes, "");
    copied_[path.string()] = destination;
    return destination;
  }

  // The material with every map it names converted and renamed, written in
  // Cal3D's binary layout whatever it came as.
  std::string ImportMaterial(const rigweave::ConfigEntry& entry, std::vector<uint8_t>& bytes) {
    CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
    if (!material)
      throw Failure{configPath_ + " line " + std::to_string(entry.line) + ": " +
                    (source_ / entry.value).string() + ": Cal3D cannot read it"};
    std::vector<CalCoreMaterial::Map>& maps = material->getVectorMap();
    for (CalCoreMaterial::Map& map : maps) map.strFilename = ImportMap(map.strFilename);
    const std::string destination = Destination(entry.value, ".crf");
    const fs::path path = Staged(destination);
    if (!CalSaver::saveCoreMaterial(path.string(), material.get()))
      throw Failure{path.string() + ": cannot be written"};
    written_.push_back(destination + " (material " + entry.value + ", " +
                       std::to_string(maps.size()) + (maps.size() == 1 ? " map)" : " maps)"));
    return destination;
  }

  // The name the material gives map `map` after the import: its raw texture
  // as the module resolves it (below models/), or the name as it was when
  // the map cannot be converted.
  std::string ImportMap(const std::string& map) {
    if (map.empty()) return map;
    const fs::path path = source_ / map;
    const auto known = maps_.find(path.string());
    if (known != maps_.end()) return known->second;
    std::vector<uint8_t> bytes;
    std::string error;
    std::string result = map;
    rwtools::DecodedPicture picture;
    rigweave::RawTextureHeader header;
    if (!rwtools::ReadRegularFile(path.string(), rwtools::kMaxPictureFileBytes, bytes, error)) {
      Warn("map " + map + ": " + path.string() + " cannot be read (" + error +
           "); the name is kept, and the module falls back for that map alone");
    } else if (!rwtools::NamesPicture(map) &&
               rigweave::ParseRawTextureHeader(bytes.data(), bytes.size(), header) ==
                   rigweave::RawTextureError::None &&
               bytes.size() - rigweave::kRawHeaderSize >= header.DataSize()) {
      // Already a raw texture: copied as it is.
      const std::string destination = Destination(map, "");
      WriteStaged(destination, bytes, " (map " + map + ", a raw texture already)");
      result = name_ + "/" + destination;
    } else if (!rwtools::DecodePicture(bytes.data(), bytes.size(), 0, picture, error)) {
      Warn("map " + map + ": " + error +
           "; the name is kept, and the module falls back for that map alone");
    } else {
      bytes.clear();
      bytes.shrink_to_fit();
      const std::string destination = Destination(map, ".raw");
      WriteStaged(destination, rwtools::RawTextureFile(picture, false),
                  " (map " + map + ": " + std::to_string(picture.width) + "x" +
                      std::to_string(picture.height) + ", depth " + std::to_string(picture.depth) +
                      ")");
      result = name_ + "/" + destination;
    }
    maps_[path.string()] = result;
    return result;
  }

  // The configuration's lines as they were, with the Cal3D files' values
  // replaced where they stood.
  static std::vector<uint8_t> RewriteConfig(const rigweave::ConfigFile& config,
                                            const std::map<int, std::string>& newValues) {
    std::string text;
    for (size_t i = 0; i < config.lines.size(); i++) {
      const std::string& line = config.lines[i];
      const auto replaced = newValues.find(static_cast<int>(i) + 1);
      if (replaced == newValues.end()) {
        text += line;
      } else {
        const rigweave::ConfigLine parsed = rigweave::ParseConfigLine(line);
        const size_t start = static_cast<size_t>(parsed.value.data() - line.data());
        text += line.substr(0, start) + replaced->second + line.substr(start + parsed.value.size());
      }
      text += '\n';
    }
    return {text.begin(), text.end()};
  }

  std::string configPath_, root_;
  bool force_;
  fs::path source_, staging_;
  std::string name_;
  std::set<std::string> taken_;                // names given below NAME/
  std::map<std::string, std::string> copied_;  // Cal3D file -> its name below NAME/
  std::map<std::string, std::string> maps_;    // map file -> the name materials give it
  std::vector<std::string> written_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Imports a character as exporters leave it: writes ROOT/models/NAME.cfg and "
      "ROOT/models/NAME/ with every map a raw texture, ready for the module.",
      kProgram);
  std::string config, root;
  bool force = false;
  app.add_option("CONFIG.cfg", config, "the character's configuration, anywhere")->required();
  app.add_option("ROOT", root, "the folder that gets models/NAME.cfg and models/NAME/")->required();
  app.add_flag("--force", force, "replace an earlier import of the same name");
  if (const int status = rwtools::ParseCommandLine(app, argc, argv, kProgram); status >= 0)
    return status;
  if (config.empty() || root.empty()) {
    std::fprintf(stderr, "%s: the configuration and ROOT need names (try --help)\n", kProgram);
    return 2;
  }
  try {
    Importer(config, root, force).Run();
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.text.c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return 1;
  }
  return 0;
}
