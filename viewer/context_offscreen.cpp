// Chooses the off-screen context: EGL first, OSMesa when EGL cannot be had
// (or was left out of the build), as each machine's Mesa allows.
#include "viewer/gl_context.h"

namespace rwview {

const char* OffscreenName(Offscreen kind) {
  switch (kind) {
    case Offscreen::Egl:
      return "egl";
    case Offscreen::OsMesa:
      return "osmesa";
    case Offscreen::Any:
      break;
  }
  return "auto";
}

std::string RendererName(const rwengine::GlApi& api) {
  const auto* name = api.glGetString != nullptr ? api.glGetString(GL_RENDERER) : nullptr;
  return name != nullptr ? reinterpret_cast<const char*>(name) : "an unnamed renderer";
}

#if !RIGWEAVE_HAVE_EGL
std::unique_ptr<GlContext> CreateEglContext(int, int, std::string& error) {
  error = "this build has no EGL";
  return nullptr;
}
#endif
#if !RIGWEAVE_HAVE_OSMESA
std::unique_ptr<GlContext> CreateOsMesaContext(int, int, std::string& error) {
  error = "this build has no OSMesa";
  return nullptr;
}
#endif

std::unique_ptr<GlContext> CreateOffscreenContext(int width, int height, std::string& error,
                                                  Offscreen kind) {
  if (kind == Offscreen::OsMesa) return CreateOsMesaContext(width, height, error);
  std::unique_ptr<GlContext> context = CreateEglContext(width, height, error);
  if (context || kind == Offscreen::Egl) return context;
  std::string eglError = error;
  context = CreateOsMesaContext(width, height, error);
  if (!context) error = "no off-screen GL context: " + eglError + "; " + error;
  return context;
}

}  // namespace rwview
