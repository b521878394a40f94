// Loading a character: the configuration file, the Cal3D files it names, and
// the raw textures of its materials.
#include <cal3d/cal3d.h>

#include <cmath>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/cal3d_objects.h"
#include "formats/config.h"
#include "formats/raw_texture.h"
#include "formats/whole_file.h"
#include "host/image.h"
#include "model/cal3d_skinning.h"
#include "model/diagnostics.h"
#include "model/mesh_object.h"

using rigweave::Diagnose;

namespace {

// The engine resolves this path of its virtual file system to the texture
// shown by sub-meshes that bring no material of their own.
constexpr const char kFallbackTexture[] = "/lib/std/stone4.gif";
constexpr int kFallbackTextureFlags = 2;

// Refuses what the drawing path could not hold, naming the limit.
bool WithinDrawingLimits(CalRenderer& renderer, int submeshCount) {
  using namespace rigweave;
  if (submeshCount > kMaxSubmeshes) {
    Diagnose(": Too many sub-meshes ",
             std::to_string(submeshCount) + " (at most " + std::to_string(kMaxSubmeshes) + ")");
    return false;
  }
  for (int mesh = 0; mesh < renderer.getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer.getSubmeshCount(mesh); sub++) {
      if (!renderer.selectMeshSubmesh(mesh, sub)) continue;
      const int vertices = renderer.getVertexCount();
      const int faces = renderer.getFaceCount();
      if (vertices > kMaxSubmeshVertices) {
        Diagnose(
            ": Too many vertices in a sub-mesh ",
            std::to_string(vertices) + " (at most " + std::to_string(kMaxSubmeshVertices) + ")");
        return false;
      }
      if (faces > kMaxSubmeshFaces) {
        Diagnose(": Too many faces in a sub-mesh ",
                 std::to_string(faces) + " (at most " + std::to_string(kMaxSubmeshFaces) + ")");
        return false;
      }
    }
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
                                        int bones, std::vector<uint8_t>& bytes) {
  using rigweave::Cal3DKind;
  if (!ReadModelFile(value, rigweave::kMaxCal3DFileBytes, bytes)) return false;
  rigweave::Cal3DCheck check = rigweave::PrepareCal3DFile(value, kind, bytes, bones);
  if (kind == Cal3DKind::Skeleton && check.Ok() && check.boneCount < bones)
    check.reason = "fewer bones than the skeleton it replaces";
  if (check.Ok()) return true;
  Diagnose(": Invalid Cal3D file ", value + " (" + check.reason + ")");
  return false;
}

bool csCal3DMeshObject::SkeletonBefore(const std::string& value) {
  if (calCoreModel->getCoreSkeleton() != nullptr) return true;
  Diagnose(": No skeleton before ", value);
  return false;
}

bool csCal3DMeshObject::LoadConfigFile(const std::string& modelName) {
  std::vector<uint8_t> file;
  if (!ReadModelFile(modelName, rigweave::kMaxConfigBytes, file)) return false;

  calCoreModel.reset(new (std::nothrow) CalCoreModel("avatar"));
  if (!calCoreModel) return false;

  // Keys the format ignores, named when the load then fails for want of a
  // skeleton: most likely one of them was meant to be "skeleton".
  std::string unknownKeys;
  int unknownCount = 0;
  const rigweave::ConfigFile config = rigweave::ParseConfig(file);
  for (const rigweave::ConfigEntry& parsed : config.entries) {
    // Lines are acted on in order up to the first one the format refuses.
    if (config.syntaxErrorLine != 0 && parsed.line > config.syntaxErrorLine) break;
    const std::string& value = parsed.value;
    switch (parsed.key) {
      case rigweave::ConfigKey::Other:
        if (!parsed.keyText.empty() && unknownCount < 3 &&
            unknownKeys.find(parsed.keyText) == std::string::npos) {
          unknownKeys += (unknownCount++ > 0 ? ", " : "") + parsed.keyText.substr(0, 40);
        }
        break;
      case rigweave::ConfigKey::Scale: {
        const rigweave::ScaleReading reading = rigweave::ReadScale(parsed.value);
        // Zero, negative, infinite or NaN: the character would vanish, turn
        // upside down or fill the view with NaNs.
        if (!(reading.scale > 0) || !std::isfinite(reading.scale)) {
          Diagnose(": Invalid scale ", value + " (not a finite positive number)");
          return false;
        }
        if (!reading.plain) Diagnose(": Scale ", value + " read as " + reading.asRead);
        scale = reading.scale;
        break;
      }
      case rigweave::ConfigKey::Skeleton: {
        Diagnose(": Loading skeleton ", value);
        // Files loaded so far were checked against the bones of the skeleton
        // this one replaces: it may not have fewer.
        CalCoreSkeleton* previous = calCoreModel->getCoreSkeleton();
        const int atLeast = previous ? static_cast<int>(previous->getVectorCoreBone().size()) : 0;
        std::vector<uint8_t> bytes;
        if (!ReadCheckedFile(value, rigweave::Cal3DKind::Skeleton, atLeast, bytes)) return false;
        CalCoreSkeletonPtr skeleton = rigweave::ReadCoreSkeleton(bytes);
        if (!skeleton) return false;
        calCoreModel->setCoreSkeleton(skeleton.get());
        break;
      }
      case rigweave::ConfigKey::Animation: {
        // The name table holds kMaxAnimations names; refuse, never overrun.
        if (animationCount >= rigweave::kMaxAnimations) {
          Diagnose(": Too many animations ", value);
          return false;
        }
        Diagnose(": Loading animation ", value);
        animationNames[animationCount++] = std::string(rigweave::AnimationNameFromFile(value));
        // As in Cal3D, nothing but a skeleton loads before the skeleton.
        CalCoreSkeleton* skeleton = calCoreModel->getCoreSkeleton();
        std::vector<uint8_t> bytes;
        if (!SkeletonBefore(value) ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Animation, BoneCount(skeleton), bytes))
          return false;
        CalCoreAnimationPtr animation = rigweave::ReadCoreAnimation(bytes, skeleton);
        if (!animation) return false;
        animation->setFilename(modelPath + value);
        // Ids count up from 0 in the order of the lines.
        calCoreModel->addCoreAnimation(animation.get());
        break;
      }
      case rigweave::ConfigKey::Mesh: {
        Diagnose(": Loading mesh ", value);
        CalCoreSkeleton* skeleton = calCoreModel->getCoreSkeleton();
        std::vector<uint8_t> bytes;
        if (!SkeletonBefore(value) ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Mesh, BoneCount(skeleton), bytes))
          return false;
        CalCoreMeshPtr mesh = rigweave::ReadCoreMesh(
            bytes, rigweave::NamesCal3DXmlFile(value, rigweave::Cal3DKind::Mesh));
        if (!mesh) return false;
        mesh->setFilename(modelPath + value);
        calCoreModel->addCoreMesh(mesh.get());
        break;
      }
      case rigweave::ConfigKey::Material: {
        Diagnose(": Loading material ", value);
        std::vector<uint8_t> bytes;
        if (!SkeletonBefore(value) ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Material, 0, bytes))
          return false;
        CalCoreMaterialPtr material = rigweave::ReadCoreMaterial(bytes);
        if (!material) return false;
        material->setFilename(modelPath + value);
        calCoreModel->addCoreMaterial(material.get());
        break;
      }
    }
  }

  if (config.syntaxErrorLine != 0) return false;

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
  calModel.reset(new (std::nothrow) CalModel(calCoreModel.get()));
  if (!calModel) return false;

  for (int i = 0; i < calCoreModel->getCoreMeshCount(); i++) calModel->attachMesh(i);
  calModel->setMaterialSet(0);
  // A new Cal3D model instance has no bone state until its first update, so
  // its skinned vertices would all sit at the origin: put the skeleton in its
  // rest pose, so that the box mesh measures the character as loaded. No
  // animation time passes.
  calModel->getSkeleton()->calculateState();

  CalRenderer* renderer = calModel->getRenderer();
  if (!renderer->beginRendering()) return false;
  int submeshCount = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++)
    submeshCount += renderer->getSubmeshCount(mesh);
  const bool fits = WithinDrawingLimits(*renderer, submeshCount);
  renderer->endRendering();
  if (!fits) {
    // A refused model must not stay drawable: the frame path sizes nothing
    // per model and relies on these limits.
    calModel.reset();
    return false;
  }

  // Zeroed, so that every field is defined before the first frame fills it.
  meshRecords = new (std::nothrow) G3DTriangleMesh[static_cast<size_t>(submeshCount)]();
  if (meshRecords == nullptr) return false;
  meshRecordCount = submeshCount;
  fogCapacities.assign(static_cast<size_t>(submeshCount), 0);
  return true;
}

iImage* csCal3DMeshObject::ReadTextureImage(const std::string& name) {
  // Read once, whole, and decoded by the decoder the tests and the fuzzer
  // exercise; a file shorter than its header says gives no image.
  std::vector<uint8_t> bytes;
  if (rigweave::ReadWholeFile(modelPath + name, rigweave::kMaxRawTextureFileBytes, bytes) !=
      rigweave::FileError::None)
    return nullptr;
  rigweave::RawTextureHeader header;
  csRGBpixel* pixels = nullptr;
  if (rigweave::DecodeRawTexture(bytes.data(), bytes.size(), header, pixels) !=
      rigweave::RawTextureError::None)
    return nullptr;
  lastTextureImage = new (std::nothrow) csImageMemory(header.width, header.height, pixels, true);
  if (lastTextureImage == nullptr) delete[] pixels;
  return lastTextureImage;
}

bool csCal3DMeshObject::LoadModel(const char* modelName, iLoader* loader, iEngine* engine) {
  if (modelName == nullptr || loader == nullptr || engine == nullptr) {
    Diagnose(": LoadModel needs a model name, a loader and an engine");
    return false;
  }
  // A second load replaces the character: nothing of the first one stays.
  Unload();
  // The format names files below models/, which the engine's file system
  // places; without one, models/ is below the process's current folder.
  const std::string root = fileSystem ? fileSystem->GetRoot() : "";
  modelPath = root.empty() || root.back() == '/' ? root + "models/" : root + "/models/";

  loader->LoadTexture(modelName, kFallbackTexture, kFallbackTextureFlags, nullptr, false);
  defaultMaterial = engine->FindMaterial(modelName, nullptr);

  if (!LoadConfigFile(modelName)) return false;

  // Each texture file is read and made a material once per load, however
  // many maps name it: a small material naming one large texture a
  // thousand times must not cost a thousand decoded copies.
  std::map<std::string, iMaterialWrapper*> madeFor;
  for (int i = 0; i < calCoreModel->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = calCoreModel->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      const std::string name = material->getMapFilename(j);
      auto made = madeFor.find(name);
      if (made == madeFor.end()) {
        iMaterialWrapper* wrapper = nullptr;
        if (iImage* image = ReadTextureImage(name)) {
          iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image);
          // The texture list keeps the image alive; our creation reference is not needed.
          image->DecRef();
          wrapper = engine->CreateMaterial(name.c_str(), texture);
        }
        made = madeFor.emplace(name, wrapper).first;
      }
      if (made->second == nullptr) Diagnose(": Can't load texture ", name);
      material->setMapUserData(j, static_cast<Cal::UserData>(made->second));
    }
  }

  MeasureBox();
  // Last: the box is measured through Cal3D's renderer, and preparing may
  // release Cal3D's influence lists. Without it Cal3D draws everything.
  skinning.reset(new (std::nothrow) rigweave::Cal3DSkinning);
  if (skinning && !skinning->Prepare(*calModel)) skinning.reset();
  scfiRigweaveState.Bind(*calCoreModel, *calModel, animationNames, animationCount,
                         static_cast<float>(scale * 0.02));
  return true;
}
