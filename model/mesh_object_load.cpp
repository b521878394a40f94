// Loading a character: the configuration file, the Cal3D files it names, and
// the raw textures of its materials.
#include <cal3d/cal3d.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_objects.h"
#include "formats/config.h"
#include "formats/raw_texture.h"
#include "formats/texture_files.h"
#include "formats/whole_file.h"
#include "host/image.h"
#include "model/cal3d_skinning.h"
#include "model/diagnostics.h"
#include "model/mesh_object.h"
#include "model/shared_model.h"
#include "model/submesh_walk.h"
#include "render/engine_space.h"
#include "render/limits.h"
#include "rigweave_module.h"

using rigweave::Diagnose;

namespace {

// The engine resolves this path of its virtual file system to the texture
// shown by sub-meshes that bring no material of their own; the flags are the
// ones its loader has always been given (the stand-in engine ignores them).
constexpr const char* kFallbackTexture = kRigweaveFallbackTexture;
constexpr int kFallbackTextureFlags = kRigweaveFallbackTextureFlags;
// What the installed header tells engines is what the module does.
static_assert(kRigweaveDrawnUnitsPerModelUnit == rigweave::kDrawnUnitsPerModelUnit);
static_assert(kRigweaveBoxUnitsPerModelUnit == rigweave::kBoxUnitsPerModelUnit);
static_assert(kRigweaveMaxAnimations == rigweave::kMaxAnimations);
static_assert(kRigweaveMaxSubmeshes == rigweave::kMaxSubmeshes);
static_assert(kRigweaveMaxSubmeshVertices == rigweave::kMaxSubmeshVertices);
static_assert(kRigweaveMaxSubmeshFaces == rigweave::kMaxSubmeshFaces);
static_assert(kRigweaveMaxTexturePixels == rigweave::kMaxRawTexturePixels);

// Refuses what the drawing path could not hold, naming the limit: more
// sub-meshes than records, or a sub-mesh (selected in `renderer`) larger
// than the frame's storage.
bool WithinSubmeshLimit(int submeshCount) {
  if (submeshCount <= rigweave::kMaxSubmeshes) return true;
  rigweave::Diagnose(": Too many sub-meshes ", std::to_string(submeshCount) + " (at most " +
                                                   std::to_string(rigweave::kMaxSubmeshes) + ")");
  return false;
}

bool WithinDrawingLimits(CalRenderer& renderer) {
  using namespace rigweave;
  const int vertices = renderer.getVertexCount();
  const int faces = renderer.getFaceCount();
  if (vertices > kMaxSubmeshVertices) {
    Diagnose(": Too many vertices in a sub-mesh ",
             std::to_string(vertices) + " (at most " + std::to_string(kMaxSubmeshVertices) + ")");
    return false;
  }
  if (faces > kMaxSubmeshFaces) {
    Diagnose(": Too many faces in a sub-mesh ",
             std::to_string(faces) + " (at most " + std::to_string(kMaxSubmeshFaces) + ")");
    return false;
  }
  return true;
}

int BoneCount(CalCoreSkeleton* skeleton) {
  return static_cast<int>(skeleton->getVectorCoreBone().size());
}

}  // namespace

// A missing file says nothing more than the loading line that named it; a
// name that leads to anything but a regular file of a sane size says why.
bool csCal3DMeshObject::ReadModelFile(const std::string& name, size_t limit,
                                      std::vector<uint8_t>& bytes) {
  // Stamped before it is read: a change while it is read shows next time.
  shared->files.push_back(rigweave::FileStamp::Of(modelPath + name));
  const rigweave::FileError error = rigweave::ReadWholeFile(modelPath + name, limit, bytes);
  if (error == rigweave::FileError::None) return true;
  if (error != rigweave::FileError::Missing)
    Diagnose(": Can't read ", name + " (" + rigweave::FileErrorText(error) + ")");
  return false;
}

// Reads a Cal3D file named by the configuration and checks it before Cal3D
// sees it: Cal3D trusts its files. `bones` is the skeleton's bone count for
// animations and meshes, and for a skeleton the least it must have. False,
// with the reason printed, when the file must not reach Cal3D.
bool csCal3DMeshObject::ReadCheckedFile(const std::string& value, rigweave::Cal3DKind kind,
                                        int bones, std::vector<uint8_t>& bytes,
                                        rigweave::NewerCal3DContext& newer) {
  using rigweave::Cal3DKind;
  if (!ReadModelFile(value, rigweave::kMaxCal3DFileBytes, bytes)) return false;
  // Compressed tracks of newer files leave out translations the skeleton has.
  if (kind == Cal3DKind::Animation && calCoreModel->getCoreSkeleton() != nullptr)
    newer.restTranslations = rigweave::RestTranslations(*calCoreModel->getCoreSkeleton());
  rigweave::Cal3DCheck check = rigweave::PrepareCal3DFile(value, kind, bytes, bones, &newer);
  if (kind == Cal3DKind::Skeleton && check.Ok() && check.boneCount < bones)
    check.reason = "fewer bones than the skeleton it replaces";
  if (check.Ok()) return true;
  Diagnose(": Invalid Cal3D file ", value + " (" + check.Text() + ")");
  return false;
}

bool csCal3DMeshObject::SkeletonBefore(const std::string& value, const std::string& unknownKeys) {
  if (calCoreModel->getCoreSkeleton() != nullptr) return true;
  Diagnose(": No skeleton before ",
           value + (unknownKeys.empty() ? "" : " (unknown keys: " + unknownKeys + ")"));
  return false;
}

namespace {

rigweave::Cal3DKind KindOf(rigweave::ConfigKey key) {
  switch (key) {
    case rigweave::ConfigKey::Animation:
      return rigweave::Cal3DKind::Animation;
    case rigweave::ConfigKey::Mesh:
      return rigweave::Cal3DKind::Mesh;
    case rigweave::ConfigKey::Material:
      return rigweave::Cal3DKind::Material;
    default:
      return rigweave::Cal3DKind::Skeleton;
  }
}

const char* LoadingLine(rigweave::Cal3DKind kind) {
  switch (kind) {
    case rigweave::Cal3DKind::Skeleton:
      return ": Loading skeleton ";
    case rigweave::Cal3DKind::Animation:
      return ": Loading animation ";
    case rigweave::Cal3DKind::Mesh:
      return ": Loading mesh ";
    case rigweave::Cal3DKind::Material:
      break;
  }
  return ": Loading material ";
}

}  // namespace

bool csCal3DMeshObject::AnnounceCoreFile(rigweave::Cal3DKind kind, const std::string& value) {
  if (kind == rigweave::Cal3DKind::Animation) {
    // The name table holds kMaxAnimations names; refuse, never overrun.
    if (animationCount >= rigweave::kMaxAnimations) {
      Diagnose(": Too many animations ", value);
      return false;
    }
    Diagnose(LoadingLine(kind), value);
    shared->animationNames.emplace_back(rigweave::AnimationNameFromFile(value));
    animationNames[animationCount++] = shared->animationNames.back();
  } else {
    Diagnose(LoadingLine(kind), value);
  }
  return true;
}

bool csCal3DMeshObject::LoadCoreFile(const rigweave::ConfigEntry& entry,
                                     const std::string& unknownKeys) {
  using rigweave::Cal3DKind;
  const std::string& value = entry.value;
  const Cal3DKind kind = KindOf(entry.key);
  if (!AnnounceCoreFile(kind, value)) return false;
  CalCoreSkeleton* skeleton = calCoreModel->getCoreSkeleton();
  // As in Cal3D, nothing but a skeleton loads before the skeleton. Files
  // loaded so far were checked against the bones of the skeleton a new one
  // replaces: it may not have fewer.
  if (kind != Cal3DKind::Skeleton && !SkeletonBefore(value, unknownKeys)) return false;
  const int bones = kind == Cal3DKind::Material || skeleton == nullptr ? 0 : BoneCount(skeleton);
  std::vector<uint8_t>& bytes = rigweave::TheLoadScratch().bytes;
  rigweave::NewerCal3DContext newer;
  if (!ReadCheckedFile(value, kind, bones, bytes, newer)) return false;
  switch (kind) {
    case Cal3DKind::Skeleton: {
      CalCoreSkeletonPtr read = rigweave::ReadCoreSkeleton(bytes);
      if (read) calCoreModel->setCoreSkeleton(read.get());
      return bool(read);
    }
    case Cal3DKind::Animation: {
      CalCoreAnimationPtr read = rigweave::ReadCoreAnimation(bytes, skeleton);
      if (!read) return false;
      read->setFilename(modelPath + value);
      // Ids count up from 0 in the order of the lines.
      calCoreModel->addCoreAnimation(read.get());
      return true;
    }
    case Cal3DKind::Mesh: {
      CalCoreMeshPtr read = rigweave::ReadCoreMesh(
          bytes, rigweave::NamesCal3DXmlFile(value, Cal3DKind::Mesh), newer.morphTargets);
      if (!read) return false;
      auto& names = morphNames.emplace_back(static_cast<size_t>(read->getCoreSubmeshCount()));
      for (const rigweave::DenseMorphTarget& target : newer.morphTargets)
        names[static_cast<size_t>(target.submesh)].push_back(target.name);
      read->setFilename(modelPath + value);
      calCoreModel->addCoreMesh(read.get());
      return true;
    }
    case Cal3DKind::Material: {
      CalCoreMaterialPtr read = rigweave::ReadCoreMaterial(bytes);
      if (!read) return false;
      read->setFilename(modelPath + value);
      calCoreModel->addCoreMaterial(read.get());
      return true;
    }
  }
  return false;
}

// A morph animation is kept for a player; its tracks are checked against the
// meshes once all are loaded.
bool csCal3DMeshObject::LoadMorphAnimation(const std::string& value) {
  Diagnose(": Loading morph animation ", value);
  std::vector<uint8_t>& bytes = rigweave::TheLoadScratch().bytes;
  if (!ReadModelFile(value, rigweave::kMaxCal3DFileBytes, bytes)) return false;
  rigweave::MorphAnimation animation;
  if (const char* reason =
          rigweave::ReadMorphAnimation(value, bytes.data(), bytes.size(), animation)) {
    Diagnose(": Invalid Cal3D file ", value + " (" + reason + ")");
    return false;
  }
  morphAnimations.push_back(std::move(animation));
  shared->morphAnimationNames.emplace_back(rigweave::AnimationNameFromFile(value));
  return true;
}

namespace {

// What a blend mesh's target is called: its file's name without folder and
// extension, less the base mesh's own name and a '_' when it starts with
// them ("face_smile.cmf" of "face.cmf": "smile").
std::string BlendTargetName(const std::string& file, const std::string& base) {
  auto stem = [](const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
  };
  const std::string name = stem(file), own = stem(base);
  if (name.size() > own.size() + 1 && name.compare(0, own.size(), own) == 0 &&
      name[own.size()] == '_')
    return name.substr(own.size() + 1);
  return name;
}

// Cal3D adds a morph target only to a mesh of as many sub-meshes, each of
// as many vertices; null when `target` fits `base`.
const char* BlendMismatch(CalCoreMesh& base, CalCoreMesh& target) {
  if (base.getCoreSubmeshCount() != target.getCoreSubmeshCount())
    return "another number of sub-meshes than ";
  for (int s = 0; s < base.getCoreSubmeshCount(); s++)
    if (base.getCoreSubmesh(s)->getVertexCount() != target.getCoreSubmesh(s)->getVertexCount())
      return "another number of vertices than ";
  return nullptr;
}

}  // namespace

bool csCal3DMeshObject::LoadBlendMesh(const std::string& value, const std::string& unknownKeys) {
  using rigweave::Cal3DKind;
  Diagnose(": Loading blend mesh ", value);
  if (!SkeletonBefore(value, unknownKeys)) return false;
  // As Cal3D's viewers match them: the first mesh, in load order, whose
  // value less its last four characters the blend mesh's name contains.
  int meshId = -1;
  std::string line;
  for (int m = 0; m < calCoreModel->getCoreMeshCount() && meshId < 0; m++) {
    line = calCoreModel->getCoreMesh(m)->getFilename().substr(modelPath.size());
    if (line.size() > 4 && value.find(line.substr(0, line.size() - 4)) != std::string::npos)
      meshId = m;
  }
  if (meshId < 0) {
    Diagnose(": No mesh before blend mesh ", value);
    return false;
  }
  std::vector<uint8_t>& bytes = rigweave::TheLoadScratch().bytes;
  rigweave::NewerCal3DContext newer;
  const int bones = BoneCount(calCoreModel->getCoreSkeleton());
  if (!ReadCheckedFile(value, Cal3DKind::Mesh, bones, bytes, newer)) return false;
  CalCoreMeshPtr read = rigweave::ReadCoreMesh(
      bytes, rigweave::NamesCal3DXmlFile(value, Cal3DKind::Mesh), newer.morphTargets);
  if (!read) return false;
  CalCoreMesh& base = *calCoreModel->getCoreMesh(meshId);
  if (const char* mismatch = BlendMismatch(base, *read)) {
    Diagnose(": Invalid Cal3D file ", value + " (" + mismatch + line + ")");
    return false;
  }
  if (base.addAsMorphTarget(read.get()) < 0) {
    Diagnose(": Invalid Cal3D file ", value + " (not a morph target of " + line + ")");
    return false;
  }
  const std::string name = BlendTargetName(value, line);
  for (std::vector<std::string>& names : morphNames[static_cast<size_t>(meshId)])
    names.push_back(name);
  return true;
}

// Tracks name meshes by the order of the mesh lines, wherever they stand:
// they are checked once all meshes are loaded.
bool csCal3DMeshObject::KeepMorphs(const std::vector<std::string>& files) {
  for (size_t i = 0; i < morphAnimations.size(); i++) {
    if (const char* reason = rigweave::CheckMorphTargets(morphAnimations[i], morphNames)) {
      Diagnose(": Invalid Cal3D file ", files[i] + " (" + reason + ")");
      return false;
    }
  }
  shared->morphAnimations = morphAnimations;
  shared->morphNames = morphNames;
  return true;
}

bool csCal3DMeshObject::LoadConfigFile(const std::string& modelName) {
  std::vector<uint8_t> file;
  if (!ReadModelFile(modelName, rigweave::kMaxConfigBytes, file)) return false;
  shared->core = std::make_unique<CalCoreModel>("avatar");
  calCoreModel = shared->core.get();

  // Keys the format ignores, named when the load then fails for want of a
  // skeleton: most likely one of them was meant to be "skeleton".
  std::string unknownKeys;
  int unknownCount = 0;
  std::vector<std::string> morphFiles;
  const rigweave::ConfigFile config = rigweave::ParseConfig(file);
  for (const rigweave::ConfigEntry& parsed : config.entries) {
    // Lines are acted on in order up to the first one the format refuses.
    if (config.syntaxErrorLine != 0 && parsed.line > config.syntaxErrorLine) break;
    if (parsed.key == rigweave::ConfigKey::Other) {
      if (!parsed.keyText.empty() && unknownCount < 3 &&
          unknownKeys.find(parsed.keyText) == std::string::npos)
        unknownKeys += (unknownCount++ > 0 ? ", " : "") + parsed.keyText.substr(0, 40);
    } else if (parsed.key == rigweave::ConfigKey::Scale) {
      const rigweave::ScaleReading reading = rigweave::ReadScale(parsed.value);
      // Zero, negative, infinite or NaN: the character would vanish, turn
      // upside down or fill the view with NaNs.
      if (!(reading.scale > 0) || !std::isfinite(reading.scale)) {
        Diagnose(": Invalid scale ", parsed.value + " (not a finite positive number)");
        return false;
      }
      if (!reading.plain) Diagnose(": Scale ", parsed.value + " read as " + reading.asRead);
      scale = shared->scale = reading.scale;
    } else if (parsed.key == rigweave::ConfigKey::BlendMesh) {
      if (!LoadBlendMesh(parsed.value, unknownKeys)) return false;
    } else if (parsed.key == rigweave::ConfigKey::MorphAnimation) {
      if (!LoadMorphAnimation(parsed.value)) return false;
      morphFiles.push_back(parsed.value);
    } else if (!LoadCoreFile(parsed, unknownKeys)) {
      return false;
    }
  }
  if (config.syntaxErrorLine != 0) return false;
  if (!KeepMorphs(morphFiles)) return false;

  // Thread n, set 0 is the n-th material of the file.
  for (int i = 0; i < calCoreModel->getCoreMaterialCount(); i++) {
    calCoreModel->createCoreMaterialThread(i);
    calCoreModel->setCoreMaterialId(i, 0, i);
  }
  // Cal3D cannot make a model instance without a skeleton (it aborts).
  if (calCoreModel->getCoreSkeleton() == nullptr) {
    Diagnose(": No skeleton in ",
             modelName + (unknownKeys.empty() ? "" : " (unknown keys: " + unknownKeys + ")"));
    return false;
  }
  // Cal3D's renderer has nothing to draw without one.
  if (calCoreModel->getCoreMeshCount() == 0) {
    Diagnose(": No mesh in ", modelName);
    return false;
  }
  return MakeModelInstance();
}

bool csCal3DMeshObject::MakeModelInstance() {
  calModel = std::make_unique<CalModel>(calCoreModel);
  for (int i = 0; i < calCoreModel->getCoreMeshCount(); i++) calModel->attachMesh(i);
  calModel->setMaterialSet(0);
  // A new Cal3D model instance has no bone state until its first update, so
  // its skinned vertices would all sit at the origin: put the skeleton in its
  // rest pose, so that the box mesh measures the character as loaded. No
  // animation time passes.
  calModel->getSkeleton()->calculateState();

  int submeshCount = 0;
  bool fits = rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit&) {
    submeshCount++;
    return true;
  });
  fits = fits && WithinSubmeshLimit(submeshCount);
  if (fits) {
    rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
      fits = WithinDrawingLimits(visit.renderer);
      return fits;
    });
  }
  if (!fits) {
    // A refused model must not stay drawable: the frame path sizes nothing
    // per model and relies on these limits.
    calModel.reset();
    return false;
  }
  // Zeroed, so that every field is defined before the first frame fills it.
  meshRecords = new G3DTriangleMesh[static_cast<size_t>(submeshCount)]();
  meshRecordCount = submeshCount;
  return true;
}

iImage* csCal3DMeshObject::ReadTextureImage(rigweave::TextureFiles& files, const std::string& name,
                                            const char*& why) {
  // Read once, whole, and decoded by the decoder the tests and the fuzzer
  // exercise; a file shorter than its header says gives no image.
  rigweave::RawTextureHeader header;
  csRGBpixel* pixels = nullptr;
  files.Decode(modelPath + name, header, pixels, why);
  if (pixels == nullptr) return nullptr;
  std::unique_ptr<csRGBpixel[]> owned(pixels);  // until the image has taken them
  lastTextureImage = new csImageMemory(header.width, header.height, pixels, true);
  owned.release();
  return lastTextureImage;
}

bool csCal3DMeshObject::LoadModel(const char* modelName, iLoader* loader, iEngine* engine) {
  if (modelName == nullptr || loader == nullptr || engine == nullptr) {
    Diagnose(": LoadModel needs a model name, a loader and an engine");
    return false;
  }
  // A second load replaces the character: nothing of the first one stays
  // but what it shared, held until the new load has taken what it can of
  // it, so that reloading a model (as the last character of it) adds no
  // texture or material to the engine.
  const std::shared_ptr<rigweave::SharedModel> previous = shared;
  Unload();
  try {
    std::lock_guard<std::mutex> oneAtATime(rigweave::LoadMutex());
    const bool loaded = LoadModelFiles(modelName, loader, engine);
    rigweave::TrimLoadScratch();
    if (loaded) {
      // Room for the pose the options kept from the last model ask for;
      // without it the character draws as without them.
      if (Posing()) SizePose();
      return true;
    }
  } catch (const std::bad_alloc&) {
    Diagnose(": Out of memory loading ", modelName);
  }
  // A failed load leaves the object as if new, whatever step it stopped at.
  Unload();
  return false;
}

bool csCal3DMeshObject::LoadModelFiles(const char* modelName, iLoader* loader, iEngine* engine) {
  // The format names files below a model folder, which the engine's file
  // system places (models/ below its root unless it names one); without
  // one, models/ is below the process's current folder.
  const std::string folder = fileSystem ? fileSystem->GetModelFolder() : "";
  const std::string root = fileSystem ? fileSystem->GetRoot() : "";
  if (!folder.empty())
    modelPath = folder.back() == '/' ? folder : folder + "/";
  else
    modelPath = root.empty() || root.back() == '/' ? root + "models/" : root + "/models/";

  const std::string key = modelPath + modelName;
  shared = rigweave::FindSharedModel(key, engine);
  if (shared) return ShareModel();
  shared = std::make_shared<rigweave::SharedModel>();
  if (!LoadAfresh(modelName, loader, engine)) return false;
  rigweave::KeepSharedModel(key, engine, shared);
  return true;
}

bool csCal3DMeshObject::LoadAfresh(const char* modelName, iLoader* loader, iEngine* engine) {
  // What this load says, later loads that share it say again.
  rigweave::DiagnosticLog log;
  loader->LoadTexture(modelName, kFallbackTexture, kFallbackTextureFlags, nullptr, false);
  defaultMaterial = engine->FindMaterial(modelName, nullptr);
  shared->defaultMaterial = csRef<iMaterialWrapper>(defaultMaterial);

  if (!LoadConfigFile(modelName)) return false;
  MakeMaterials(engine);

  // Cal3D's first blend of a cycle completes the animation's tracks with a
  // last keyframe, writing into the core animation every character shares:
  // done here, once, so that no later blend writes there while others draw.
  {
    CalModel blender(calCoreModel);
    for (int id = 0; id < calCoreModel->getCoreAnimationCount(); id++) {
      blender.getMixer()->blendCycle(id, 1.0f, 0.0f);
      blender.getMixer()->clearCycle(id, 0.0f);
    }
  }

  MeasureBox();
  shared->box = box;
  // Last: the box is measured through Cal3D's renderer, and preparing may
  // release Cal3D's influence lists. Without it Cal3D draws everything.
  shared->skinning = std::make_unique<rigweave::Cal3DSkinning>(skinningIsa);
  if (!shared->skinning->Prepare(*calModel, rigweave::TheLoadScratch().skinning))
    shared->skinning.reset();
  // Cal3D can no longer draw what the layouts took over: a character
  // without its palette is not made at all.
  if (shared->skinning) {
    skinning = std::make_unique<rigweave::Cal3DSkinning>(skinningIsa);
    if (!skinning->Share(*shared->skinning, *calModel)) throw std::bad_alloc();
  }
  shared->TakeFaces(*calModel, faceLevels);
  shared->loadLines = log.Lines();
  BindApplicationState();
  return true;
}

void csCal3DMeshObject::MakeMaterials(iEngine* engine) {
  // Each texture file is read and made a material once, however many maps
  // name it, however they spell its path and however many models name it: a
  // small material naming one large texture a thousand times must not cost
  // a thousand decoded copies. What one load decodes is bounded (files);
  // what earlier loads made in this engine is shared while held.
  rigweave::TextureFiles files;
  shared->materials.assign(static_cast<size_t>(calCoreModel->getCoreMaterialCount()), nullptr);
  for (int i = 0; i < calCoreModel->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = calCoreModel->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      const std::string name = material->getMapFilename(j);
      const rigweave::TextureFiles::Made* found = files.Find(name, modelPath + name);
      rigweave::TextureFiles::Made made =
          found != nullptr ? *found : rigweave::TextureFiles::Made();
      if (found == nullptr) {
        rigweave::FileStamp stamp = rigweave::FileStamp::Of(modelPath + name);
        std::shared_ptr<rigweave::SharedTexture> texture =
            rigweave::FindSharedTexture(stamp, engine);
        if (!texture) {
          texture = std::make_shared<rigweave::SharedTexture>();
          texture->stamp = std::move(stamp);
          if (iImage* image = ReadTextureImage(files, name, made.why)) {
            iTextureWrapper* wrapped = engine->GetTextureList()->NewTexture(image);
            // The texture list keeps the image alive; our creation reference is not needed.
            image->DecRef();
            texture->material =
                csRef<iMaterialWrapper>(engine->CreateMaterial(name.c_str(), wrapped));
          }
          rigweave::KeepSharedTexture(engine, texture);
          made.made = texture.get();
          // Only after a Decode: it records the file that Decode opened.
          files.Remember(name, made);
        }
        made.made = texture.get();
        shared->files.push_back(texture->stamp);
        shared->textures.push_back(std::move(texture));
      }
      iMaterialWrapper* wrapper = static_cast<rigweave::SharedTexture*>(made.made)->material.get();
      if (wrapper == nullptr)
        Diagnose(": Can't load texture ",
                 made.why == nullptr ? name : name + " (" + made.why + ")");
      material->setMapUserData(j, static_cast<Cal::UserData>(wrapper));
      if (j == 0) shared->materials[static_cast<size_t>(i)] = wrapper;
    }
  }
}

bool csCal3DMeshObject::ShareModel() {
  rigweave::DiagnoseAgain(shared->loadLines);
  calCoreModel = shared->core.get();
  scale = shared->scale;
  for (const std::string& name : shared->animationNames) animationNames[animationCount++] = name;
  morphAnimations = shared->morphAnimations;
  defaultMaterial = shared->defaultMaterial.get();
  if (!MakeModelInstance()) return false;
  box = shared->box;
  // Cal3D can no longer draw what the layouts took over: a character
  // without its palette is not made at all.
  if (shared->skinning) {
    skinning = std::make_unique<rigweave::Cal3DSkinning>(skinningIsa);
    if (!skinning->Share(*shared->skinning, *calModel)) throw std::bad_alloc();
  }
  shared->TakeFaces(*calModel, faceLevels);
  BindApplicationState();
  return true;
}

void csCal3DMeshObject::BindApplicationState() {
  scfiRigweaveState.Bind(*calCoreModel, *calModel, animationNames, animationCount,
                         static_cast<float>(scale * rigweave::kDrawnUnitsPerModelUnit));
  scfiRigweaveState.BindMorphs(shared->morphNames, shared->morphAnimations,
                               shared->morphAnimationNames);
}
