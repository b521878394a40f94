#include "support/model_folder.h"

#include <cal3d/cal3d.h>
#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>
#include <unistd.h>

#include <fstream>

namespace rwtest {

TestSubmesh Quad(const csVector3& origin, float size, int materialThread) {
  TestSubmesh shape;
  shape.vertices = {origin, origin + csVector3(size, 0, 0), origin + csVector3(size, size, 0),
                    origin + csVector3(0, size, 0)};
  shape.faces = {{0, 1, 2}, {0, 2, 3}};
  shape.materialThread = materialThread;
  return shape;
}

TestSubmesh Strip(int quads, int materialThread) {
  TestSubmesh shape;
  for (int i = 0; i <= quads; i++) {
    shape.vertices.emplace_back(static_cast<float>(i), 0.0f, 0.0f);
    shape.vertices.emplace_back(static_cast<float>(i), 1.0f, 0.0f);
  }
  for (int i = 0; i < quads; i++) {
    shape.faces.push_back({2 * i, 2 * i + 2, 2 * i + 3});
    shape.faces.push_back({2 * i, 2 * i + 3, 2 * i + 1});
  }
  shape.materialThread = materialThread;
  return shape;
}

ModelFolder::ModelFolder() {
  static int counter = 0;
  root_ = std::filesystem::temp_directory_path() /
          ("rigweave-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_ / "models");
}

ModelFolder::~ModelFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string ModelFolder::Path(const std::string& name) const {
  return (root_ / "models" / name);
}

void ModelFolder::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream(Path(name), std::ios::binary) << bytes;
}

bool ModelFolder::WriteSkeleton(const std::string& name) const {
  CalCoreSkeletonPtr skeleton = new CalCoreSkeleton();
  auto* bone = new CalCoreBone("root");
  bone->setParentId(-1);
  bone->setTranslation(CalVector(0, 0, 0));
  bone->setRotation(CalQuaternion());
  bone->setTranslationBoneSpace(CalVector(0, 0, 0));
  bone->setRotationBoneSpace(CalQuaternion());
  bone->setCoreSkeleton(skeleton.get());
  skeleton->addCoreBone(bone);
  skeleton->calculateState();
  return CalSaver::saveCoreSkeleton(Path(name), skeleton.get());
}

bool ModelFolder::WriteAnimation(const std::string& name, float duration,
                                 const csVector3& end) const {
  CalCoreAnimationPtr animation = new CalCoreAnimation();
  animation->setDuration(duration);
  auto* track = new CalCoreTrack();
  track->create();
  track->setCoreBoneId(0);
  const float times[] = {0.0f, duration};
  const CalVector positions[] = {CalVector(0, 0, 0), CalVector(end.x, end.y, end.z)};
  for (int i = 0; i < 2; i++) {
    auto* key = new CalCoreKeyframe();
    key->create();
    key->setTime(times[i]);
    key->setTranslation(positions[i]);
    key->setRotation(CalQuaternion());
    track->addCoreKeyframe(key);
  }
  animation->addCoreTrack(track);
  const bool saved = CalSaver::saveCoreAnimation(Path(name), animation.get());
  // Cal3D does not free an animation's tracks with it.
  for (CalCoreTrack* t : animation->getListCoreTrack()) {
    t->destroy();
    delete t;
  }
  animation->getListCoreTrack().clear();
  return saved;
}

bool ModelFolder::WriteMesh(const std::string& name,
                            const std::vector<TestSubmesh>& submeshes) const {
  CalCoreMeshPtr mesh = new CalCoreMesh();
  for (const TestSubmesh& shape : submeshes) {
    auto* sub = new CalCoreSubmesh();
    const int vertexCount = static_cast<int>(shape.vertices.size());
    sub->reserve(vertexCount, 1, static_cast<int>(shape.faces.size()), 0);
    sub->setCoreMaterialThreadId(shape.materialThread);
    sub->setLodCount(shape.lodCount);
    for (int i = 0; i < vertexCount; i++) {
      CalCoreSubmesh::Vertex vertex;
      const csVector3& p = shape.vertices[i];
      vertex.position = CalVector(p.x, p.y, p.z);
      vertex.normal = CalVector(0, 0, 1);
      vertex.collapseId = shape.collapseIds.empty() ? -1 : shape.collapseIds[i];
      vertex.faceCollapseCount = shape.faceCollapses.empty() ? 0 : shape.faceCollapses[i];
      vertex.vectorInfluence.push_back({0, 1.0f});
      sub->setVertex(i, vertex);
      sub->setTextureCoordinate(i, 0, {p.x, p.y});
    }
    for (size_t f = 0; f < shape.faces.size(); f++) {
      CalCoreSubmesh::Face face;
      for (int k = 0; k < 3; k++) face.vertexId[k] = shape.faces[f][k];
      sub->setFace(static_cast<int>(f), face);
    }
    mesh->addCoreSubmesh(sub);
  }
  return CalSaver::saveCoreMesh(Path(name), mesh.get());
}

bool ModelFolder::WriteMaterial(const std::string& name,
                                const std::vector<std::string>& maps) const {
  CalCoreMaterialPtr material = new CalCoreMaterial();
  const CalCoreMaterial::Color white = {255, 255, 255, 255};
  material->setAmbientColor(white);
  material->setDiffuseColor(white);
  material->setSpecularColor(white);
  material->setShininess(0);
  material->reserve(static_cast<int>(maps.size()));
  for (size_t i = 0; i < maps.size(); i++)
    material->setMap(static_cast<int>(i), CalCoreMaterial::Map{maps[i], nullptr});
  return CalSaver::saveCoreMaterial(Path(name), material.get());
}

std::string RawTextureBytes(int32_t width, int32_t height, int32_t depth,
                            const std::vector<uint8_t>& pixels) {
  std::string bytes;
  for (int32_t field : {width, height, depth})
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<char>((static_cast<uint32_t>(field) >> shift) & 0xFF));
  bytes.append(pixels.begin(), pixels.end());
  return bytes;
}

void ModelFolder::WriteRawTexture(const std::string& name, int32_t width, int32_t height,
                                  int32_t depth, const std::vector<uint8_t>& pixels) const {
  WriteFile(name, RawTextureBytes(width, height, depth, pixels));
}

}  // namespace rwtest
