// The window's input: keys and the mouse wheel switch cycles, play an
// action, pause, step and change the animation's speed, change the level of
// detail and move the camera; a click names what lies under the mouse. The
// title shows what plays, how fast, and the last pick.
#pragma once

#include <string>

#include "viewer/framing.h"
#include "viewer/scene.h"

namespace rwview {

class WindowInput {
 public:
  WindowInput(Scene& scene, Framing& framing) : scene_(scene), framing_(framing) {}

  // Handles what came since the last call; false when the person asked to quit.
  bool Handle();
  // At most twice a second: the cycle, the level of detail and the frame rate.
  void UpdateTitle(int frame, double seconds);

 private:
  std::string ActionName() const;
  void SwitchCycle(int index);
  void ChangeDetail(double step);
  // Every character's (and prop's) time scale: 0 while paused, else the speed.
  void ApplySpeed();
  void StepWhilePaused();
  // Handles the keys that steer the animation; false for any other.
  bool HandleAnimation(const InputEvent& input);

  Scene& scene_;
  Framing& framing_;
  std::string currentCycle_;
  std::string picked_;  // the last click's line
  double lastTitle_ = -1;
  bool paused_ = false;
  double speed_ = 1;
};

}  // namespace rwview
