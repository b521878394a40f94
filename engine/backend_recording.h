// A backend that keeps every call it receives, in order, with copies of what
// the caller's arrays held at that moment, so tests can inspect a frame after
// the module has reused or freed its buffers.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/backend.h"

namespace rwengine {

struct RecordedCall {
  enum Kind { BeginFrame, EndFrame, RenderState, ObjectToCamera, Draw, Fog, Lock, Unlock };
  Kind kind = BeginFrame;

  // BeginFrame
  int width = 0, height = 0;
  // RenderState
  G3D_RENDERSTATEOPTION op = G3DRENDERSTATE_ZBUFFERMODE;
  int32_t value = 0;
  // ObjectToCamera; for Draw the transform the mesh was drawn with
  csReversibleTransform transform;

  // Draw. `record` is a copy whose pointers are the module's and must not be
  // followed later; the vectors are the copies to read.
  G3DTriangleMesh record{};
  std::vector<csTriangle> triangles;
  std::vector<csVector3> vertices;
  std::vector<csVector2> texels;        // empty when none were locked
  std::vector<csColor> colors;          // empty when none were locked
  int count = 0;                        // also Lock (vertices locked) and Fog (values filled)
  iMaterialHandle* material = nullptr;  // pointer only: no reference is held
  Projection projection;
  csZBufMode zbufMode = CS_ZBUF_NONE;

  // Fog: the record the view filled, as it was passed (not a copy).
  const G3DTriangleMesh* fogRecord = nullptr;
  bool doFog = false;
  // Fog and Draw: copies of the record's fog values when do_fog is set.
  std::vector<G3DFogInfo> fog;

  // Lock and Unlock: the buffer; for Lock the caller's arrays (not copies).
  iVertexBuffer* buffer = nullptr;
  const csVector3* lockVertices = nullptr;
  const csVector2* lockTexels = nullptr;
  const csColor* lockColors = nullptr;
  int bufNumber = 0;
};

class RecordingBackend : public RenderBackend {
 public:
  void BeginFrame(int width, int height) override;
  void EndFrame() override;
  void SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) override;
  void SetObjectToCamera(const csReversibleTransform& objectToCamera) override;
  void DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) override;
  void OnLock(iVertexBuffer* buffer, const csVector3* vertices, const csVector2* texels,
              const csColor* colors, int count, int bufNumber) override;
  void OnUnlock(iVertexBuffer* buffer) override;
  void OnFog(const G3DTriangleMesh* record, int count) override;

  const std::vector<RecordedCall>& Calls() const { return calls_; }
  // The calls of one kind, in order.
  std::vector<const RecordedCall*> Of(RecordedCall::Kind kind) const;
  size_t CountOf(RecordedCall::Kind kind) const;
  void Clear() { calls_.clear(); }

 private:
  RecordedCall& Add(RecordedCall::Kind kind);
  std::vector<RecordedCall> calls_;
};

}  // namespace rwengine
