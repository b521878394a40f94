// Where the GL backend draws: an off-screen buffer in memory (Mesa, software,
// no display needed) or a window with its own GL context (SDL2). Both hand
// the backend the entry points of their own context.
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
    FinerDetail,
    CoarserDetail,
    OrbitLeft,
    OrbitRight,
    OrbitUp,
    OrbitDown,
    ZoomIn,
    ZoomOut,
  };
  Kind kind = None;
  int index = 0;
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
};

// Null, with the reason in `error`, when no context can be had.
std::unique_ptr<GlContext> CreateOffscreenContext(int width, int height, std::string& error);
std::unique_ptr<GlContext> CreateWindowContext(int width, int height, const std::string& title,
                                               std::string& error);

}  // namespace rwview
