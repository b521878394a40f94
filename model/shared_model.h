// What the characters of one model share: everything a load makes that no
// character changes afterwards. Characters loading the same configuration
// from the same model folder into the same engine, while its files are
// unchanged on disk, share one SharedModel: the Cal3D core model (skeleton,
// animations, meshes, materials), the skinning layouts, the box, each level
// of detail's faces forward and turned round, and one material per texture
// file. The last character holding it frees it; a load that finds any of its
// files changed (another file, size or time) loads afresh.
#pragma once

#include <cal3d/cal3d.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "formats/morph_animation.h"
#include "host/engine_loading.h"
#include "host/math_types.h"
#include "host/ref.h"
#include "model/cal3d_skinning.h"
#include "render/box_mesh.h"

namespace rigweave {

// What says a file is still the one read: its identity, size and times, or
// that it was missing.
struct FileStamp {
  std::string path;
  bool exists = false;
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedNs = 0, changedNs = 0;

  // The file at `path` as it is now; one stat.
  static FileStamp Of(const std::string& path);
  bool SameAs(const FileStamp& other) const;
};

// A sub-mesh's faces at one level of detail, exactly as Cal3D hands them out
// there, and each turned round for the second draw.
struct FaceLevel {
  int vertexCount = 0;  // the vertices the level keeps; no face reaches past them
  // In Cal3D's own type: the first character's array is taken rather than
  // copied where it holds the level whole, as at full detail.
  std::vector<CalSubmesh::Face> forward;
  std::vector<csTriangle> reversed;

  const csTriangle* Forward() const { return reinterpret_cast<const csTriangle*>(forward.data()); }
  size_t Count() const { return forward.size(); }
};

// A texture file made a material in one engine; no material when it could
// not be loaded.
struct SharedTexture {
  FileStamp stamp;
  csRef<iMaterialWrapper> material;
};

class SharedModel {
 public:
  SharedModel() = default;
  // Frees the core model with its animations' tracks, which Cal3D leaves.
  ~SharedModel();
  SharedModel(const SharedModel&) = delete;
  SharedModel& operator=(const SharedModel&) = delete;

  std::unique_ptr<CalCoreModel> core;
  float scale = 1.0f;
  std::vector<std::string> animationNames;
  // The morph animations' tracks, checked against the meshes, and their
  // names (the morphanim values without extension).
  std::vector<MorphAnimation> morphAnimations;
  std::vector<std::string> morphAnimationNames;
  // The names of each mesh's morph targets by sub-mesh, which Cal3D 0.11
  // does not keep.
  std::vector<std::vector<std::vector<std::string>>> morphNames;
  BoxMesh box;
  // The layouts; no records when Cal3D draws everything.
  std::unique_ptr<Cal3DSkinning> skinning;
  // What the first load printed, said again by every load that shares it.
  std::string loadLines;
  // The configuration and every file it led to, textures included.
  std::vector<FileStamp> files;
  csRef<iMaterialWrapper> defaultMaterial;
  std::vector<std::shared_ptr<SharedTexture>> textures;
  // The material of map 0 of each core material, by core material id.
  std::vector<iMaterialWrapper*> materials;

  // Whether every file is as it was read.
  bool Unchanged() const;

  // Gives `levels` the faces each sub-mesh of `model` (an instance of this
  // core model) has at its present level of detail, indexed as
  // ForEachSubmesh numbers them, made once per level for all characters;
  // then releases the instance's own copy of its faces, which Cal3D keeps
  // per character. May throw std::bad_alloc, leaving `levels` as it was.
  void TakeFaces(CalModel& model, std::vector<std::shared_ptr<const FaceLevel>>& levels);
  // Cal3D's level of detail for `model`, then TakeFaces. May throw
  // std::bad_alloc, leaving `levels` and the level as they were.
  void SetLodLevel(CalModel& model, float level,
                   std::vector<std::shared_ptr<const FaceLevel>>& levels);

 private:
  void TakeFacesLocked(CalModel& model, std::vector<std::shared_ptr<const FaceLevel>>& levels);

  std::mutex facesMutex_;
  std::map<std::pair<const CalCoreSubmesh*, int>, std::weak_ptr<const FaceLevel>> faceLevels_;
};

// The module-wide register of shared models and textures. Each keeps only
// weak hands on them: the characters own them.
// The model loaded as `key` (model folder and configuration name) into
// `engine`, if a character still holds it and its files are unchanged.
std::shared_ptr<SharedModel> FindSharedModel(const std::string& key, const iEngine* engine);
void KeepSharedModel(const std::string& key, const iEngine* engine,
                     const std::shared_ptr<SharedModel>& model);
// The texture file `stamp` names made a material in `engine`, if it is
// still held and unchanged.
std::shared_ptr<SharedTexture> FindSharedTexture(const FileStamp& stamp, const iEngine* engine);
void KeepSharedTexture(const iEngine* engine, const std::shared_ptr<SharedTexture>& texture);

// Loads are made one at a time: Cal3D's loaders share its error state.
std::mutex& LoadMutex();

// What a load works in and lets go of, one for every load since loads are
// made one at a time: use it only while LoadMutex() is held. It stays mapped
// from one load to the next, so that a load does not fault in fresh pages
// for each file it reads and each layout it builds (measured: about a sixth
// of a first load on a virtual machine whose page faults are dear).
struct LoadScratch {
  std::vector<uint8_t> bytes;  // the Cal3D file being read
  Cal3DSkinning::Scratch skinning;
};
LoadScratch& TheLoadScratch();
// Lets each part go that a load grew past kKeptLoadBytes, so that one large
// model does not hold its largest file for the life of the module.
void TrimLoadScratch();
constexpr size_t kKeptLoadBytes = size_t(4) << 20;

}  // namespace rigweave
