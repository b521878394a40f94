// The morph targets of one character: a weight per target of every
// sub-mesh, set by the application (at once or over a fade) or driven by the
// morph animations playing, and written into the character's own Cal3D
// sub-meshes, which blend them in when their vertices are computed. Weights
// live in the model instance, so characters sharing a core model keep their
// own. Everything is sized when the model is bound: an advance allocates
// nothing.
#pragma once

#include <string>
#include <vector>

#include "formats/morph_animation.h"

class CalModel;
class CalSubmesh;

namespace rigweave {

class MorphWeights {
 public:
  // Names of each mesh's morph targets by sub-mesh (morphNames[m][s][t]; a
  // list shorter than the sub-mesh's targets leaves the rest unnamed).
  using TargetNames = std::vector<std::vector<std::vector<std::string>>>;

  // `model` has its meshes attached in the order of the mesh lines. The
  // names, animations and animation names are kept by the caller while
  // bound. May throw std::bad_alloc, leaving nothing bound.
  void Bind(CalModel& model, const TargetNames& names,
            const std::vector<MorphAnimation>& animations,
            const std::vector<std::string>& animationNames);
  void Unbind();

  int MeshCount() const { return static_cast<int>(meshes_.size()); }
  // -1 for an unknown mesh (sub-mesh).
  int SubmeshCount(int mesh) const;
  int TargetCount(int mesh, int submesh) const;
  const char* TargetName(int mesh, int submesh, int target) const;
  int FindTarget(int mesh, int submesh, const char* name) const;
  bool SetWeight(int mesh, int submesh, int target, float weight, float fade);
  bool GetWeight(int mesh, int submesh, int target, float& weight) const;

  int AnimationCount() const { return static_cast<int>(players_.size()); }
  const char* AnimationName(int animation) const;
  float AnimationDuration(int animation) const;
  int FindAnimation(const char* name) const;
  bool Blend(int animation, float weight, float fade);
  bool Clear(int animation, float fade);
  bool IsPlaying(int animation) const;
  bool GetTime(int animation, float& seconds) const;

  // Moves the fades and the playing animations on by `seconds` and writes
  // every weight into the sub-meshes. Nothing without targets.
  void Advance(float seconds);

 private:
  struct Target {
    float weight = 0, goal = 0, fadeLeft = 0;  // the application's
    float driven = 0;                          // the animations', when `isDriven`
    bool isDriven = false;
    const std::string* name = nullptr;
  };
  struct Submesh {
    CalSubmesh* submesh = nullptr;
    int first = 0, count = 0;  // its targets in targets_
  };
  struct Mesh {
    int first = 0, count = 0;  // its sub-meshes in submeshes_
  };
  struct Player {
    const MorphAnimation* animation = nullptr;
    const std::string* name = nullptr;
    bool playing = false, clearing = false;
    float time = 0, weight = 0, goal = 0, fadeLeft = 0;
    int firstTrack = 0, trackCount = 0;  // in tracks_
  };
  struct TrackTargets {
    const MorphTrack* track = nullptr;
    int first = 0, count = 0;  // the targets it drives, in drives_
  };

  // The index in targets_, or -1.
  int TargetIndex(int mesh, int submesh, int target) const;
  bool KnownAnimation(int animation) const {
    return animation >= 0 && animation < AnimationCount();
  }
  void BindTrack(const MorphTrack& track);
  void Write();

  std::vector<Mesh> meshes_;
  std::vector<Submesh> submeshes_;
  std::vector<Target> targets_;
  std::vector<Player> players_;
  std::vector<TrackTargets> tracks_;
  std::vector<int> drives_;
};

}  // namespace rigweave
