// A character loaded by Cal3D alone, through Cal3D's own file readers, from
// the files a configuration names: what the module draws must equal it
// vertex for vertex when both are driven by the same mixer calls, level of
// detail and time steps. Tests observe the module's animation state this
// way, through what it draws.
#pragma once

#include <cal3d/cal3d.h>

#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "host/clock.h"
#include "host/math_types.h"
#include "support/cal3d_character.h"

namespace rwtest {

class ReferenceCharacter : public rwsupport::Cal3DCharacter {
 public:
  // `root` holds models/, where `config` names the files. False when Cal3D
  // does not load them. Materials are left out: what is compared is where
  // the vertices go.
  bool Load(const std::string& root, const std::string& config);

  CalMixer& Mixer() { return *Model()->getMixer(); }
  // The id of the animation the module calls `name`, or -1.
  int Id(const std::string& name) const { return files_.AnimationId(name); }
  std::vector<std::string> Animations() const;
  float Scale() const { return files_.scale; }

  // Time as a Draw moves it: the ticks since the previous Draw, in seconds
  // of the same float the module computes.
  static float Seconds(csTicks ticks) {
    return static_cast<float>(static_cast<double>(ticks) / 1000.0);
  }
  void Advance(csTicks ticks) { Model()->update(Seconds(ticks)); }

  // Cal3D's vertices of every sub-mesh its renderer selects, in engine
  // space: scaled by scale * `perUnit` (0.02 as drawn, 0.01 for the box
  // mesh) and turned as the module turns them.
  std::vector<std::vector<csVector3>> Vertices(double perUnit = 0.02);

 private:
  rwsupport::CharacterFiles files_;
};

// The vertices of each sub-mesh a recording holds, once each: every
// sub-mesh is drawn twice from the same vertices, which is checked.
std::vector<std::vector<csVector3>> DrawnSubmeshes(const rwengine::RecordingBackend& recorder);

// Coordinates of `drawn` that differ in any bit from `expected`; a sub-mesh
// of another size counts all its coordinates, a missing one all of the
// other's.
long Mismatches(const std::vector<std::vector<csVector3>>& drawn,
                const std::vector<std::vector<csVector3>>& expected);

}  // namespace rwtest
