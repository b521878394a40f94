#include "viewer/window_input.h"

#include <algorithm>
#include <cstdio>

#include "tools/model_files.h"
#include "viewer/failure.h"

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

bool WindowInput::Handle() {
  Orbit& orbit = framing_.orbit;
  InputEvent input;
  while (scene_.context->PollInput(input)) {
    switch (input.kind) {
      case InputEvent::Quit:
        return false;
      case InputEvent::Cycle:
        SwitchCycle(input.index);
        break;
      case InputEvent::Action: {
        const std::string name = ActionName();
        for (const Character& c : scene_.characters)
          c.state->ExecuteAction(name.c_str(), 0.3f, 0.3f);
        break;
      }
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
      case InputEvent::None:
        break;
    }
  }
  return true;
}

void WindowInput::UpdateTitle(int frame, double seconds) {
  if (seconds - lastTitle_ < 0.5) return;
  lastTitle_ = seconds;
  char title[256];
  std::snprintf(title, sizeof title, "%s - %s, detail %.1f, %.0f fps", kProgram,
                currentCycle_.empty() ? CycleText(scene_.models).c_str() : currentCycle_.c_str(),
                scene_.lod, (frame + 1) / std::max(seconds, 1e-3));
  scene_.context->SetTitle(title);
}

}  // namespace rwview
