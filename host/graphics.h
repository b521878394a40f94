// The engine's 3D renderer as a mesh object sees it: render states, the
// object-to-camera transform, vertex buffers and the triangle-mesh record.
#pragma once

#include <cstdint>

#include "host/math_types.h"
#include "host/scf.h"

struct iImage;
struct iVertexBuffer;
struct iVertexBufferManager;

enum csZBufMode : int32_t {
  CS_ZBUF_NONE = 0,  // neither test nor write
  CS_ZBUF_FILL = 1,  // write, no test
  CS_ZBUF_TEST = 2,  // test, no write
  CS_ZBUF_USE = 3,   // test and write
};

enum G3D_RENDERSTATEOPTION : int32_t {
  G3DRENDERSTATE_ZBUFFERMODE = 0,
  // The z-buffer mode that triangle meshes are drawn with; mesh objects set it
  // alongside state 0.
  G3DRENDERSTATE_MESHZBUFFERMODE = 7,
};

// Mix mode word: the texture's colour replaces what is below.
constexpr uint32_t CS_FX_COPY = 0x00000000;
// The mix mode of skinned characters: copy, with the texture's keycolour honoured.
constexpr uint32_t CS_FX_KEYCOLOR = 0x04000000;

enum csVertexMode : int32_t {
  VM_WORLDSPACE = 0,  // object space; the renderer applies its object-to-camera transform
  VM_VIEWSPACE = 1,
};

// Fog of one vertex, filled by the view's fog computation.
struct G3DFogInfo {
  float r, g, b;
  float intensity;
};

struct iTextureHandle : iBase {
  SCF_INTERFACE(iTextureHandle, 0, 0, 1)
  virtual iImage* GetImage() = 0;

 protected:
  ~iTextureHandle() = default;
};

struct iMaterialHandle : iBase {
  SCF_INTERFACE(iMaterialHandle, 0, 0, 1)
  virtual iTextureHandle* GetTexture() = 0;

 protected:
  ~iMaterialHandle() = default;
};

struct G3DTriangleMesh {
  int32_t num_vertices_pool;  // vertex sets in `buffers`; 1 when not morphing
  int32_t num_triangles;
  csTriangle* triangles;
  int32_t clip_portal;
  int32_t clip_plane;
  int32_t clip_z_plane;
  bool use_vertex_color;
  bool do_fog;
  bool do_mirror;
  bool do_morph_texels;
  bool do_morph_colors;
  csVertexMode vertex_mode;
  uint32_t mixmode;
  float morph_factor;
  iVertexBuffer* buffers[2];
  iMaterialHandle* mat_handle;
  G3DFogInfo* vertex_fog;
};

struct iVertexBuffer : iBase {
  SCF_INTERFACE(iVertexBuffer, 0, 0, 1)
  virtual int32_t GetPriority() = 0;
  virtual bool IsLocked() = 0;
  // The geometry of vertex set `set` while locked, null otherwise.
  virtual const csVector3* GetVertices(int set) = 0;
  virtual const csVector2* GetTexels() = 0;
  virtual const csColor* GetColors() = 0;
  virtual int32_t GetVertexCount() = 0;

 protected:
  ~iVertexBuffer() = default;
};

struct iVertexBufferManagerClient : iBase {
  SCF_INTERFACE(iVertexBufferManagerClient, 0, 0, 1)
  // The manager shuts down: its buffers are no longer usable.
  virtual void ManagerClosing() = 0;

 protected:
  ~iVertexBufferManagerClient() = default;
};

struct iVertexBufferManager : iBase {
  SCF_INTERFACE(iVertexBufferManager, 0, 0, 1)
  // 4. A new buffer with one reference for the caller.
  virtual iVertexBuffer* CreateBuffer(int priority) = 0;
  virtual void ReservedSlot5() {}
  // 6. The buffer holds the given arrays (not copies) until UnlockBuffer.
  virtual bool LockBuffer(iVertexBuffer* buffer, csVector3* vertices, csVector2* texels,
                          csColor* colors, int num_vertices, int buf_number) = 0;
  // 7.
  virtual void UnlockBuffer(iVertexBuffer* buffer) = 0;
  virtual void ReservedSlot8() {}
  // 9.
  virtual void AddClient(iVertexBufferManagerClient* client) = 0;
  virtual void RemoveClient(iVertexBufferManagerClient* client) = 0;

 protected:
  ~iVertexBufferManager() = default;
};

struct iGraphics3D : iBase {
  SCF_INTERFACE(iGraphics3D, 0, 0, 1)
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool BeginDraw() = 0;
  virtual void FinishDraw() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  // Projection: focal length in pixels and the screen centre.
  virtual void SetPerspectiveAspect(float aspect) = 0;
  virtual void SetPerspectiveCenter(int x, int y) = 0;
  virtual void ReservedSlot12() {}
  virtual void ReservedSlot13() {}
  virtual void ReservedSlot14() {}
  // 15.
  virtual void SetObjectToCamera(const csReversibleTransform& o2c) = 0;
  // 16.
  virtual const csReversibleTransform& GetObjectToCamera() = 0;
  virtual void ReservedSlot17() {}
  virtual void ReservedSlot18() {}
  virtual void ReservedSlot19() {}
  virtual void ReservedSlot20() {}
  virtual void ReservedSlot21() {}
  virtual void ReservedSlot22() {}
  virtual void ReservedSlot23() {}
  virtual void ReservedSlot24() {}
  virtual void ReservedSlot25() {}
  virtual void ReservedSlot26() {}
  virtual void ReservedSlot27() {}
  virtual void ReservedSlot28() {}
  // 29.
  virtual bool SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) = 0;
  virtual int32_t GetRenderState(G3D_RENDERSTATEOPTION op) = 0;
  virtual void ReservedSlot31() {}
  virtual void ReservedSlot32() {}
  virtual void ReservedSlot33() {}
  // 34. Draws the record's triangles from vertex set 0 of buffers[0], which
  // is locked.
  virtual void DrawTriangleMesh(G3DTriangleMesh& mesh) = 0;
  virtual void ReservedSlot35() {}
  virtual void ReservedSlot36() {}
  virtual void ReservedSlot37() {}
  virtual void ReservedSlot38() {}
  virtual void ReservedSlot39() {}
  virtual void ReservedSlot40() {}
  virtual void ReservedSlot41() {}
  virtual void ReservedSlot42() {}
  virtual void ReservedSlot43() {}
  virtual void ReservedSlot44() {}
  virtual void ReservedSlot45() {}
  // 46. The renderer's manager; no reference is handed to the caller.
  virtual iVertexBufferManager* GetVertexBufferManager() = 0;

 protected:
  ~iGraphics3D() = default;
};
