// Loading a character: the configuration file, the Cal3D files it names, and
// the raw textures of its materials.
#include <cal3d/cal3d.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "model/cal3d_check.h"
#include "model/config.h"
#include "host/image.h"
#include "model/meshobject.h"
#include "plugin/module.h"
#include "model/rawtexture.h"

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

// Cal3D reports some failures by throwing (std::length_error, bad_alloc);
// none may reach the engine.
template <class Load>
bool WithoutThrowing(Load load) {
  try {
    return load();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

// Reads a Cal3D file named by the configuration and checks it before Cal3D
// sees it: Cal3D trusts its files. `bones` is the skeleton's bone count for
// animations and meshes, and for a skeleton the least it must have. False,
// with the reason printed, when the file must not reach Cal3D.
bool csCal3DMeshObject::ReadCheckedFile(const std::string& value, rigweave::Cal3DKind kind,
                                        int bones, std::vector<uint8_t>& bytes) {
  using rigweave::Cal3DKind;
  if (!rigweave::ReadFileBytes(modelPath + value, bytes)) return false;
  rigweave::Cal3DCheck check;
  switch (kind) {
    case Cal3DKind::Skeleton:
      check = rigweave::CheckSkeleton(bytes.data(), bytes.size());
      if (check.Ok() && check.boneCount < bones)
        check.reason = "fewer bones than the skeleton it replaces";
      break;
    case Cal3DKind::Animation:
      check = rigweave::CheckAnimation(bytes.data(), bytes.size(), bones);
      break;
    case Cal3DKind::Mesh:
      check = rigweave::CheckMesh(bytes.data(), bytes.size(), bones);
      break;
    case Cal3DKind::Material:
      check = rigweave::CheckMaterial(bytes.data(), bytes.size());
      break;
  }
  if (rigweave::NamesCal3DXmlFile(value, kind)) check.reason = "XML Cal3D files are not supported";
  if (check.Ok()) return true;
  Diagnose(": Invalid Cal3D file ", value + " (" + check.reason + ")");
  return false;
}

bool csCal3DMeshObject::LoadConfigFile(const std::string& modelName) {
  std::ifstream file(modelPath + modelName, std::ios::in | std::ios::binary);
  if (!file.is_open()) return false;

  calCoreModel.reset(new (std::nothrow) CalCoreModel("avatar"));
  if (!calCoreModel) return false;

  std::string line;
  // A last line without its LF is read like the others.
  while (std::getline(file, line)) {
    const rigweave::ConfigLine parsed = rigweave::ParseConfigLine(line);
    if (parsed.kind == rigweave::ConfigLine::SyntaxError) return false;
    if (parsed.kind == rigweave::ConfigLine::Skip) continue;

    const std::string value(parsed.value);
    switch (parsed.key) {
      case rigweave::ConfigKey::Other:
        break;
      case rigweave::ConfigKey::Scale:
        scale = static_cast<float>(std::atof(value.c_str()));
        break;
      case rigweave::ConfigKey::Skeleton: {
        Diagnose(": Loading skeleton ", value);
        // Files loaded so far were checked against the bones of the skeleton
        // this one replaces: it may not have fewer.
        CalCoreSkeleton* previous = calCoreModel->getCoreSkeleton();
        const int atLeast = previous ? static_cast<int>(previous->getVectorCoreBone().size()) : 0;
        std::vector<uint8_t> bytes;
        if (!ReadCheckedFile(value, rigweave::Cal3DKind::Skeleton, atLeast, bytes)) return false;
        if (!WithoutThrowing([&] {
              CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(bytes.data());
              if (skeleton) calCoreModel->setCoreSkeleton(skeleton.get());
              return bool(skeleton);
            }))
          return false;
        break;
      }
      case rigweave::ConfigKey::Animation: {
        // The name table is as large as the design allows; refuse, never overrun.
        if (animationCount >= rigweave::kMaxAnimations) {
          Diagnose(": Too many animations ", value);
          return false;
        }
        Diagnose(": Loading animation ", value);
        animationNames[animationCount++] = std::string(rigweave::AnimationNameFromFile(value));
        // As in Cal3D, nothing but a skeleton loads before the skeleton.
        CalCoreSkeleton* skeleton = calCoreModel->getCoreSkeleton();
        std::vector<uint8_t> bytes;
        if (skeleton == nullptr ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Animation, BoneCount(skeleton), bytes) ||
            !WithoutThrowing([&] {
              CalCoreAnimationPtr animation = CalLoader::loadCoreAnimation(bytes.data(), skeleton);
              if (!animation) return false;
              animation->setFilename(modelPath + value);
              // Ids count up from 0 in the order of the lines.
              calCoreModel->addCoreAnimation(animation.get());
              return true;
            }))
          return false;
        break;
      }
      case rigweave::ConfigKey::Mesh: {
        Diagnose(": Loading mesh ", value);
        CalCoreSkeleton* skeleton = calCoreModel->getCoreSkeleton();
        std::vector<uint8_t> bytes;
        if (skeleton == nullptr ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Mesh, BoneCount(skeleton), bytes) ||
            !WithoutThrowing([&] {
              CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(bytes.data());
              if (!mesh) return false;
              mesh->setFilename(modelPath + value);
              calCoreModel->addCoreMesh(mesh.get());
              return true;
            }))
          return false;
        break;
      }
      case rigweave::ConfigKey::Material: {
        Diagnose(": Loading material ", value);
        std::vector<uint8_t> bytes;
        if (calCoreModel->getCoreSkeleton() == nullptr ||
            !ReadCheckedFile(value, rigweave::Cal3DKind::Material, 0, bytes) ||
            !WithoutThrowing([&] {
              CalCoreMaterialPtr material = CalLoader::loadCoreMaterial(bytes.data());
              if (!material) return false;
              material->setFilename(modelPath + value);
              calCoreModel->addCoreMaterial(material.get());
              return true;
            }))
          return false;
        break;
      }
    }
  }
  if (file.bad()) return false;
  file.close();

  // Thread n, set 0 is the n-th material of the file.
  for (int i = 0; i < calCoreModel->getCoreMaterialCount(); i++) {
    calCoreModel->createCoreMaterialThread(i);
    calCoreModel->setCoreMaterialId(i, 0, i);
  }

  // Cal3D cannot make a model instance without a skeleton (it aborts).
  if (calCoreModel->getCoreSkeleton() == nullptr) return false;
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
  meshRecords = new (std::nothrow) G3DTriangleMesh[submeshCount]();
  if (meshRecords == nullptr) return false;
  meshRecordCount = submeshCount;
  fogCapacities.assign(static_cast<size_t>(submeshCount), 0);
  return true;
}

iImage* csCal3DMeshObject::ReadTextureImage(const std::string& name) {
  std::ifstream file(modelPath + name, std::ios::in | std::ios::binary);
  if (!file.is_open()) return nullptr;

  // The header says how many bytes to read; its check bounds that before
  // anything is allocated, so neither a lying header nor an endless file (a
  // device, say) can make us read or hold more.
  uint8_t headerBytes[rigweave::kRawHeaderSize];
  file.read(reinterpret_cast<char*>(headerBytes), sizeof headerBytes);
  rigweave::RawTextureHeader header;
  if (rigweave::ParseRawTextureHeader(headerBytes, static_cast<size_t>(file.gcount()), header) !=
      rigweave::RawTextureError::None)
    return nullptr;
  const size_t fileSize = rigweave::kRawHeaderSize + header.DataSize();
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[fileSize]);
  if (!bytes) return nullptr;
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(fileSize));
  const size_t read = static_cast<size_t>(file.gcount());
  file.close();

  // The same decoder the tests and the fuzzer run: a file shorter than its
  // header says gives no image.
  csRGBpixel* pixels = nullptr;
  if (rigweave::DecodeRawTexture(bytes.get(), read, header, pixels) !=
      rigweave::RawTextureError::None)
    return nullptr;
  bytes.reset();

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

  loader->LoadTexture(modelName, kFallbackTexture, kFallbackTextureFlags, nullptr, false);
  defaultMaterial = engine->FindMaterial(modelName, nullptr);

  if (!LoadConfigFile(modelName)) return false;

  for (int i = 0; i < calCoreModel->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = calCoreModel->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      const std::string name = material->getMapFilename(j);
      iImage* image = ReadTextureImage(name);
      if (image == nullptr) {
        Diagnose(": Can't load texture ", name);
        material->setMapUserData(j, nullptr);
        continue;
      }
      iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image);
      // The texture list keeps the image alive; our creation reference is not needed.
      image->DecRef();
      iMaterialWrapper* wrapper = engine->CreateMaterial(name.c_str(), texture);
      material->setMapUserData(j, static_cast<Cal::UserData>(wrapper));
    }
  }

  ComputeBoxMesh();
  return true;
}
