#include "viewer/window_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/model_files.h"
#include "viewer/failure.h"
#include "viewer/picking.h"

namespace rwview {

// The first model's animation that a person asked for, or that a key means.
std::string WindowInput::ActionName() const {
  if (scene_.models.empty()) return "";
  const Model& model = scene_.models.front();
  if (!model.actions.empty()) return model.actions.front();
  const rwtools::AnimationLookup wave = rwtools::FindAnimation(model.animations, "wave");
  if (wave.result == rwtools::AnimationLookup::Found) return wave.name;
  for (const std::string& name : model.animations)
    if (name != model.cycle) return name;
  return "";
}

void WindowInput::SwitchCycle(int index) {
  if (scene_.models.empty()) return;
  const std::vector<std::string>& animations = scene_.models.front().animations;
  if (index >= static_cast<int>(animations.size())) return;
  currentCycle_ = animations[static_cast<size_t>(index)];
  for (const Character& c : scene_.characters)
    c.state->SetCycle(currentCycle_.c_str(), 0.3f, 0.3f, 1.0f);
}

void WindowInput::ChangeDetail(double step) {
  scene_.lod = std::clamp(scene_.lod + step, 0.0, 1.0);
  for (const Character& c : scene_.characters) c.state->SetLodLevel(static_cast<float>(scene_.lod));
}

void WindowInput::ApplySpeed() {
  const float scale = paused_ ? 0.0f : static_cast<float>(speed_);
  for (const Character& c : scene_.characters) c.rigweave->SetTimeScale(scale);
}

// One step of a 30 Hz frame, taken at once however the frames come.
void WindowInput::StepWhilePaused() {
  if (!paused_) return;
  for (const Character& c : scene_.characters) {
    c.rigweave->SetTimeScale(1);
    c.rigweave->Advance(1.0f / 30);
    c.rigweave->SetTimeScale(0);
  }
}

bool WindowInput::HandleAnimation(const InputEvent& input) {
  switch (input.kind) {
    case InputEvent::Cycle:
      SwitchCycle(input.index);
      return true;
    case InputEvent::Action: {
      const std::string name = ActionName();
      for (const Character& c : scene_.characters) c.state->ExecuteAction(name.c_str(), 0.3f, 0.3f);
      return true;
    }
    case InputEvent::Pause:
      paused_ = !paused_;
      ApplySpeed();
      return true;
    case InputEvent::Step:
      StepWhilePaused();
      return true;
    case InputEvent::Slower:
    case InputEvent::Faster:
      speed_ = std::clamp(speed_ * (input.kind == InputEvent::Faster ? 2.0 : 0.5), 1.0 / 16, 16.0);
      ApplySpeed();
      return true;
    default:
      return false;
  }
}

bool WindowInput::Handle() {
  Orbit& orbit = framing_.orbit;
  InputEvent input;
  while (scene_.context->PollInput(input)) {
    if (HandleAnimation(input)) {
      lastTitle_ = -1;  // what plays, and how fast, shows at once
      continue;
    }
    switch (input.kind) {
      case InputEvent::Quit:
        return false;
      case InputEvent::FinerDetail:
        ChangeDetail(0.1);
        break;
      case InputEvent::CoarserDetail:
        ChangeDetail(-0.1);
        break;
      case InputEvent::OrbitLeft:
        orbit.yaw -= 0.1;
        break;
      case InputEvent::OrbitRight:
        orbit.yaw += 0.1;
        break;
      case InputEvent::OrbitUp:
        orbit.pitch = std::min(1.4, orbit.pitch + 0.08);
        break;
      case InputEvent::OrbitDown:
        orbit.pitch = std::max(-1.4, orbit.pitch - 0.08);
        break;
      case InputEvent::ZoomIn:
        orbit.distance = std::max(framing_.framedDistance / 20, orbit.distance / 1.1);
        break;
      case InputEvent::ZoomOut:
        orbit.distance = std::min(framing_.framedDistance * 20, orbit.distance * 1.1);
        break;
      case InputEvent::Pick: {
        // Named on the pose now on screen: the last frame drawn.
        const Pick pick = PickAt(scene_, input.x, input.y, PickReach(framing_));
        picked_ = DescribePick(scene_, input.x, input.y, pick);
        std::printf("%s\n", picked_.c_str());
        std::fflush(stdout);
        lastTitle_ = -1;
        break;
      }
      case InputEvent::Drag:
        // Half a turn across the window's width; up and down stop short of
        // the poles, as the keys do.
        orbit.yaw -= M_PI * input.dx / std::max(1, scene_.options.width);
        orbit.pitch = std::clamp(orbit.pitch + M_PI * input.dy / std::max(1, scene_.options.height),
                                 -1.4, 1.4);
        break;
      default:
        break;
    }
  }
  return true;
}

void WindowInput::UpdateTitle(int frame, double seconds) {
  if (seconds - lastTitle_ < 0.5) return;
  lastTitle_ = seconds;
  char title[640], pace[32] = "";
  if (paused_)
    std::snprintf(pace, sizeof pace, ", paused");
  else if (speed_ != 1)
    std::snprintf(pace, sizeof pace, ", speed x%g", speed_);
  std::snprintf(
      title, sizeof title,
      "%s - %s%s, detail %.1f, %.0f fps, %ld triangles%s%s - keys: 1-9 cycle, a action, space "
      "pause, . step, [ ] speed, +/- detail, drag or arrows orbit, wheel zoom, click pick, Esc "
      "quit",
      kProgram, currentCycle_.empty() ? CycleText(scene_.models).c_str() : currentCycle_.c_str(),
      pace, scene_.lod, (frame + 1) / std::max(seconds, 1e-3), scene_.backend->TrianglesDrawn(),
      picked_.empty() ? "" : " - ", picked_.c_str());
  scene_.context->SetTitle(title);
}

}  // namespace rwview
