#include "engine/backend_recording.h"

namespace rwengine {

RecordedCall& RecordingBackend::Add(RecordedCall::Kind kind) {
  calls_.emplace_back();
  calls_.back().kind = kind;
  return calls_.back();
}

void RecordingBackend::BeginFrame(int width, int height) {
  RecordedCall& call = Add(RecordedCall::BeginFrame);
  call.width = width;
  call.height = height;
}

void RecordingBackend::EndFrame() {
  Add(RecordedCall::EndFrame);
}

void RecordingBackend::SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) {
  RecordedCall& call = Add(RecordedCall::RenderState);
  call.op = op;
  call.value = value;
}

void RecordingBackend::SetObjectToCamera(const csReversibleTransform& objectToCamera) {
  Add(RecordedCall::ObjectToCamera).transform = objectToCamera;
}

void RecordingBackend::DrawTriangleMesh(const G3DTriangleMesh& record,
                                        const DrawGeometry& geometry) {
  RecordedCall& call = Add(RecordedCall::Draw);
  call.record = record;
  call.material = record.mat_handle;
  call.transform = geometry.objectToCamera;
  call.projection = geometry.projection;
  call.zbufMode = geometry.zbufMode;
  call.count = geometry.count;
  const size_t n = geometry.count > 0 ? static_cast<size_t>(geometry.count) : 0;
  if (record.triangles != nullptr && record.num_triangles > 0)
    call.triangles.assign(record.triangles, record.triangles + record.num_triangles);
  if (geometry.vertices != nullptr) call.vertices.assign(geometry.vertices, geometry.vertices + n);
  if (geometry.texels != nullptr) call.texels.assign(geometry.texels, geometry.texels + n);
  if (geometry.colors != nullptr) call.colors.assign(geometry.colors, geometry.colors + n);
  if (record.do_fog && record.vertex_fog != nullptr)
    call.fog.assign(record.vertex_fog, record.vertex_fog + n);
}

void RecordingBackend::OnLock(iVertexBuffer* buffer, const csVector3* vertices,
                              const csVector2* texels, const csColor* colors, int count,
                              int bufNumber) {
  RecordedCall& call = Add(RecordedCall::Lock);
  call.buffer = buffer;
  call.lockVertices = vertices;
  call.lockTexels = texels;
  call.lockColors = colors;
  call.count = count;
  call.bufNumber = bufNumber;
}

void RecordingBackend::OnUnlock(iVertexBuffer* buffer) {
  Add(RecordedCall::Unlock).buffer = buffer;
}

void RecordingBackend::OnFog(const G3DTriangleMesh* record, int count) {
  RecordedCall& call = Add(RecordedCall::Fog);
  call.fogRecord = record;
  call.count = count;
  call.doFog = record != nullptr && record->do_fog;
  if (call.doFog && record->vertex_fog != nullptr && count > 0)
    call.fog.assign(record->vertex_fog, record->vertex_fog + count);
}

std::vector<const RecordedCall*> RecordingBackend::Of(RecordedCall::Kind kind) const {
  std::vector<const RecordedCall*> found;
  for (const RecordedCall& call : calls_)
    if (call.kind == kind) found.push_back(&call);
  return found;
}

size_t RecordingBackend::CountOf(RecordedCall::Kind kind) const {
  size_t n = 0;
  for (const RecordedCall& call : calls_) n += call.kind == kind ? 1 : 0;
  return n;
}

}  // namespace rwengine
