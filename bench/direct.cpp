#include "bench/direct.h"

#include <algorithm>

#include "formats/raw_texture.h"
#include "formats/whole_file.h"
#include "render/engine_space.h"
#include "render/face_reversal.h"

namespace rwbench {

void FrameBuffers::FitTo(CalModel& model) {
  CalRenderer* renderer = model.getRenderer();
  if (!renderer->beginRendering()) return;
  size_t maxVertices = 0, maxFaces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      maxVertices = std::max(maxVertices, static_cast<size_t>(renderer->getVertexCount()));
      maxFaces = std::max(maxFaces, static_cast<size_t>(renderer->getFaceCount()));
    }
  }
  renderer->endRendering();
  vertices.resize(std::max(vertices.size(), maxVertices * 3));
  texels.resize(std::max(texels.size(), maxVertices * 2));
  faces.resize(std::max(faces.size(), maxFaces * 3));
  reversed.resize(faces.size());
}

bool DirectCharacter::ReadTextures(const std::string& folder,
                                   std::vector<std::vector<uint8_t>>& into) {
  for (int i = 0; i < Core()->getCoreMaterialCount(); i++) {
    CalCoreMaterial* material = Core()->getCoreMaterial(i);
    for (int j = 0; j < material->getMapCount(); j++) {
      into.emplace_back();
      if (rigweave::ReadWholeFile(folder + material->getMapFilename(j),
                                  rigweave::kMaxRawTextureFileBytes,
                                  into.back()) != rigweave::FileError::None)
        return false;
    }
  }
  return true;
}

bool DirectCharacter::Walk(int animationId, float clearDelay, float blendDelay, float weight) {
  CalMixer* mixer = Model()->getMixer();
  mixer->clearCycle(0, clearDelay);
  return mixer->blendCycle(animationId, weight, blendDelay);
}

int DirectCharacter::FetchFaces(FrameBuffers& buffers) {
  CalRenderer* renderer = Model()->getRenderer();
  if (!renderer->beginRendering()) return 0;
  int faces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      faces += renderer->getFaces(buffers.faces.data());
    }
  }
  renderer->endRendering();
  return faces;
}

int DirectCharacter::Frame(float seconds, FrameBuffers& buffers) {
  static_assert(sizeof(csTriangle) == 3 * sizeof(CalIndex), "faces are read as triangles");
  rigweave::EngineSpaceJob turn;
  turn.scale = static_cast<float>(Scale() * rigweave::kDrawnUnitsPerModelUnit);
  rigweave::FaceReversalJob reversal;
  Model()->update(seconds);
  CalRenderer* renderer = Model()->getRenderer();
  if (!renderer->beginRendering()) return 0;
  int faces = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      const int vertices = renderer->getVertices(buffers.vertices.data());
      turn.input = {reinterpret_cast<const csVector3*>(buffers.vertices.data()),
                    static_cast<size_t>(vertices)};
      turn.output = {reinterpret_cast<csVector3*>(buffers.vertices.data()),
                     static_cast<size_t>(vertices)};
      turn.Run();
      renderer->getTextureCoordinates(0, buffers.texels.data());
      const int count = renderer->getFaces(buffers.faces.data());
      reversal.input = {reinterpret_cast<const csTriangle*>(buffers.faces.data()),
                        static_cast<size_t>(count)};
      reversal.output = {reinterpret_cast<csTriangle*>(buffers.reversed.data()),
                         static_cast<size_t>(count)};
      reversal.Run();
      faces += count;
    }
  }
  renderer->endRendering();
  return faces;
}

}  // namespace rwbench
