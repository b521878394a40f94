// The window context: an SDL2 window with a double-buffered GL context.
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "viewer/gl_context.h"

namespace rwview {
namespace {

class WindowContext : public GlContext {
 public:
  WindowContext(int width, int height) : width_(width), height_(height) {}
  ~WindowContext() override {
    if (context_ != nullptr) SDL_GL_DeleteContext(context_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    if (started_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  bool Open(const std::string& title, std::string& error) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      error = std::string("no window system: ") + SDL_GetError();
      return false;
    }
    started_ = true;
    // SDL's off-screen and dummy drivers open windows no one can see: a
    // window there is a run that shows nothing and never ends by itself.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver != nullptr &&
        (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
      error = std::string("--window needs a display, and SDL's video driver is ") + driver +
              " (use --out or --screenshot for pictures without one)";
      return false;
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               width_, height_, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (window_ == nullptr) {
      error = std::string("cannot open a window: ") + SDL_GetError();
      return false;
    }
    context_ = SDL_GL_CreateContext(window_);
    if (context_ == nullptr) {
      error = std::string("cannot create a GL context for the window: ") + SDL_GetError();
      return false;
    }
    SDL_GL_MakeCurrent(window_, context_);
    // Without a display that syncs, this fails harmlessly.
    SDL_GL_SetSwapInterval(1);
    std::string missing;
    if (!api_.Load(&Lookup, nullptr, &missing)) {
      error = "the window's GL context lacks " + missing;
      return false;
    }
    return true;
  }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  const rwengine::GlApi& Api() const override { return api_; }
  void Present() override { SDL_GL_SwapWindow(window_); }
  void SetTitle(const std::string& title) override { SDL_SetWindowTitle(window_, title.c_str()); }

  bool PollInput(InputEvent& input) override {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      input = InputEvent();
      if (event.type == SDL_QUIT) {
        input.kind = InputEvent::Quit;
      } else if (event.type == SDL_MOUSEWHEEL) {
        if (event.wheel.y > 0) input.kind = InputEvent::ZoomIn;
        if (event.wheel.y < 0) input.kind = InputEvent::ZoomOut;
      } else if (event.type == SDL_MOUSEMOTION && (event.motion.state & SDL_BUTTON_LMASK) != 0) {
        input.kind = InputEvent::Drag;
        input.dx = event.motion.xrel;
        input.dy = event.motion.yrel;
        travelled_ += std::abs(input.dx) + std::abs(input.dy);
      } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT) {
        travelled_ = 0;
      } else if (event.type == SDL_MOUSEBUTTONUP && event.button.button == SDL_BUTTON_LEFT) {
        // A click picks; a drag that came back where it began does not.
        if (travelled_ <= kClickSlop) {
          input.kind = InputEvent::Pick;
          input.x = event.button.x;
          input.y = event.button.y;
        }
      } else if (event.type == SDL_KEYDOWN) {
        input = Translate(event.key.keysym.sym);
      }
      if (input.kind != InputEvent::None) return true;
    }
    return false;
  }

 private:
  // Pixels a click may move and still pick, for a hand that trembles.
  static constexpr int kClickSlop = 3;

  static void* Lookup(const char* name, void*) { return SDL_GL_GetProcAddress(name); }

  static InputEvent Translate(SDL_Keycode key) {
    InputEvent input;
    if (key >= SDLK_1 && key <= SDLK_9) {
      input.kind = InputEvent::Cycle;
      input.index = static_cast<int>(key - SDLK_1);
      return input;
    }
    switch (key) {
      case SDLK_ESCAPE:
      case SDLK_q:
        input.kind = InputEvent::Quit;
        break;
      case SDLK_a:
      case SDLK_RETURN:
        input.kind = InputEvent::Action;
        break;
      case SDLK_SPACE:
        input.kind = InputEvent::Pause;
        break;
      case SDLK_PERIOD:
        input.kind = InputEvent::Step;
        break;
      case SDLK_LEFTBRACKET:
        input.kind = InputEvent::Slower;
        break;
      case SDLK_RIGHTBRACKET:
        input.kind = InputEvent::Faster;
        break;
      case SDLK_PLUS:
      case SDLK_EQUALS:
      case SDLK_KP_PLUS:
        input.kind = InputEvent::FinerDetail;
        break;
      case SDLK_MINUS:
      case SDLK_KP_MINUS:
        input.kind = InputEvent::CoarserDetail;
        break;
      case SDLK_LEFT:
        input.kind = InputEvent::OrbitLeft;
        break;
      case SDLK_RIGHT:
        input.kind = InputEvent::OrbitRight;
        break;
      case SDLK_UP:
        input.kind = InputEvent::OrbitUp;
        break;
      case SDLK_DOWN:
        input.kind = InputEvent::OrbitDown;
        break;
      case SDLK_PAGEUP:
        input.kind = InputEvent::ZoomIn;
        break;
      case SDLK_PAGEDOWN:
        input.kind = InputEvent::ZoomOut;
        break;
      default:
        break;
    }
    return input;
  }

  int width_, height_;
  int travelled_ = 0;  // pixels the mouse moved since its left button went down
  bool started_ = false;
  SDL_Window* window_ = nullptr;
  SDL_GLContext context_ = nullptr;
  rwengine::GlApi api_;
};

}  // namespace

std::unique_ptr<GlContext> CreateWindowContext(int width, int height, const std::string& title,
                                               std::string& error) {
  auto context = std::make_unique<WindowContext>(width, height);
  if (!context->Open(title, error)) return nullptr;
  return context;
}

}  // namespace rwview
