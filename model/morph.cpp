#include "model/morph.h"

#include <cal3d/cal3d.h>

#include <cmath>
#include <cstring>

namespace rigweave {

namespace {

bool Finite(float value) {
  return std::isfinite(value) && value >= 0;
}

// A linear fade as Cal3D's mixer makes one: the rest of the way in the
// time left, in equal steps of time.
void Ramp(float& value, float goal, float& left, float seconds) {
  if (left <= seconds) {
    value = goal;
    left = 0;
    return;
  }
  value += (goal - value) * (seconds / left);
  left -= seconds;
}

}  // namespace

void MorphWeights::Bind(CalModel& model, const TargetNames& names,
                        const std::vector<MorphAnimation>& animations,
                        const std::vector<std::string>& animationNames) {
  Unbind();
  try {
    std::vector<CalMesh*>& meshes = model.getVectorMesh();
    for (size_t m = 0; m < meshes.size(); m++) {
      meshes_.push_back({static_cast<int>(submeshes_.size()), meshes[m]->getSubmeshCount()});
      for (int s = 0; s < meshes[m]->getSubmeshCount(); s++) {
        CalSubmesh* submesh = meshes[m]->getSubmesh(s);
        const int count = submesh->getMorphTargetWeightCount();
        submeshes_.push_back({submesh, static_cast<int>(targets_.size()), count});
        const std::vector<std::string>* named =
            m < names.size() && static_cast<size_t>(s) < names[m].size()
                ? &names[m][static_cast<size_t>(s)]
                : nullptr;
        for (int t = 0; t < count; t++) {
          Target target;
          if (named != nullptr && static_cast<size_t>(t) < named->size())
            target.name = &(*named)[static_cast<size_t>(t)];
          // What the instance starts with (0 in Cal3D) is the weight set.
          target.weight = target.goal = submesh->getMorphTargetWeight(t);
          targets_.push_back(target);
        }
      }
    }
    for (size_t a = 0; a < animations.size(); a++) {
      Player player;
      player.animation = &animations[a];
      player.name = a < animationNames.size() ? &animationNames[a] : nullptr;
      player.firstTrack = static_cast<int>(tracks_.size());
      for (const MorphTrack& track : animations[a].tracks) BindTrack(track);
      player.trackCount = static_cast<int>(tracks_.size()) - player.firstTrack;
      players_.push_back(player);
    }
  } catch (...) {
    Unbind();
    throw;
  }
}

void MorphWeights::BindTrack(const MorphTrack& track) {
  TrackTargets bound;
  bound.track = &track;
  bound.first = static_cast<int>(drives_.size());
  if (track.morphId >= 0) {
    // A track by id writes its target in each sub-mesh it lists.
    for (int submesh : track.submeshes) {
      const int index = TargetIndex(track.meshId, submesh, track.morphId);
      if (index >= 0) drives_.push_back(index);
    }
  } else {
    // A track by name writes every sub-mesh's first target of that name.
    for (int m = 0; m < MeshCount(); m++)
      for (int s = 0; s < meshes_[static_cast<size_t>(m)].count; s++) {
        const int target = FindTarget(m, s, track.morphName.c_str());
        if (target >= 0) drives_.push_back(TargetIndex(m, s, target));
      }
  }
  bound.count = static_cast<int>(drives_.size()) - bound.first;
  tracks_.push_back(bound);
}

void MorphWeights::Unbind() {
  meshes_.clear();
  submeshes_.clear();
  targets_.clear();
  players_.clear();
  tracks_.clear();
  drives_.clear();
}

int MorphWeights::SubmeshCount(int mesh) const {
  if (mesh < 0 || mesh >= MeshCount()) return -1;
  return meshes_[static_cast<size_t>(mesh)].count;
}

int MorphWeights::TargetCount(int mesh, int submesh) const {
  if (submesh < 0 || submesh >= SubmeshCount(mesh)) return -1;
  return submeshes_[static_cast<size_t>(meshes_[static_cast<size_t>(mesh)].first + submesh)].count;
}

int MorphWeights::TargetIndex(int mesh, int submesh, int target) const {
  if (target < 0 || target >= TargetCount(mesh, submesh)) return -1;
  return submeshes_[static_cast<size_t>(meshes_[static_cast<size_t>(mesh)].first + submesh)].first +
         target;
}

const char* MorphWeights::TargetName(int mesh, int submesh, int target) const {
  const int index = TargetIndex(mesh, submesh, target);
  if (index < 0) return nullptr;
  const std::string* name = targets_[static_cast<size_t>(index)].name;
  return name != nullptr ? name->c_str() : "";
}

int MorphWeights::FindTarget(int mesh, int submesh, const char* name) const {
  if (name == nullptr || *name == '\0') return -1;
  const int count = TargetCount(mesh, submesh);
  for (int t = 0; t < count; t++)
    if (std::strcmp(TargetName(mesh, submesh, t), name) == 0) return t;
  return -1;
}

bool MorphWeights::SetWeight(int mesh, int submesh, int target, float weight, float fade) {
  const int index = TargetIndex(mesh, submesh, target);
  if (index < 0 || !Finite(weight) || !Finite(fade)) return false;
  Target& t = targets_[static_cast<size_t>(index)];
  t.goal = weight;
  t.fadeLeft = fade;
  if (fade == 0) t.weight = weight;
  Write();
  return true;
}

bool MorphWeights::GetWeight(int mesh, int submesh, int target, float& weight) const {
  const int index = TargetIndex(mesh, submesh, target);
  if (index < 0) return false;
  const Target& t = targets_[static_cast<size_t>(index)];
  weight = t.isDriven ? t.driven : t.weight;
  return true;
}

const char* MorphWeights::AnimationName(int animation) const {
  if (!KnownAnimation(animation)) return nullptr;
  const std::string* name = players_[static_cast<size_t>(animation)].name;
  return name != nullptr ? name->c_str() : "";
}

float MorphWeights::AnimationDuration(int animation) const {
  return KnownAnimation(animation) ? players_[static_cast<size_t>(animation)].animation->duration
                                   : -1.0f;
}

int MorphWeights::FindAnimation(const char* name) const {
  if (name == nullptr) return -1;
  for (int a = 0; a < AnimationCount(); a++)
    if (std::strcmp(AnimationName(a), name) == 0) return a;
  return -1;
}

bool MorphWeights::Blend(int animation, float weight, float fade) {
  if (!KnownAnimation(animation) || !Finite(weight) || !Finite(fade)) return false;
  Player& player = players_[static_cast<size_t>(animation)];
  if (!player.playing) {
    // Started afresh, from its beginning and from nothing.
    player.playing = true;
    player.time = 0;
    player.weight = 0;
  }
  player.clearing = false;
  player.goal = weight;
  player.fadeLeft = fade;
  if (fade == 0) player.weight = weight;
  Write();
  return true;
}

bool MorphWeights::Clear(int animation, float fade) {
  if (!KnownAnimation(animation) || !Finite(fade)) return false;
  Player& player = players_[static_cast<size_t>(animation)];
  if (!player.playing) return true;
  player.clearing = true;
  player.goal = 0;
  player.fadeLeft = fade;
  if (fade == 0) player.playing = false;
  Write();
  return true;
}

bool MorphWeights::IsPlaying(int animation) const {
  return KnownAnimation(animation) && players_[static_cast<size_t>(animation)].playing;
}

bool MorphWeights::GetTime(int animation, float& seconds) const {
  if (!IsPlaying(animation)) return false;
  seconds = players_[static_cast<size_t>(animation)].time;
  return true;
}

void MorphWeights::Advance(float seconds) {
  if (targets_.empty()) return;
  for (Target& target : targets_)
    if (target.fadeLeft > 0) Ramp(target.weight, target.goal, target.fadeLeft, seconds);
  for (Player& player : players_) {
    if (!player.playing) continue;
    // Each loops on its own duration, moved by the step that moves the
    // skeleton's cycles.
    const float duration = player.animation->duration;
    player.time = std::fmod(player.time + seconds, duration);
    Ramp(player.weight, player.goal, player.fadeLeft, seconds);
    if (player.clearing && player.fadeLeft == 0) player.playing = false;
  }
  Write();
}

void MorphWeights::Write() {
  for (Target& target : targets_) target.isDriven = false;
  // Animations in the order of the lines: a target two of them drive takes
  // the later one's weight, as the newer line writes weights, not sums.
  for (const Player& player : players_) {
    if (!player.playing) continue;
    for (int k = 0; k < player.trackCount; k++) {
      const TrackTargets& bound = tracks_[static_cast<size_t>(player.firstTrack + k)];
      const float weight = MorphTrackWeight(*bound.track, player.time) * player.weight;
      for (int d = 0; d < bound.count; d++) {
        Target& target =
            targets_[static_cast<size_t>(drives_[static_cast<size_t>(bound.first + d)])];
        target.driven = weight;
        target.isDriven = true;
      }
    }
  }
  for (const Submesh& slot : submeshes_)
    for (int t = 0; t < slot.count; t++) {
      const Target& target = targets_[static_cast<size_t>(slot.first + t)];
      slot.submesh->setMorphTargetWeight(t, target.isDriven ? target.driven : target.weight);
    }
}

}  // namespace rigweave
