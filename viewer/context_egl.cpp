// The off-screen context through EGL: Mesa's surfaceless platform, a pbuffer
// to draw into, and the software rasteriser, so that the pictures do not
// depend on a GPU and match OSMesa's.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstdlib>

#include "viewer/gl_context.h"

namespace rwview {
namespace {

std::string EglError(const char* what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(eglGetError()));
  return std::string(what) + " (EGL error " + code + ")";
}

class EglContext : public GlContext {
 public:
  EglContext(int width, int height) : width_(width), height_(height) {}
  ~EglContext() override {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
    eglTerminate(display_);
  }

  bool Open(std::string& error) {
    if (!OpenDisplay(error) || !OpenSurface(error)) return false;
    std::string missing;
    if (!api_.Load(&Lookup, nullptr, &missing)) {
      error = "the EGL context lacks " + missing;
      return false;
    }
    return true;
  }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  const rwengine::GlApi& Api() const override { return api_; }
  std::string Description() const override { return "EGL surfaceless, " + RendererName(api_); }

 private:
  static void* Lookup(const char* name, void*) {
    return reinterpret_cast<void*>(eglGetProcAddress(name));
  }

  // Mesa's surfaceless display, with desktop OpenGL bound.
  bool OpenDisplay(std::string& error) {
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (extensions == nullptr ||
        std::string(extensions).find("EGL_MESA_platform_surfaceless") == std::string::npos ||
        getPlatformDisplay == nullptr) {
      error = "EGL has no surfaceless platform";
      return false;
    }
    // Software, as OSMesa draws: the same pictures on every machine.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, &major, &minor)) {
      display_ = EGL_NO_DISPLAY;
      error = EglError("EGL cannot open its surfaceless display");
      return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
      error = EglError("EGL offers no desktop OpenGL");
      return false;
    }
    return true;
  }

  // A pbuffer of the picture's size and a context drawing into it, current.
  bool OpenSurface(std::string& error) {
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_PBUFFER_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_ALPHA_SIZE,
                             8,
                             EGL_DEPTH_SIZE,
                             24,
                             EGL_NONE};
    EGLConfig config = nullptr;
    EGLint found = 0;
    if (!eglChooseConfig(display_, wanted, &config, 1, &found) || found < 1) {
      error = EglError("EGL has no RGBA pbuffer with a depth buffer");
      return false;
    }
    const EGLint size[] = {EGL_WIDTH, width_, EGL_HEIGHT, height_, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, size);
    if (surface_ == EGL_NO_SURFACE) {
      error = EglError("EGL cannot make a pbuffer of that size");
      return false;
    }
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    if (context_ == EGL_NO_CONTEXT || !eglMakeCurrent(display_, surface_, surface_, context_)) {
      error = EglError("EGL cannot make a GL context current");
      return false;
    }
    return true;
  }

  int width_, height_;
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLSurface surface_ = EGL_NO_SURFACE;
  EGLContext context_ = EGL_NO_CONTEXT;
  rwengine::GlApi api_;
};

}  // namespace

std::unique_ptr<GlContext> CreateEglContext(int width, int height, std::string& error) {
  auto context = std::make_unique<EglContext>(width, height);
  if (!context->Open(error)) return nullptr;
  return context;
}

}  // namespace rwview
