// The window's input: keys and the mouse wheel switch cycles, play an
// action, change the level of detail and move the camera; the title shows
// what plays and how fast.
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

  Scene& scene_;
  Framing& framing_;
  std::string currentCycle_;
  double lastTitle_ = -1;
};

}  // namespace rwview
