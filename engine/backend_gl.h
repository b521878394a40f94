// A backend that rasterises with OpenGL's fixed-function pipeline (GL 1.x/2.1
// compatibility), into whatever context is current: Mesa's off-screen one or
// a window's.
//
// GL entry points are reached through a table filled from the context's own
// lookup function, never through linked symbols: Mesa's off-screen library
// and the windowing GL library both export the gl* names, and a program that
// offers both contexts can only call the right one through its context.
//
// Winding: camera space looks down +z with +y up, and the module's axis turn
// and every camera and movable transform are rotations, so a triangle wound
// counter-clockwise about its outward normal in the model's right-handed
// space (Cal3D's convention, and the sample character's) reaches the screen
// clockwise when its outside faces the eye. Clockwise is therefore the front:
// the module's first draw of each triangle shows the outside, its second,
// reversed draw shows only where the inside is in view. A mirrored view turns
// every winding over on screen, so it takes counter-clockwise as the front.
//
// Textures: image row 0 is uploaded first, which puts it at t = 0, the bottom
// of a texture in GL's convention.
#pragma once

#include <GL/gl.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/backend.h"
#include "host/ref.h"

namespace rwengine {

#define RIGWEAVE_GL_FUNCTIONS(X) \
  X(glGetError)                  \
  X(glGetString)                 \
  X(glViewport)                  \
  X(glClearColor)                \
  X(glClearDepth)                \
  X(glClear)                     \
  X(glEnable)                    \
  X(glDisable)                   \
  X(glDepthFunc)                 \
  X(glDepthMask)                 \
  X(glCullFace)                  \
  X(glFrontFace)                 \
  X(glShadeModel)                \
  X(glMatrixMode)                \
  X(glLoadMatrixd)               \
  X(glLoadIdentity)              \
  X(glGenTextures)               \
  X(glDeleteTextures)            \
  X(glBindTexture)               \
  X(glTexImage2D)                \
  X(glTexParameteri)             \
  X(glTexEnvi)                   \
  X(glPixelStorei)               \
  X(glEnableClientState)         \
  X(glDisableClientState)        \
  X(glVertexPointer)             \
  X(glTexCoordPointer)           \
  X(glColorPointer)              \
  X(glDrawElements)              \
  X(glColor4f)                   \
  X(glBlendFunc)                 \
  X(glAlphaFunc)                 \
  X(glFinish)                    \
  X(glReadBuffer)                \
  X(glReadPixels)

// The GL entry points the backend calls, looked up once per context.
struct GlApi {
#define RIGWEAVE_GL_MEMBER(name) decltype(&::name) name = nullptr;
  RIGWEAVE_GL_FUNCTIONS(RIGWEAVE_GL_MEMBER)
#undef RIGWEAVE_GL_MEMBER

  using Lookup = void* (*)(const char* name, void* context);
  // Fills every entry; false (with the first name that could not be found
  // in `missing`) when the context lacks one.
  bool Load(Lookup lookup, void* context, std::string* missing = nullptr);
};

class GlBackend : public RenderBackend {
 public:
  // Near and far planes in camera-space units: the sample character is two
  // units tall and a crowd stays within a few dozen units of the eye.
  static constexpr double kNearPlane = 0.05;
  static constexpr double kFarPlane = 500.0;

  // The API must belong to the context that is current whenever the backend
  // is called, for the backend's whole life.
  explicit GlBackend(const GlApi& api);
  ~GlBackend() override;
  GlBackend(const GlBackend&) = delete;
  GlBackend& operator=(const GlBackend&) = delete;

  void BeginFrame(int width, int height) override;
  void EndFrame() override;
  void SetRenderState(G3D_RENDERSTATEOPTION op, int32_t value) override;
  void SetObjectToCamera(const csReversibleTransform& objectToCamera) override;
  void DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) override;
  void OnLock(iVertexBuffer*, const csVector3*, const csVector2*, const csColor*, int,
              int) override {}
  void OnUnlock(iVertexBuffer*) override {}
  void OnFog(const G3DTriangleMesh*, int) override {}

  void SetBackground(uint8_t red, uint8_t green, uint8_t blue);
  // Near and far planes for scenes of other sizes than the sample's; taken
  // as they are when 0 < near < far, else ignored.
  void SetDepthRange(double near, double far);
  // The last frame's pixels, RGB, the picture's top row first; valid after EndFrame.
  void ReadPixels(int width, int height, std::vector<uint8_t>& rgb);

  // The cache holds a reference on each handle it uploaded, so a handle
  // cannot die and leave its address to another while cached. Forget them
  // before the engine that made them (and the module whose images they
  // show) goes.
  void ForgetTexture(iTextureHandle* handle);
  void ForgetAllTextures();
  int TexturesCached() const { return static_cast<int>(textures_.size()); }
  int TextureUploads() const { return uploads_; }

  // Time spent inside the backend's calls, GL's own work included (EndFrame
  // waits for it), and what was drawn, since the last ResetCounters.
  double BusySeconds() const { return busy_.count(); }
  long TrianglesDrawn() const { return triangles_; }
  long Draws() const { return draws_; }
  void ResetCounters();

 private:
  class Busy;
  // Zero for a record without a usable texture.
  GLuint TextureFor(const G3DTriangleMesh& record);
  void ApplyZMode(csZBufMode mode);
  void LoadMatrices(const DrawGeometry& geometry, bool mirrored);
  void DrawFog(const G3DTriangleMesh& record, const DrawGeometry& geometry);

  GlApi gl_;
  float background_[3] = {0.78f, 0.82f, 0.88f};
  double near_ = kNearPlane, far_ = kFarPlane;
  std::unordered_map<iTextureHandle*, std::pair<csRef<iTextureHandle>, GLuint>> textures_;
  // Per-vertex fog colours, grown to the largest sub-mesh and then reused.
  std::vector<float> fogColors_;
  int uploads_ = 0;
  std::chrono::duration<double> busy_{0};
  long triangles_ = 0;
  long draws_ = 0;
};

}  // namespace rwengine
