#include "formats/cal3d_objects.h"

#include <cal3d/coretrack.h>

#include <array>
#include <exception>
#include <memory>
#include <utility>

#include "formats/cal3d_check.h"

namespace rigweave {
namespace {

// Cal3D reports some failures by throwing (std::length_error, bad_alloc).
template <class Read>
auto WithoutThrowing(Read read) -> decltype(read()) {
  try {
    return read();
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Cal3D's binary reader turns all faces of a sub-mesh round when the first
// one winds with its vertex normal; its XML reader keeps them as written.
void KeepWrittenWinding(CalCoreMesh& mesh, const std::vector<std::array<int32_t, 3>>& written) {
  for (int s = 0; s < mesh.getCoreSubmeshCount() && s < static_cast<int>(written.size()); s++) {
    std::vector<CalCoreSubmesh::Face>& faces = mesh.getCoreSubmesh(s)->getVectorFace();
    const std::array<int32_t, 3>& first = written[static_cast<size_t>(s)];
    if (faces.empty() || (faces[0].vertexId[1] == first[1] && faces[0].vertexId[2] == first[2]))
      continue;
    for (CalCoreSubmesh::Face& face : faces) std::swap(face.vertexId[1], face.vertexId[2]);
  }
}

// Cal3D 0.11 reads no morph target from a file; it holds them dense, a
// position and a normal for every vertex, and blends
// (1 - sum of weights) * base + sum of weight * target.
bool AddMorphTargets(CalCoreMesh& mesh, const std::vector<DenseMorphTarget>& targets) {
  for (const DenseMorphTarget& target : targets) {
    CalCoreSubmesh* submesh = mesh.getCoreSubmesh(target.submesh);
    if (submesh == nullptr) return false;
    const int vertexCount = submesh->getVertexCount();
    if (target.positions.size() != 3 * static_cast<size_t>(vertexCount) ||
        target.normals.size() != target.positions.size())
      return false;
    auto morph = std::make_unique<CalCoreSubMorphTarget>();
    if (!morph->reserve(vertexCount)) return false;
    for (int v = 0; v < vertexCount; v++) {
      const float* p = &target.positions[3 * static_cast<size_t>(v)];
      const float* n = &target.normals[3 * static_cast<size_t>(v)];
      CalCoreSubMorphTarget::BlendVertex blend;
      blend.position.set(p[0], p[1], p[2]);
      blend.normal.set(n[0], n[1], n[2]);
      morph->setBlendVertex(v, blend);
    }
    // The sub-mesh owns and deletes it from here on.
    submesh->addCoreSubMorphTarget(morph.release());
  }
  return true;
}

}  // namespace

CalCoreSkeletonPtr ReadCoreSkeleton(std::vector<uint8_t>& bytes) {
  return WithoutThrowing([&] { return CalLoader::loadCoreSkeleton(bytes.data()); });
}

CalCoreAnimationPtr ReadCoreAnimation(std::vector<uint8_t>& bytes, CalCoreSkeleton* skeleton) {
  return WithoutThrowing([&] { return CalLoader::loadCoreAnimation(bytes.data(), skeleton); });
}

CalCoreMeshPtr ReadCoreMesh(std::vector<uint8_t>& bytes, bool xml,
                            const std::vector<DenseMorphTarget>& morphTargets) {
  return WithoutThrowing([&] {
    CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(bytes.data());
    if (mesh && xml) KeepWrittenWinding(*mesh, FirstFaces(bytes.data(), bytes.size()));
    if (mesh && !AddMorphTargets(*mesh, morphTargets)) return CalCoreMeshPtr();
    return mesh;
  });
}

std::vector<float> RestTranslations(CalCoreSkeleton& skeleton) {
  std::vector<float> rest;
  for (CalCoreBone* bone : skeleton.getVectorCoreBone()) {
    const CalVector& t = bone->getTranslation();
    rest.insert(rest.end(), {t.x, t.y, t.z});
  }
  return rest;
}

CalCoreMaterialPtr ReadCoreMaterial(std::vector<uint8_t>& bytes) {
  return WithoutThrowing([&] { return CalLoader::loadCoreMaterial(bytes.data()); });
}

void FreeTracks(CalCoreAnimation& animation) {
  for (CalCoreTrack* track : animation.getListCoreTrack()) {
    track->destroy();
    delete track;
  }
  animation.getListCoreTrack().clear();
}

}  // namespace rigweave
