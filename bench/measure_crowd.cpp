// The crowd: how many walking characters a 60 Hz frame holds, through the module and directly.
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/movable.h"

namespace rwbench {

namespace {

// Finds the largest count whose median frame fits the budget: steps out
// from an estimate by an eighth at a time, then bisects. Driven from outside
// so that two searches can run in lockstep, their frames interleaved.
class CrowdSearch {
 public:
  CrowdSearch(int estimate, int cap) : cap_(cap), candidate_(std::clamp(estimate, 1, cap)) {}
  bool Done() const { return done_; }
  int Candidate() const { return candidate_; }
  int Result() const { return fits_; }

  void Report(bool fits) {
    (fits ? fits_ : tooMany_) = candidate_;
    if (phase_ == Phase::First) phase_ = fits ? Phase::Up : Phase::Down;
    if (phase_ == Phase::Up && !fits) phase_ = Phase::Bisect;
    if (phase_ == Phase::Down && fits) phase_ = Phase::Bisect;
    if (phase_ == Phase::Up) {
      if (fits_ >= cap_) {
        done_ = true;
        return;
      }
      candidate_ = std::min(cap_, fits_ + std::max(1, fits_ / 8));
    } else if (phase_ == Phase::Down) {
      if (tooMany_ <= 1) {
        done_ = true;
        return;
      }
      candidate_ = std::max(1, tooMany_ - std::max(1, tooMany_ / 8));
    } else {
      if (tooMany_ - fits_ <= 1) {
        done_ = true;
        return;
      }
      candidate_ = fits_ + (tooMany_ - fits_) / 2;
    }
  }

 private:
  enum class Phase { First, Up, Down, Bisect };
  Phase phase_ = Phase::First;
  int cap_;
  int candidate_;
  int fits_ = 0;
  int tooMany_ = 0;
  bool done_ = false;
};

}  // namespace

// `suffix` names a variant (the renderer's index check off); without one
// the figures carry their targets.
void MeasureCrowd(Session& session, rwengine::Stage& stage, rwengine::NullBackend& backend,
                  double moduleUsEach, double directUsEach, int framesPerProbe, int searches,
                  const std::string& suffix) {
  const int cap = 1000;
  const int warmup = 2;
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  const int records = RecordsPerFrame(session, session.sample.c_str());
  bool broken = records <= 0;

  std::vector<csRef<iMeshObject>> meshes;
  std::vector<std::pair<iMeshObject*, iMovable*>> scene;
  auto moduleReady = [&](int n) {
    while (static_cast<int>(meshes.size()) < n && !broken) {
      meshes.push_back(NewWalker(session, stage, session.sample.c_str()));
      broken = !meshes.back();
      scene.emplace_back(meshes.back().get(), movable.get());
    }
  };
  auto moduleFrame = [&](int n) {
    const std::vector<std::pair<iMeshObject*, iMovable*>> drawn(scene.begin(), scene.begin() + n);
    session.ticks += kTicksPerFrame;
    const long drawsBefore = backend.draws;
    const Stopwatch watch;
    stage.DrawFrame(drawn);
    const double us = watch.CpuUs();
    if (backend.draws - drawsBefore != static_cast<long>(records) * n) broken = true;
    return us;
  };

  // One set of buffers for all, as the module's scratch is shared.
  std::vector<std::unique_ptr<DirectCharacter>> characters;
  CharacterFiles files;
  broken = broken || !ReadCharacterFiles(session.modelFolder, session.sample.c_str(), files);
  FrameBuffers shared;
  auto directReady = [&](int n) {
    while (static_cast<int>(characters.size()) < n && !broken) {
      characters.push_back(std::make_unique<DirectCharacter>());
      DirectCharacter& character = *characters.back();
      broken = !character.Load(session.modelFolder, files) ||
               !character.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
      if (!broken) shared.FitTo(*character.Model());
    }
  };
  auto directFrame = [&](int n) {
    const Stopwatch watch;
    for (int i = 0; i < n; i++) characters[i]->Frame(kFrameSeconds, shared);
    return watch.CpuUs();
  };

  // One search pair, module and direct in lockstep with their frames interleaved.
  auto search = [&]() -> std::pair<int, int> {
    CrowdSearch module(static_cast<int>(kFrameBudgetUs / moduleUsEach), cap);
    CrowdSearch direct(static_cast<int>(kFrameBudgetUs / directUsEach), cap);
    while (!broken && (!module.Done() || !direct.Done())) {
      const int m = module.Done() ? 0 : module.Candidate();
      const int d = direct.Done() ? 0 : direct.Candidate();
      moduleReady(m);
      directReady(d);
      if (broken) break;
      std::vector<double> moduleTimes, directTimes;
      for (int frame = 0; frame < warmup + framesPerProbe; frame++) {
        const double moduleUs = m > 0 ? moduleFrame(m) : 0.0;
        const double directUs = d > 0 ? directFrame(d) : 0.0;
        if (frame < warmup) continue;
        moduleTimes.push_back(moduleUs);
        directTimes.push_back(directUs);
      }
      if (m > 0) module.Report(Median(moduleTimes) <= kFrameBudgetUs);
      if (d > 0) direct.Report(Median(directTimes) <= kFrameBudgetUs);
    }
    return {module.Result(), direct.Result()};
  };
  // The two searches end at different moments, so a machine whose speed
  // changes during a run (a shared one) can favour either side: the figure
  // is the search pair of median ratio out of several.
  std::vector<std::pair<int, int>> results;
  for (int i = 0; i < searches && !broken; i++) {
    results.push_back(search());
    if (results.back().first <= 0 || results.back().second <= 0) broken = true;
  }
  if (broken) return session.Fail("the crowd could not be drawn");
  auto ratioOf = [](const std::pair<int, int>& r) {
    return static_cast<double>(r.first) / r.second;
  };
  std::sort(results.begin(), results.end(),
            [&](const auto& a, const auto& b) { return ratioOf(a) < ratioOf(b); });
  const std::pair<int, int> chosen = results[results.size() / 2];
  std::string spread;
  for (const auto& r : results) spread += (spread.empty() ? "" : ", ") + Fixed(ratioOf(r), 2);
  const int moduleCount = chosen.first, directCount = chosen.second;
  const double ratio = static_cast<double>(moduleCount) / directCount;
  const std::string how = "walking samples whose median frame takes <= 16.7 ms of one core (" +
                          std::to_string(framesPerProbe) +
                          " frames per probe; module and direct searched in lockstep, frames "
                          "interleaved; the median ratio of " +
                          std::to_string(searches) + " searches: " + spread + ")";
  if (!suffix.empty()) {
    session.Add("crowd_60hz" + suffix, moduleCount, 0, "", true,
                "the same with the renderer checking every index; direct " +
                    std::to_string(directCount) + ", ratio " + Fixed(ratio, 3));
    return;
  }
  session.Add("crowd_60hz", moduleCount, 0, ">= 2 x direct", ratio >= 2.0,
              how + ", DrawTest + Draw of each through the module (Stage::DrawFrame)");
  session.Add("crowd_60hz_direct", directCount, 0, "", true, how + ", the direct Cal3D loop");
  session.Add("crowd_60hz_ratio", ratio, 3, ">= 2.0", ratio >= 2.0,
              "crowd_60hz / crowd_60hz_direct");
}

}  // namespace rwbench
