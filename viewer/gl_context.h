// Where the GL backend draws: off-screen (Mesa's software rasteriser, no
// display needed, through EGL or else OSMesa) or a window with its own GL
// context (SDL2). Each hands the backend the entry points of its own context.
#pragma once

#include <memory>
#include <string>

#include "engine/backend_gl.h"

namespace rwview {

// What a person asked the window for; the viewer decides what it means.
struct InputEvent {
  enum Kind {
    None,
    Quit,
    Cycle,  // `index`: the model's animations in configuration order, from 0
    Action,
    Pause,   // pauses, or resumes at the speed there was
    Step,    // while paused: one step of the animation
    Slower,  // half the speed
    Faster,  // twice the speed
    FinerDetail,
    CoarserDetail,
    OrbitLeft,
    OrbitRight,
    OrbitUp,
    OrbitDown,
    ZoomIn,
    ZoomOut,
    Drag,  // the mouse moved `dx`, `dy` pixels with its left button held
    Pick,  // a click at pixel `x`, `y` from the top left
  };
  Kind kind = None;
  int index = 0;
  int dx = 0, dy = 0;
  int x = 0, y = 0;
};

class GlContext {
 public:
  virtual ~GlContext() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // The entry points of this context, which is current from creation on.
  virtual const rwengine::GlApi& Api() const = 0;
  // Shows the finished frame; read the pixels before this.
  virtual void Present() {}
  // The next pending input, false when there is none.
  virtual bool PollInput(InputEvent&) { return false; }
  virtual void SetTitle(const std::string&) {}
  // How the pictures are made, e.g. "EGL surfaceless, llvmpipe (LLVM 15.0.6, 256 bits)".
  virtual std::string Description() const { return ""; }
};

// Which off-screen context to make: EGL where it works, else OSMesa (Mesa's
// newest releases no longer ship OSMesa); or exactly one of them.
enum class Offscreen { Any, Egl, OsMesa };
// The names the viewer's --offscreen option takes.
const char* OffscreenName(Offscreen kind);

// Null, with the reason in `error`, when no context can be had.
std::unique_ptr<GlContext> CreateOffscreenContext(int width, int height, std::string& error,
                                                  Offscreen kind = Offscreen::Any);
// Each kind alone; null with the reason when this build or machine lacks it.
std::unique_ptr<GlContext> CreateEglContext(int width, int height, std::string& error);
std::unique_ptr<GlContext> CreateOsMesaContext(int width, int height, std::string& error);
// "llvmpipe (LLVM 15.0.6, 256 bits)": the renderer string of the current context.
std::string RendererName(const rwengine::GlApi& api);
std::unique_ptr<GlContext> CreateWindowContext(int width, int height, const std::string& title,
                                               std::string& error);

}  // namespace rwview
