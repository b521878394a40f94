// rigweave-import [--force] CONFIG.cfg ROOT
//
// Takes a character as exporters leave it (a configuration anywhere, its
// Cal3D files binary or XML, image maps beside them, every name relative to
// the configuration's folder) and writes ROOT/models/NAME.cfg with
// ROOT/models/NAME/, ready for the module: every map a raw texture, every
// material naming its maps as the module resolves them (below models/), the
// configuration's values pointed into NAME/, every other line kept.
//
// Everything is written into a hidden folder beside the result first, read
// back through the module's own checks, and only then moved into place, an
// earlier import being moved aside until the new one stands; a failure or a
// signal leaves what was there before, and the leftovers of a run that was
// killed outright are recognised (by their name and a process that no longer
// runs) and put right by the next.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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

// Signals that would end a run halfway. A thread of their own waits for
// them; the import runs holding `guard` and lets go of it only at points
// where its hidden folder holds nothing of the old import (or is gone), so
// the thread removes that folder whole and then lets the signal end the
// program as it would have.
class Interruption {
 public:
  // Never destroyed: the waiting thread may still hold it while main returns.
  static Interruption& Get() {
    static Interruption* instance = new Interruption;
    return *instance;
  }

  // Before any other thread exists: the signals are blocked in every thread
  // but the waiting one.
  void Start() {
    sigemptyset(&signals_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, signal);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    guard_.lock();
    std::thread([this] { Wait(); }).detach();
  }

  // Where the import can stop: nothing is half-moved.
  void Checkpoint() {
    if (!stopping_.load()) return;
    guard_.unlock();
    for (;;) pause();
  }

  void SetStaging(const fs::path& path) {
    std::lock_guard<std::mutex> lock(names_);
    staging_ = path;
  }

  // The import is over, one way or the other: a signal now has nothing to remove.
  void Finished() {
    SetStaging({});
    guard_.unlock();
  }

 private:
  void Wait() {
    int signal = 0;
    if (sigwait(&signals_, &signal) != 0) return;
    stopping_.store(true);
    guard_.lock();
    fs::path staging;
    {
      std::lock_guard<std::mutex> lock(names_);
      staging = staging_;
    }
    // Empty once the import is over: then it stands whole, or failed and said so.
    if (!staging.empty()) {
      std::error_code ignored;
      fs::remove_all(staging, ignored);
      std::fprintf(stderr, "%s: stopped by signal %d; nothing was changed\n", kProgram, signal);
    }
    std::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals_, nullptr);
    raise(signal);
    std::_Exit(128 + signal);
  }

  sigset_t signals_{};
  std::mutex guard_, names_;
  std::atomic<bool> stopping_{false};
  fs::path staging_;
};

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
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

// A hidden folder ".NAME.import-PID" of a run whose process has gone: the
// name it imported, or empty when the folder is not one or its run may still
// be going (a process of another user answers EPERM: it runs).
std::string LeftoverOf(const std::string& entry) {
  const std::string marker = ".import-";
  const size_t at = entry.rfind(marker);
  if (entry.size() < 2 || entry[0] != '.' || at == std::string::npos || at < 2) return {};
  const std::string digits = entry.substr(at + marker.size());
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return {};
  const pid_t pid = static_cast<pid_t>(std::stol(digits));
  if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) return {};
  return entry.substr(1, at - 1);
}

// Puts right what a killed run left in `models`: a replacement that had not
// reached its configuration is undone (the earlier import moved back), one
// that had is finished; the hidden folder goes either way. The layout is the
// one Commit() below makes: new/ and new.cfg, old/ and old.cfg.
void RecoverLeftovers(const fs::path& models) {
  std::error_code error;
  std::vector<std::pair<fs::path, std::string>> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(models, error)) {
    const std::string name = LeftoverOf(entry.path().filename().string());
    if (!name.empty() && entry.is_directory(error) && !entry.is_symlink(error))
      found.emplace_back(entry.path(), name);
  }
  for (const auto& [staging, name] : found) {
    const fs::path folder = models / name, file = models / (name + ".cfg");
    if (Exists(staging / "new.cfg")) {
      // The new configuration never reached its place: back to the old import.
      if (!Exists(staging / "new") && Exists(folder)) fs::remove_all(folder, error);
      if (Exists(staging / "old") && !Exists(folder)) fs::rename(staging / "old", folder, error);
      if (Exists(staging / "old.cfg") && !Exists(file))
        fs::rename(staging / "old.cfg", file, error);
    }
    fs::remove_all(staging, error);
    if (!error) Warn("removed what an interrupted import of " + name + " left behind");
  }
}

// What the configuration keeps as a value: no line break or other control
// character (it would end the line or make another), no blank at its start
// (the parser drops it).
bool FitsAValue(const std::string& text) {
  if (text.empty() || text[0] == ' ' || text[0] == '\t') return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

// A name as one line: control characters as \ooo.
std::string Printable(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\%03o", c);
      shown += escaped;
    }
  }
  return shown;
}

// A file's identity, so that one file named in several spellings is read and
// converted once.
std::string IdentityOf(const fs::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return "path:" + path.lexically_normal().string();
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

class Importer {
 public:
  Importer(std::string config, std::string root, bool force)
      : configPath_(std::move(config)), root_(std::move(root)), force_(force) {}

  void Run() {
    const rigweave::ConfigFile config = ReadSource();
    const fs::path models = fs::path(root_) / "models";
    const fs::path folder = models / name_, file = models / (name_ + ".cfg");
    std::error_code status;
    if (fs::is_directory(models, status)) RecoverLeftovers(models);
    for (const fs::path& existing : {folder, file}) {
      if (Exists(existing) && !force_)
        throw Failure{existing.string() + " exists (--force replaces it)"};
    }
    // The input must survive a --force.
    if (Inside(source_, folder) || fs::equivalent(configPath_, file, status))
      throw Failure{"the output " + folder.string() + " would replace the input"};
    fs::create_directories(models, status);
    if (status) throw Failure{"cannot make " + models.string() + " (" + status.message() + ")"};

    const fs::path stagingPath = models / ("." + name_ + ".import-" + std::to_string(getpid()));
    fs::remove_all(stagingPath, status);
    Interruption::Get().SetStaging(stagingPath);
    // Made here and now, never one that was there before.
    if (mkdir(stagingPath.c_str(), 0777) != 0 || mkdir((stagingPath / "new").c_str(), 0777) != 0)
      throw Failure{"cannot write into " + models.string() + " (" + std::strerror(errno) + ")"};
    Staging staging(stagingPath);
    staging_ = stagingPath / "new";

    std::string error;
    std::map<int, std::string> newValues;  // by line number
    int bones = 0;
    for (const rigweave::ConfigEntry& entry : config.entries) {
      if (!IsCal3DKey(entry.key)) continue;
      Interruption::Get().Checkpoint();
      newValues[entry.line] = name_ + "/" + ImportCal3D(entry, bones);
    }
    CheckLoadable(config, true);
    const std::vector<uint8_t> text = RewriteConfig(config, newValues);
    if (!rwtools::WriteFileWhole((stagingPath / "new.cfg").string(), text, error))
      throw Failure{file.string() + ": " + error};
    Interruption::Get().Checkpoint();
    Verify(stagingPath, config, newValues);
    Interruption::Get().Checkpoint();
    Commit(stagingPath, folder, file, staging);
    // The earlier import, if any, is all that is left in the hidden folder.
    staging.Release();
    fs::remove_all(stagingPath, status);

    for (const std::string& line : written_)
      std::printf("wrote %s\n", (folder / line).string().c_str());
    std::printf("wrote %s\n", file.string().c_str());
    std::printf("show it: rigweave-view --root %s %s --out %s\n",
                Quoted(fs::absolute(root_).lexically_normal().string()).c_str(),
                Quoted(name_ + ".cfg").c_str(), Quoted(name_ + "-pictures").c_str());
  }

 private:
  // The configuration to import, refused when the module could not load
  // it from its lines alone or its name cannot be a configuration's value.
  rigweave::ConfigFile ReadSource() {
    name_ = fs::path(configPath_).stem().string();
    if (name_.empty() || name_[0] == '.')
      throw Failure{Printable(configPath_) + ": the configuration's name must not start with '.'"};
    if (!FitsAValue(name_))
      throw Failure{Printable(configPath_) +
                    ": the configuration's name holds a line break, a control character or a "
                    "leading blank, which no configuration line can name"};
    std::string error;
    rigweave::ConfigFile config;
    if (!rwtools::ReadConfig(configPath_, config, error))
      throw Failure{configPath_ + ": cannot be read (" + error + ")"};
    if (config.syntaxErrorLine != 0)
      throw Failure{configPath_ + " line " + std::to_string(config.syntaxErrorLine) +
                    ": a key without '=', which the module refuses"};
    CheckLoadable(config, false);
    source_ = fs::absolute(fs::path(configPath_)).parent_path();
    return config;
  }

  static bool Inside(const fs::path& path, const fs::path& folder) {
    std::error_code error;
    const fs::path a = fs::weakly_canonical(path, error);
    const fs::path b = fs::weakly_canonical(folder, error);
    auto rel = a.lexically_relative(b);
    return !rel.empty() && *rel.begin() != "..";
  }

  // What the module needs of a configuration's lines: a skeleton before
  // every other Cal3D file, a mesh to draw, and a scale it takes. The lines
  // are told first, as the module tells them; a missing skeleton or mesh
  // once every file named has been found sound.
  void CheckLoadable(const rigweave::ConfigFile& config, bool whole) {
    bool skeleton = false, mesh = false;
    for (const rigweave::ConfigEntry& entry : config.entries) {
      const std::string where = configPath_ + " line " + std::to_string(entry.line) + ": ";
      if (entry.key == ConfigKey::Scale) {
        const float scale = rigweave::ReadScale(entry.value).scale;
        if (!(scale > 0) || !std::isfinite(scale))
          throw Failure{where + "the scale is not a finite positive number"};
      }
      if (!IsCal3DKey(entry.key)) continue;
      if (entry.key == ConfigKey::Skeleton) skeleton = true;
      if (!skeleton)
        throw Failure{where + "a " + entry.keyText +
                      " before the skeleton, which the module refuses"};
      if (entry.key == ConfigKey::Mesh) mesh = true;
    }
    if (!whole) return;
    if (!skeleton) throw Failure{configPath_ + ": no skeleton line; the module cannot load it"};
    if (!mesh) throw Failure{configPath_ + ": no mesh line; the module cannot load it"};
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

  // Where a file written aside as `relative` is to stand: what messages name.
  std::string Final(const std::string& relative) const {
    return (fs::path(root_) / "models" / name_ / relative).string();
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
      throw Failure{Final(relative) + ": " + error};
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
    if (kind == Cal3DKind::Skeleton) {
      if (boneCount < bones)
        throw Failure{configPath_ + " line " + std::to_string(entry.line) + ": " + path.string() +
                      ": fewer bones than the skeleton it replaces"};
      bones = boneCount;
    }
    if (kind == Cal3DKind::Material) return ImportMaterial(entry, bytes);

    // Skeletons, animations and meshes go as they are, XML or binary: the
    // module reads both.
    const std::string identity = IdentityOf(path);
    const auto known = copied_.find(identity);
    if (known != copied_.end()) return known->second;
    if (!rwtools::ReadRegularFile(path.string(), rwtools::kMaxCal3DFileBytes, bytes, error))
      throw Failure{path.string() + ": cannot be read (" + error + ")"};
    const std::string destination = Destination(entry.value, "");
    WriteStaged(destination, bytes, "");
    copied_[identity] = destination;
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
    std::vector<std::string> names;
    for (CalCoreMaterial::Map& map : maps) {
      Interruption::Get().Checkpoint();
      map.strFilename = ImportMap(map.strFilename);
      names.push_back(map.strFilename);
    }
    const std::string destination = Destination(entry.value, ".crf");
    const fs::path path = Staged(destination);
    // Cal3D's saver does not check its writes: the file is read back below.
    if (!CalSaver::saveCoreMaterial(path.string(), material.get()))
      throw Failure{Final(destination) + ": cannot be written"};
    materials_[destination] = names;
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
    const std::string identity = IdentityOf(path);
    const auto known = maps_.find(identity);
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
      // Already a raw texture: its header and rows, as they are. Bytes after
      // the rows mean nothing to the module, which refuses a file with too
      // many of them.
      const size_t whole = rigweave::kRawHeaderSize + header.DataSize();
      const std::string dropped =
          bytes.size() > whole
              ? "; " + std::to_string(bytes.size() - whole) + " bytes after its rows left out"
              : "";
      bytes.resize(whole);
      const std::string destination = Destination(map, "");
      WriteStaged(destination, bytes, " (map " + map + ", a raw texture already" + dropped + ")");
      textures_.insert(destination);
      result = name_ + "/" + destination;
    } else if (!rwtools::DecodePicture(bytes.data(), bytes.size(), 0, picture, error)) {
      // Exporters add second maps (bump maps as .dds) that no decoder here
      // reads: copied beside the raw textures, they are still there for
      // whatever reads them, and the module finds them where the material
      // says (and falls back for them alone) instead of missing them.
      Warn("map " + map + ": " + error +
           "; copied as it is, and the module falls back for that map alone");
      const std::string destination = Destination(map, "");
      WriteStaged(destination, bytes, " (map " + map + ", copied as it is)");
      result = name_ + "/" + destination;
    } else {
      bytes.clear();
      bytes.shrink_to_fit();
      const std::string destination = Destination(map, ".raw");
      WriteStaged(destination, rwtools::RawTextureFile(picture, false),
                  " (map " + map + ": " + std::to_string(picture.width) + "x" +
                      std::to_string(picture.height) + ", depth " + std::to_string(picture.depth) +
                      ")");
      textures_.insert(destination);
      result = name_ + "/" + destination;
    }
    maps_[identity] = result;
    return result;
  }

  // Reads back everything written, as the module will read it: the
  // configuration through its parser, each Cal3D file through its checks in
  // the configuration's order (bone ids against the skeleton), each
  // material's maps as they were meant, each raw texture through the raw
  // texture checks. A full disk, a write that went missing or a file the
  // module would refuse stops the import here, before anything is replaced.
  void Verify(const fs::path& stagingPath, const rigweave::ConfigFile& source,
              const std::map<int, std::string>& newValues) {
    rigweave::ConfigFile written;
    std::string error;
    const std::string configName = (stagingPath / "new.cfg").string();
    if (!rwtools::ReadConfig(configName, written, error))
      throw Failure{configName + ": cannot be read back (" + error + ")"};
    bool same = written.syntaxErrorLine == 0 && written.entries.size() == source.entries.size();
    for (size_t i = 0; same && i < written.entries.size(); i++) {
      const rigweave::ConfigEntry& entry = written.entries[i];
      same = entry.key == source.entries[i].key && entry.line == source.entries[i].line;
      const auto value = newValues.find(entry.line);
      if (same && value != newValues.end()) same = entry.value == value->second;
    }
    if (!same) throw Failure{configName + ": reads back other than it was written"};

    const std::string prefix = name_ + "/";
    int bones = 0;
    for (const rigweave::ConfigEntry& entry : written.entries) {
      if (!IsCal3DKey(entry.key)) continue;
      const std::string relative = entry.value.substr(prefix.size());
      const std::string path = (staging_ / relative).string(), shown = Final(relative);
      std::vector<uint8_t> bytes;
      int boneCount = 0;
      if (!rwtools::ReadCheckedCal3D(path, KindOf(entry.key), bones, bytes, error, &boneCount))
        throw Failure{shown + ": reads back as " + error};
      if (entry.key == ConfigKey::Skeleton) bones = boneCount;
      if (entry.key != ConfigKey::Material) continue;
      CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
      std::vector<std::string> maps;
      if (material)
        for (int i = 0; i < material->getMapCount(); i++)
          maps.push_back(material->getMapFilename(i));
      if (!material || maps != materials_[relative])
        throw Failure{shown + ": reads back other than it was written"};
    }
    for (const std::string& texture : textures_) {
      const std::string path = (staging_ / texture).string(), shown = Final(texture);
      std::vector<uint8_t> bytes;
      rigweave::RawTextureHeader header;
      if (!rwtools::ReadRegularFile(path, rigweave::kMaxRawTextureFileBytes, bytes, error))
        throw Failure{shown + ": cannot be read back (" + error + ")"};
      const rigweave::RawTextureError check =
          rigweave::ParseRawTextureHeader(bytes.data(), bytes.size(), header);
      if (check != rigweave::RawTextureError::None ||
          bytes.size() != rigweave::kRawHeaderSize + header.DataSize())
        throw Failure{shown + ": reads back as no whole raw texture (" +
                      rigweave::RawTextureErrorText(check) + ")"};
    }
  }

  // Into place: the earlier import aside, then the new folder, then the
  // configuration that names it, which is the moment the new import counts.
  // A failure on the way undoes every move; a run killed on the way is put
  // right by the next (RecoverLeftovers).
  void Commit(const fs::path& stagingPath, const fs::path& folder, const fs::path& file,
              Staging& staging) {
    std::vector<std::pair<fs::path, fs::path>> moves;
    if (Exists(folder)) moves.emplace_back(folder, stagingPath / "old");
    if (Exists(file)) moves.emplace_back(file, stagingPath / "old.cfg");
    moves.emplace_back(stagingPath / "new", folder);
    moves.emplace_back(stagingPath / "new.cfg", file);
    std::error_code error;
    for (size_t done = 0; done < moves.size(); done++) {
      fs::rename(moves[done].first, moves[done].second, error);
      if (!error) continue;
      const std::string failed = "cannot move " + moves[done].first.string() + " to " +
                                 moves[done].second.string() + " (" + error.message() + ")";
      bool undone = true;
      while (done-- > 0) {
        fs::rename(moves[done].second, moves[done].first, error);
        undone = undone && !error;
      }
      if (undone) throw Failure{failed};
      // What could not go back stays where it is, for the next run to put right.
      staging.Release();
      throw Failure{failed + "; the earlier import stays in " + stagingPath.string()};
    }
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
  std::map<std::string, std::string> copied_;  // Cal3D file (identity) -> its name below NAME/
  std::map<std::string, std::string> maps_;    // map file (identity) -> the name materials give it
  std::map<std::string, std::vector<std::string>> materials_;  // written material -> its maps
  std::set<std::string> textures_;                             // raw textures written
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
  Interruption::Get().Start();
  int status = 0;
  try {
    Importer(config, root, force).Run();
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.text.c_str());
    status = 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    status = 1;
  }
  Interruption::Get().Finished();
  return status;
}
