// The renderer a mesh object draws through. It keeps the state the module
// sets between calls (projection, object-to-camera transform, render states),
// checks every triangle mesh before it goes further, and hands each call on
// to a RenderBackend.
#pragma once

#include "engine/backend.h"
#include "engine/live_objects.h"
#include "engine/vertex_buffer.h"
#include "host/graphics.h"
#include "host/ref.h"
#include "host/scf_impl.h"

namespace rwengine {

class Graphics3D : public scfImplementation<Graphics3D, iGraphics3D>,
                   private LiveCounted<Graphics3D> {
 public:
  static constexpr const char kLiveName[] = "Graphics3D";
  static constexpr int kRenderStateCount = 16;

  // Open, with the centre in the middle and a 60 degree horizontal view.
  explicit Graphics3D(int width = 640, int height = 480);
  // Closes the manager first, so no client keeps a buffer of a dead renderer.
  ~Graphics3D() override;

  bool Open() override;
  void Close() override;
  // False while closed.
  bool BeginDraw() override;
  void FinishDraw() override;
  int GetWidth() override { return width_; }
  int GetHeight() override { return height_; }
  void SetPerspectiveAspect(float aspect) override { aspect_ = aspect; }
  void SetPerspectiveCenter(int x, int y) override { centerX_ = x, centerY_ = y; }
  void SetObjectToCamera(const csReversibleTransform& o2c) override;
  const csReversibleTransform& GetObjectToCamera() override { return objectToCamera_; }
  // False for options outside the state table.
  bool SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) override;
  int32_t GetRenderState(G3D_RENDERSTATEOPTION op) override;
  // Records that cannot be drawn safely (closed renderer, buffers[0] not a
  // locked buffer of ours, missing triangles, an index outside the locked
  // vertices, fog asked for without fog values) are counted and dropped.
  void DrawTriangleMesh(G3DTriangleMesh& mesh) override;
  iVertexBufferManager* GetVertexBufferManager() override { return manager_.get(); }

  // Not owned; null draws nothing.
  void SetBackend(RenderBackend* backend);
  RenderBackend* GetBackend() const { return backend_; }
  VertexBufferManager* GetManager() const { return manager_.get(); }
  // Takes effect from the next frame; the centre moves to the middle.
  void SetSize(int width, int height);
  float GetPerspectiveAspect() const { return aspect_; }
  Projection GetProjection() const;
  bool IsOpen() const { return open_; }
  int DrawsAccepted() const { return drawsAccepted_; }
  int DrawsRejected() const { return drawsRejected_; }

 private:
  bool Drawable(const G3DTriangleMesh& mesh, VertexBuffer*& buffer);

  csRef<VertexBufferManager> manager_;
  RenderBackend* backend_ = nullptr;
  int width_, height_;
  float aspect_;
  int centerX_, centerY_;
  csReversibleTransform objectToCamera_;
  int32_t renderStates_[kRenderStateCount] = {};
  bool open_ = true;
  int drawsAccepted_ = 0;
  int drawsRejected_ = 0;
};

}  // namespace rwengine
