// The off-screen context: Mesa renders in software into a buffer we own.
#include <GL/osmesa.h>

#include <vector>

#include "viewer/gl_context.h"

namespace rwview {
namespace {

class OffscreenContext : public GlContext {
 public:
  OffscreenContext(int width, int height) : width_(width), height_(height) {}
  ~OffscreenContext() override {
    if (context_ != nullptr) OSMesaDestroyContext(context_);
  }

  bool Open(std::string& error) {
    // RGBA with a 24-bit depth buffer; no stencil or accumulation buffer.
    context_ = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    if (context_ == nullptr) {
      error = "Mesa cannot create an off-screen GL context";
      return false;
    }
    buffer_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4);
    if (!OSMesaMakeCurrent(context_, buffer_.data(), GL_UNSIGNED_BYTE, width_, height_)) {
      error = "Mesa cannot make its off-screen context current";
      return false;
    }
    std::string missing;
    if (!api_.Load(&Lookup, nullptr, &missing)) {
      error = "the off-screen GL context lacks " + missing;
      return false;
    }
    return true;
  }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  const rwengine::GlApi& Api() const override { return api_; }
  std::string Description() const override { return "OSMesa, " + RendererName(api_); }

 private:
  static void* Lookup(const char* name, void*) {
    return reinterpret_cast<void*>(OSMesaGetProcAddress(name));
  }

  int width_, height_;
  OSMesaContext context_ = nullptr;
  std::vector<unsigned char> buffer_;
  rwengine::GlApi api_;
};

}  // namespace

std::unique_ptr<GlContext> CreateOsMesaContext(int width, int height, std::string& error) {
  auto context = std::make_unique<OffscreenContext>(width, height);
  if (!context->Open(error)) return nullptr;
  return context;
}

}  // namespace rwview
