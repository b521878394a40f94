#include "model/shared_model.h"

#include <sys/stat.h>

#include <algorithm>

#include "formats/cal3d_objects.h"
#include "model/submesh_walk.h"
#include "render/face_reversal.h"

namespace rigweave {

namespace {

// Cal3D keeps a copy of its core sub-mesh's faces in every instance, which
// only its renderer copies out and its level of detail rewrites, private
// and never otherwise read. The characters share one copy per level instead,
// so each instance's is released between level changes. Reached through an
// explicit instantiation, where the language does not check access.
using FaceVector = std::vector<CalSubmesh::Face>;
FaceVector CalSubmesh::*InstanceFacesMember();
template <FaceVector CalSubmesh::*Member>
struct InstanceFacesAccess {
  friend FaceVector CalSubmesh::*InstanceFacesMember() { return Member; }
};
template struct InstanceFacesAccess<&CalSubmesh::m_vectorFace>;

struct SubmeshFaces {
  static FaceVector& Of(CalSubmesh& submesh) { return submesh.*InstanceFacesMember(); }
};

static_assert(sizeof(CalSubmesh::Face) == sizeof(csTriangle),
              "Cal3D's faces are read as triangles");

struct Register {
  std::mutex mutex;
  std::map<std::pair<std::string, const iEngine*>, std::weak_ptr<SharedModel>> models;
  std::map<std::pair<std::pair<uint64_t, uint64_t>, const iEngine*>, std::weak_ptr<SharedTexture>>
      textures;
};

Register& TheRegister() {
  static Register instance;
  return instance;
}

template <class Map>
void ForgetExpired(Map& map) {
  for (auto it = map.begin(); it != map.end();) it = it->second.expired() ? map.erase(it) : ++it;
}

}  // namespace

FileStamp FileStamp::Of(const std::string& path) {
  FileStamp stamp;
  stamp.path = path;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return stamp;
  stamp.exists = true;
  stamp.device = static_cast<uint64_t>(status.st_dev);
  stamp.inode = static_cast<uint64_t>(status.st_ino);
  stamp.size = static_cast<uint64_t>(status.st_size);
  stamp.modifiedNs = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
  stamp.changedNs = int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec;
  return stamp;
}

bool FileStamp::SameAs(const FileStamp& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
}

SharedModel::~SharedModel() {
  if (!core) return;
  // Cal3D 0.11 frees an animation without its tracks and keyframes.
  for (int i = 0; i < core->getCoreAnimationCount(); i++)
    if (CalCoreAnimation* animation = core->getCoreAnimation(i)) FreeTracks(*animation);
}

bool SharedModel::Unchanged() const {
  for (const FileStamp& file : files)
    if (!FileStamp::Of(file.path).SameAs(file)) return false;
  return true;
}

void SharedModel::TakeFacesLocked(CalModel& model,
                                  std::vector<std::shared_ptr<const FaceLevel>>& levels) {
  std::vector<std::shared_ptr<const FaceLevel>> taken;
  std::vector<CalSubmesh*> submeshes;
  ForEachSubmesh(model, [&](const SubmeshVisit& visit) {
    const auto key =
        std::make_pair(static_cast<const CalCoreSubmesh*>(visit.submesh.getCoreSubmesh()),
                       visit.submesh.getVertexCount());
    std::shared_ptr<const FaceLevel> level = faceLevels_[key].lock();
    if (!level) {
      auto made = std::make_shared<FaceLevel>();
      made->vertexCount = key.second;
      std::vector<CalSubmesh::Face>& faces = SubmeshFaces::Of(visit.submesh);
      const size_t count = static_cast<size_t>(visit.submesh.getFaceCount());
      if (count == faces.size())
        made->forward.swap(faces);  // the instance's copy is let go below anyway
      else
        made->forward.assign(faces.begin(),
                             faces.begin() + static_cast<ptrdiff_t>(std::min(count, faces.size())));
      made->reversed.resize(made->forward.size());
      FaceReversalJob reversal;
      reversal.input = {made->Forward(), made->Count()};
      reversal.output = {made->reversed.data(), made->reversed.size()};
      reversal.Run();
      level = made;
      faceLevels_[key] = level;
    }
    taken.push_back(std::move(level));
    submeshes.push_back(&visit.submesh);
    return true;
  });
  levels.swap(taken);
  for (CalSubmesh* submesh : submeshes)
    std::vector<CalSubmesh::Face>().swap(SubmeshFaces::Of(*submesh));
  ForgetExpired(faceLevels_);
}

void SharedModel::TakeFaces(CalModel& model,
                            std::vector<std::shared_ptr<const FaceLevel>>& levels) {
  std::lock_guard<std::mutex> hold(facesMutex_);
  TakeFacesLocked(model, levels);
}

void SharedModel::SetLodLevel(CalModel& model, float level,
                              std::vector<std::shared_ptr<const FaceLevel>>& levels) {
  std::lock_guard<std::mutex> hold(facesMutex_);
  // Cal3D writes the level's faces into the instance's copy, which it
  // expects to hold all of the core sub-mesh's.
  std::vector<CalSubmesh*> submeshes;
  ForEachSubmesh(model, [&](const SubmeshVisit& visit) {
    submeshes.push_back(&visit.submesh);
    return true;
  });
  try {
    for (CalSubmesh* submesh : submeshes)
      SubmeshFaces::Of(*submesh).resize(submesh->getCoreSubmesh()->getVectorFace().size());
  } catch (...) {
    for (CalSubmesh* submesh : submeshes)
      std::vector<CalSubmesh::Face>().swap(SubmeshFaces::Of(*submesh));
    throw;
  }
  model.setLodLevel(level);
  try {
    TakeFacesLocked(model, levels);
  } catch (...) {
    // The levels kept no longer match the vertices Cal3D keeps: drawing
    // skips such sub-meshes until a level is taken again.
    for (CalSubmesh* submesh : submeshes)
      std::vector<CalSubmesh::Face>().swap(SubmeshFaces::Of(*submesh));
    throw;
  }
}

std::shared_ptr<SharedModel> FindSharedModel(const std::string& key, const iEngine* engine) {
  std::shared_ptr<SharedModel> found;
  {
    Register& shared = TheRegister();
    std::lock_guard<std::mutex> hold(shared.mutex);
    auto it = shared.models.find({key, engine});
    if (it != shared.models.end()) found = it->second.lock();
  }
  if (found && !found->Unchanged()) found.reset();
  return found;
}

void KeepSharedModel(const std::string& key, const iEngine* engine,
                     const std::shared_ptr<SharedModel>& model) {
  Register& shared = TheRegister();
  std::lock_guard<std::mutex> hold(shared.mutex);
  ForgetExpired(shared.models);
  shared.models[{key, engine}] = model;
}

std::shared_ptr<SharedTexture> FindSharedTexture(const FileStamp& stamp, const iEngine* engine) {
  if (!stamp.exists) return nullptr;
  Register& shared = TheRegister();
  std::lock_guard<std::mutex> hold(shared.mutex);
  auto it = shared.textures.find({{stamp.device, stamp.inode}, engine});
  if (it == shared.textures.end()) return nullptr;
  std::shared_ptr<SharedTexture> found = it->second.lock();
  if (found && !found->stamp.SameAs(stamp)) found.reset();
  return found;
}

void KeepSharedTexture(const iEngine* engine, const std::shared_ptr<SharedTexture>& texture) {
  if (!texture->stamp.exists) return;
  Register& shared = TheRegister();
  std::lock_guard<std::mutex> hold(shared.mutex);
  ForgetExpired(shared.textures);
  shared.textures[{{texture->stamp.device, texture->stamp.inode}, engine}] = texture;
}

std::mutex& LoadMutex() {
  static std::mutex mutex;
  return mutex;
}

LoadScratch& TheLoadScratch() {
  static LoadScratch scratch;
  return scratch;
}

namespace {

template <class T>
void Trim(std::vector<T>& part) {
  if (part.capacity() * sizeof(T) > kKeptLoadBytes) std::vector<T>().swap(part);
  part.clear();
}

}  // namespace

void TrimLoadScratch() {
  LoadScratch& scratch = TheLoadScratch();
  Trim(scratch.bytes);
  Trim(scratch.skinning.vertices);
  Trim(scratch.skinning.influences);
}

}  // namespace rigweave
