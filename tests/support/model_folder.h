// A throw-away folder with a models/ folder in it, removed with the object,
// and writers for the Cal3D and raw texture files a test needs. A stage
// reads models there once its file system's root is Root().
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/math_types.h"

namespace rwtest {

struct TestSubmesh {
  std::vector<csVector3> vertices;
  std::vector<std::array<int, 3>> faces;
  int materialThread = 0;
  // Level-of-detail data as Cal3D stores it: the last `lodCount` vertices
  // may collapse. Empty lists mean collapse id -1 and no faces for every vertex.
  int lodCount = 0;
  std::vector<int> collapseIds;
  std::vector<int> faceCollapses;
};

// A square of two triangles in the z = 0 plane, corner `origin`, side `size`.
TestSubmesh Quad(const csVector3& origin, float size, int materialThread = 0);
// A strip of `quads` squares: 2 * (quads + 1) vertices and 2 * quads faces.
TestSubmesh Strip(int quads, int materialThread = 0);

// The bytes of a raw texture file: the 12-byte header, then `pixels` as given.
std::string RawTextureBytes(int32_t width, int32_t height, int32_t depth,
                            const std::vector<uint8_t>& pixels = {});

class ModelFolder {
 public:
  ModelFolder();
  ~ModelFolder();
  ModelFolder(const ModelFolder&) = delete;
  ModelFolder& operator=(const ModelFolder&) = delete;

  // The folder that holds models/.
  std::string Root() const { return root_.string(); }
  // Path of a file below models/.
  std::string Path(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;
  // One bone at the origin, so that rest-pose vertices are the mesh's own.
  bool WriteSkeleton(const std::string& name) const;
  // Moves the bone from the origin to `end` over `duration` seconds.
  bool WriteAnimation(const std::string& name, float duration, const csVector3& end) const;
  bool WriteMesh(const std::string& name, const std::vector<TestSubmesh>& submeshes) const;
  bool WriteMaterial(const std::string& name, const std::vector<std::string>& maps) const;
  void WriteRawTexture(const std::string& name, int32_t width, int32_t height, int32_t depth,
                       const std::vector<uint8_t>& pixels) const;

 private:
  std::filesystem::path root_;
};

}  // namespace rwtest
