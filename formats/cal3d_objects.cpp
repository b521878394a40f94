#include "formats/cal3d_objects.h"

#include <cal3d/coretrack.h>

#include <array>
#include <exception>
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

}  // namespace

CalCoreSkeletonPtr ReadCoreSkeleton(std::vector<uint8_t>& bytes) {
  return WithoutThrowing([&] { return CalLoader::loadCoreSkeleton(bytes.data()); });
}

CalCoreAnimationPtr ReadCoreAnimation(std::vector<uint8_t>& bytes, CalCoreSkeleton* skeleton) {
  return WithoutThrowing([&] { return CalLoader::loadCoreAnimation(bytes.data(), skeleton); });
}

CalCoreMeshPtr ReadCoreMesh(std::vector<uint8_t>& bytes, bool xml) {
  return WithoutThrowing([&] {
    CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(bytes.data());
    if (mesh && xml) KeepWrittenWinding(*mesh, FirstFaces(bytes.data(), bytes.size()));
    return mesh;
  });
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
