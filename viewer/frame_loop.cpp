#include "viewer/frame_loop.h"

#include <algorithm>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include <unistd.h>

#include "engine/crowd.h"
#include "viewer/failure.h"
#include "viewer/interrupt.h"
#include "viewer/sheet.h"
#include "viewer/window_input.h"

namespace rwview {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Runs shorter than this finish in seconds and report no progress off a terminal.
constexpr int kLongRun = 240;

// Frame times, the first frame apart: it uploads the textures and lets the
// GL driver warm up, and would swamp short runs.
struct Timing {
  struct Sum {
    double draw = 0;     // DrawTest and Draw of every object, the backend's time included
    double backend = 0;  // inside the GL backend
    int frames = 0;
  };
  Sum first, rest;
  int frames = 0;
  long lastTriangles = 0;
};

class FrameLoop {
 public:
  FrameLoop(Scene& scene, Framing& framing, Outputs& outputs)
      : scene_(scene),
        options_(scene.options),
        framing_(framing),
        outputs_(outputs),
        input_(scene, framing),
        done_(options_.actions.size(), false) {
    if (options_.threads == 1) return;
    // Each share of the crowd is drawn on its thread into a deferred
    // backend; the GL context, which only this thread may call, then draws
    // what they kept.
    const int threads = options_.threads > 0
                            ? options_.threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    deferred_ = std::make_unique<rwengine::DeferredBackend[]>(static_cast<size_t>(4 * threads));
    crowd_ = std::make_unique<rwengine::CrowdRenderer>(
        *scene_.stage, threads, 4 * threads, [&](int k) { return &deferred_[size_t(k)]; });
  }

  void Run();
  void Report() const;

 private:
  void StartActions(double seconds);
  void PlaceCamera(int frame, double seconds);
  void Draw();
  void Keep(int frame, bool lastOfRun);
  void ShowProgress(int frame, SteadyClock::time_point started);

  Scene& scene_;
  const Options& options_;
  Framing& framing_;
  Outputs& outputs_;
  WindowInput input_;
  std::vector<bool> done_;  // per --action: started already
  std::unique_ptr<ContactSheet> sheet_;
  Picture lastPicture_;
  Timing timing_;
  // With --threads other than 1: the shares' backends and the crowd renderer.
  std::unique_ptr<rwengine::DeferredBackend[]> deferred_;
  std::unique_ptr<rwengine::CrowdRenderer> crowd_;
  bool progressShown_ = false;
};

void FrameLoop::StartActions(double seconds) {
  for (size_t a = 0; a < options_.actions.size(); a++) {
    if (done_[a] || seconds + 1e-9 < options_.actions[a].seconds) continue;
    done_[a] = true;
    for (const Character& c : scene_.characters) {
      const std::string& name = c.model->actions[a];
      if (!c.state->ExecuteAction(name.c_str(), 0.3f, 0.3f))
        throw Failure{"model " + c.model->name + " has no animation named " + name};
    }
  }
}

// Near and far planes that keep the framed scene inside the depth range at
// any scale, as the window's zoom moves the camera. A turntable turns the
// camera once over the frames (in a window, once every ten seconds).
void FrameLoop::PlaceCamera(int frame, double seconds) {
  Orbit orbit = framing_.orbit;
  if (options_.turntable) {
    // The eye and what it looks at turn together about the vertical
    // through the characters' middle.
    const double turn =
        2.0 * M_PI * (options_.Interactive() ? seconds / 10.0 : double(frame) / options_.frames);
    const csVector3 middle = (framing_.low + framing_.high) * 0.5f;
    const csVector3 offset = orbit.center - middle;
    const float c = static_cast<float>(std::cos(turn)), s = static_cast<float>(std::sin(turn));
    orbit.center =
        middle + csVector3(offset.x * c + offset.z * s, offset.y, offset.z * c - offset.x * s);
    orbit.yaw += turn;
  }
  scene_.stage->GetCamera()->SetTransform(orbit.Transform());
  const double near =
      std::max(orbit.distance * 0.01, (orbit.distance - framing_.sceneRadius) * 0.5);
  scene_.backend->SetDepthRange(near, (orbit.distance + 2.0 * framing_.sceneRadius) * 2.0 + near);
}

void FrameLoop::Draw() {
  rwengine::GlBackend& backend = *scene_.backend;
  backend.ResetCounters();
  const auto before = SteadyClock::now();
  if (crowd_) {
    rwengine::Graphics3D* graphics = scene_.stage->GetGraphics();
    graphics->SetPerspectiveAspect(scene_.stage->GetCamera()->FocalLength(graphics->GetWidth()));
    if (graphics->BeginDraw()) {
      crowd_->DrawFrame(scene_.Objects());
      for (int k = 0; k < crowd_->Shares(); k++) deferred_[size_t(k)].ReplayInto(backend);
      graphics->FinishDraw();
    }
  } else {
    scene_.stage->DrawFrame(scene_.Objects());
  }
  const auto after = SteadyClock::now();
  Timing::Sum& sum = timing_.frames == 0 ? timing_.first : timing_.rest;
  sum.draw += std::chrono::duration<double>(after - before).count();
  sum.backend += backend.BusySeconds();
  sum.frames++;
  timing_.frames++;
  timing_.lastTriangles = backend.TrianglesDrawn();
}

void FrameLoop::Keep(int frame, bool lastOfRun) {
  const bool screenshot = outputs_.TakesScreenshot() && (lastOfRun || options_.Interactive());
  if (!outputs_.KeepsFrames() && !screenshot && !outputs_.WritesGif()) return;
  scene_.backend->ReadPixels(options_.width, options_.height, lastPicture_.rgb);
  lastPicture_.width = options_.width;
  lastPicture_.height = options_.height;
  if (outputs_.WritesGif()) {
    // GIF times are centiseconds: each frame ends where the clock's frame
    // ends, rounded, so that the rounding never adds up.
    const auto end = [this](int f) { return std::llround(100.0 * f / options_.fps); };
    outputs_.AddGifFrame(lastPicture_,
                         static_cast<int>(std::max(2LL, end(frame + 1) - end(frame))));
  }
  if (!outputs_.KeepsFrames()) return;
  outputs_.WriteFrame(frame, lastPicture_);
  sheet_->Add(frame, lastPicture_);
}

// On a terminal one line that counts the frames in place; elsewhere (a log,
// a pipe) a plain line at each tenth of a long run, none for a short one.
void FrameLoop::ShowProgress(int frame, SteadyClock::time_point started) {
  if (options_.Interactive()) {
    input_.UpdateTitle(frame, std::chrono::duration<double>(SteadyClock::now() - started).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return;
  }
  // The event lines on standard output tell how far it is.
  if (options_.events) return;
  static const bool terminal = isatty(STDERR_FILENO) == 1;
  if (terminal) {
    std::fprintf(stderr, "\r%s: frame %d/%d", kProgram, frame + 1, options_.frames);
    std::fflush(stderr);
    progressShown_ = true;
  } else if (options_.frames >= kLongRun && (frame + 1) % (options_.frames / 10) == 0) {
    std::fprintf(stderr, "%s: frame %d/%d\n", kProgram, frame + 1, options_.frames);
  }
}

void FrameLoop::Run() {
  if (outputs_.KeepsFrames())
    sheet_ = std::make_unique<ContactSheet>(options_.frames, options_.width, options_.height);
  const auto started = SteadyClock::now();
  auto lastFrame = started;
  double seconds = 0;  // animation time since the first frame
  try {
    for (int frame = 0; options_.Interactive() || frame < options_.frames; frame++) {
      // An open window takes a signal as the person's quit, as SDL would.
      if (options_.Interactive() && InterruptCaught()) break;
      ThrowIfInterrupted();
      if (options_.window && !input_.Handle()) break;
      if (options_.Interactive()) {
        const auto now = SteadyClock::now();
        seconds += std::chrono::duration<double>(now - lastFrame).count();
        lastFrame = now;
      } else {
        seconds = frame / options_.fps;
      }
      scene_.clock.now = Clock::kStart + static_cast<csTicks>(std::llround(seconds * 1000.0));
      scene_.seconds = seconds;
      StartActions(seconds);
      PlaceCamera(frame, seconds);
      Draw();
      Keep(frame, !options_.Interactive() && frame + 1 == options_.frames);
      scene_.context->Present();
      ShowProgress(frame, started);
    }
  } catch (...) {
    if (progressShown_) std::fputc('\n', stderr);
    throw;
  }
  if (progressShown_) std::fputc('\n', stderr);
  if (outputs_.TakesScreenshot() && lastPicture_.width > 0) outputs_.WriteScreenshot(lastPicture_);
  if (sheet_) outputs_.WriteSheet(sheet_->Sheet());
  outputs_.FinishGif();
}

void FrameLoop::Report() const {
  const Timing::Sum& steady = timing_.rest.frames > 0 ? timing_.rest : timing_.first;
  const double frames = std::max(1, steady.frames);
  const double total = 1000.0 * steady.draw / frames;
  const double renderer = 1000.0 * steady.backend / frames;
  std::string models;
  for (const std::string& m : options_.models) models += (models.empty() ? "" : ", ") + m;
  char pace[48];
  if (options_.Interactive())
    std::snprintf(pace, sizeof pace, "on the wall clock");
  else
    std::snprintf(pace, sizeof pace, "at %g fps", options_.fps);
  std::printf("%s: %s, %s, %d %s of %dx%d %s%s\n", kProgram,
              options_.empty ? "empty scene" : models.c_str(), CycleText(scene_.models).c_str(),
              timing_.frames, timing_.frames == 1 ? "frame" : "frames", options_.width,
              options_.height, pace, options_.mirror ? ", mirrored" : "");
  std::printf("renderer: %s\n", scene_.context->Description().c_str());
  if (crowd_)
    std::printf("characters: %zu, drawn on %d threads\n", scene_.characters.size(),
                crowd_->Threads());
  else
    std::printf("characters: %zu\n", scene_.characters.size());
  std::printf("triangles per frame: %ld (every face drawn with both windings)\n",
              timing_.lastTriangles);
  // With threads the module's share includes keeping each share's calls
  // for the GL context, the engine's work.
  std::printf("ms per frame: %.2f (module %.2f%s, renderer %.2f)%s; first frame %.2f\n", total,
              total - renderer, crowd_ ? " with the shares' recording" : "", renderer,
              timing_.rest.frames > 0 ? " after the first" : "", 1000.0 * timing_.first.draw);
  const std::vector<std::string> written = outputs_.Written(timing_.frames);
  for (const std::string& line : written) std::printf("%s\n", line.c_str());
  if (written.empty() && !options_.window)
    std::printf("written: nothing (--out DIR, --screenshot PATH or --gif FILE keep pictures)\n");
}

}  // namespace

void RenderAndReport(Scene& scene, Framing& framing, Outputs& outputs) {
  FrameLoop loop(scene, framing, outputs);
  loop.Run();
  loop.Report();
}

}  // namespace rwview
