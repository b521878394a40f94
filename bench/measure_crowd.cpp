// The crowd: how many walking characters a 60 Hz frame holds, through the module and directly.
#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/crowd.h"
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

namespace {

// The largest count whose median frame fits the budget, for each of several
// sides searched in lockstep: each probe draws every side's candidate count
// for the same frames, interleaved. Returns a count per side, 0 for a side
// that could not be drawn.
template <class Ready, class Frame>
std::vector<int> SearchInLockstep(const std::vector<double>& usEach, int cap, int framesPerProbe,
                                  bool& broken, Ready&& ready, Frame&& frame) {
  const int warmup = 2;
  std::vector<CrowdSearch> searches;
  for (double us : usEach) searches.emplace_back(static_cast<int>(kFrameBudgetUs / us), cap);
  auto done = [&] {
    for (const CrowdSearch& search : searches)
      if (!search.Done()) return false;
    return true;
  };
  const size_t sides = searches.size();
  while (!broken && !done()) {
    std::vector<int> counts(sides, 0);
    for (size_t s = 0; s < sides; s++) {
      counts[s] = searches[s].Done() ? 0 : searches[s].Candidate();
      ready(s, counts[s]);
    }
    if (broken) break;
    std::vector<std::vector<double>> times(sides);
    for (int f = 0; f < warmup + framesPerProbe; f++) {
      for (size_t s = 0; s < sides; s++) {
        const double us = counts[s] > 0 ? frame(s, counts[s]) : 0.0;
        if (f >= warmup) times[s].push_back(us);
      }
    }
    for (size_t s = 0; s < sides; s++)
      if (counts[s] > 0) searches[s].Report(Median(times[s]) <= kFrameBudgetUs);
  }
  std::vector<int> results;
  for (const CrowdSearch& search : searches) results.push_back(search.Result());
  return results;
}

// The machine's one-minute load average, which wall-time figures depend on.
std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string first;
  file >> first;
  return first.empty() ? "unknown" : first;
}

std::string Spread(const std::vector<double>& values, int decimals) {
  std::string text;
  for (double v : values) text += (text.empty() ? "" : ", ") + Fixed(v, decimals);
  return text;
}

}  // namespace

namespace {

using Scene = std::vector<std::pair<iMeshObject*, iMovable*>>;

// The same crowd on every core: the engine's CrowdRenderer. Searched by the
// busiest drawing thread's CPU time, which is what cores of their own would
// take and is comparable with crowd_60hz (one thread's CPU time), and apart
// from that by wall time, which on a shared machine also counts the moments
// other processes hold the cores. Not in lockstep with the one-core crowd:
// an object drawn among a different count is in a different share, and
// moving it every frame would make it a vertex buffer every frame. Each of
// its searches follows a one-core search instead, and the ratio is taken
// pair by pair: on a machine whose speed drifts during a run (seen: the
// one-core crowd 969 to 1,389 within one run), a ratio of medians searched
// minutes apart says more of the drift than of the threads.
class ThreadedCrowd {
 public:
  ThreadedCrowd(rwengine::Stage& stage, int records)
      : cores_(static_cast<int>(std::thread::hardware_concurrency())),
        // Shares fine enough that a thread which wakes late still gets its
        // half: the last share one thread draws while the other waits is a
        // 64th of the frame on two cores. Over three alternating runs on two
        // cores, 32 shares a thread gave crowd_threads_ratio 1.86, 1.94,
        // 1.91; 8 gave 1.89, 1.81, 1.85.
        shares_(32 * std::max(cores_, 1)),
        backends_(static_cast<size_t>(shares_)),
        crowd_(stage, cores_, shares_, [this](int k) { return &backends_[size_t(k)]; }),
        records_(records) {}

  // The largest count the busiest thread's CPU time (or, with `wall`, the
  // frame's wall time) fits into the budget, starting from `estimate`.
  template <class Ready>
  int Search(Session& session, const Scene& scene, Ready&& ready, int estimate, int framesPerProbe,
             bool wall, bool& broken) {
    auto frame = [&](size_t, int n) {
      const Scene drawn(scene.begin(), scene.begin() + n);
      session.ticks += kTicksPerFrame;
      const long before = Draws();
      const Stopwatch watch;
      crowd_.DrawFrame(drawn);
      const double us = watch.WallUs();
      if (Draws() - before != static_cast<long>(records_) * n) broken = true;
      return wall ? us : crowd_.BusiestThreadUs();
    };
    const std::vector<int> found = SearchInLockstep(
        {kFrameBudgetUs / std::max(estimate, 1)}, 10000, framesPerProbe, broken,
        [&](size_t, int n) { ready(n); }, frame);
    return found[0];
  }

  std::string DrawnBy() const {
    return "drawn by " + std::to_string(crowd_.Threads()) + " threads (" + std::to_string(cores_) +
           " cores, nproc) in " + std::to_string(shares_) +
           " shares (rwengine::CrowdRenderer, oneTBB)";
  }
  int Threads() const { return crowd_.Threads(); }
  int Cores() const { return cores_; }

 private:
  long Draws() const {
    long draws = 0;
    for (const auto& b : backends_) draws += b.draws;
    return draws;
  }

  int cores_;
  int shares_;
  std::vector<rwengine::NullBackend> backends_;
  rwengine::CrowdRenderer crowd_;
  int records_;
};

// The threaded figures from each pair's counts: one-core, busiest thread's
// CPU time, wall time.
void ReportThreads(Session& session, const ThreadedCrowd& threaded,
                   const std::vector<std::array<int, 3>>& pairs, const std::string& cores) {
  std::vector<double> cpuCounts, wallCounts, ratios;
  for (const auto& pair : pairs) {
    cpuCounts.push_back(pair[1]);
    wallCounts.push_back(pair[2]);
    ratios.push_back(static_cast<double>(pair[1]) / pair[0]);
  }
  std::sort(cpuCounts.begin(), cpuCounts.end());
  std::sort(wallCounts.begin(), wallCounts.end());
  std::sort(ratios.begin(), ratios.end());
  const double ratio = Median(ratios);
  const std::string searches = std::to_string(pairs.size());
  session.Add("crowd_60hz_threads", Median(cpuCounts), 0, "", true,
              "walking samples whose median frame takes <= 16.7 ms of the busiest drawing "
              "thread's CPU time, " +
                  threaded.DrawnBy() + "; median of " + searches +
                  " searches, each right after a one-core search: " + Spread(cpuCounts, 0));
  session.Add("crowd_60hz_threads_wall", Median(wallCounts), 0, "", true,
              "the same by the frame's wall time, searched in turn with it; median of " + searches +
                  " searches: " + Spread(wallCounts, 0) + "; load average " + LoadAverage() +
                  " at the end");
  session.Add("crowd_threads_ratio", ratio, 3, ">= 1.8 on 2 cores", ratio >= 1.8,
              "median of each search's crowd_60hz_threads / the crowd_60hz searched just before "
              "it, " +
                  std::to_string(threaded.Cores()) + " cores: " + Spread(ratios, 2) + cores);
}

}  // namespace

// `suffix` names a variant (the renderer's index check on); without one the
// figures carry their targets, and the crowd on every core is searched too.
void MeasureCrowd(Session& session, rwengine::Stage& stage, rwengine::NullBackend& backend,
                  double moduleUsEach, double directUsEach, int framesPerProbe, int searches,
                  const std::string& suffix) {
  const int cap = 10000;
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

  // The idiomatic direct crowd: one core model, an instance per character.
  // One set of buffers serves them all.
  std::vector<std::unique_ptr<DirectCharacter>> characters;
  CharacterFiles files;
  broken = broken || !ReadCharacterFiles(session.modelFolder, session.sample.c_str(), files);
  FrameBuffers buffers;
  auto directReady = [&](int n) {
    while (static_cast<int>(characters.size()) < n && !broken) {
      characters.push_back(std::make_unique<DirectCharacter>());
      DirectCharacter& character = *characters.back();
      broken = !(characters.size() == 1 ? character.Load(session.modelFolder, files)
                                        : character.Share(*characters.front())) ||
               !character.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
      if (!broken) buffers.FitTo(*character.Model());
    }
  };
  auto directFrame = [&](int n) {
    const Stopwatch watch;
    for (int i = 0; i < n; i++) characters[size_t(i)]->Frame(kFrameSeconds, buffers);
    return watch.CpuUs();
  };

  // The two searches end at different moments, so a machine whose speed
  // changes during a run (a shared one) can favour either side: the figure
  // is the search pair of median ratio out of several.
  std::vector<std::pair<int, int>> results;
  std::vector<std::array<int, 3>> threadPairs;
  std::unique_ptr<ThreadedCrowd> threaded;
  // Each core's speed around the threaded searches, which only the plain
  // crowd makes.
  std::vector<double> coresBefore;
  if (suffix.empty()) {
    coresBefore = CoreLoopMs();
    threaded = std::make_unique<ThreadedCrowd>(stage, records);
  }
  for (int i = 0; i < searches && !broken; i++) {
    const std::vector<int> found = SearchInLockstep(
        {moduleUsEach, directUsEach}, cap, framesPerProbe, broken,
        [&](size_t side, int n) { side == 0 ? moduleReady(n) : directReady(n); },
        [&](size_t side, int n) { return side == 0 ? moduleFrame(n) : directFrame(n); });
    results.emplace_back(found[0], found[1]);
    if (results.back().first <= 0 || results.back().second <= 0) broken = true;
    if (!threaded || broken) continue;
    const int estimate = found[0] * threaded->Threads();
    const int cpu =
        threaded->Search(session, scene, moduleReady, estimate, framesPerProbe, false, broken);
    const int wall =
        threaded->Search(session, scene, moduleReady, estimate, framesPerProbe, true, broken);
    threadPairs.push_back({found[0], cpu, wall});
  }
  if (broken) return session.Fail("the crowd could not be drawn");
  // Each figure is the median of its own series: counts and ratio.
  std::vector<double> ratios, counts, directCounts;
  for (const auto& r : results) {
    ratios.push_back(static_cast<double>(r.first) / r.second);
    counts.push_back(r.first);
    directCounts.push_back(r.second);
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(counts.begin(), counts.end());
  std::sort(directCounts.begin(), directCounts.end());
  const int moduleCount = static_cast<int>(Median(counts));
  const int directCount = static_cast<int>(Median(directCounts));
  const double ratio = Median(ratios);
  const std::string how = "walking samples whose median frame takes <= 16.7 ms of one core (" +
                          std::to_string(framesPerProbe) +
                          " frames per probe; module and direct searched in lockstep, frames "
                          "interleaved; medians of " +
                          std::to_string(searches) + " searches: module " + Spread(counts, 0) +
                          ", direct " + Spread(directCounts, 0) + ", ratios " + Spread(ratios, 2) +
                          ")";
  if (!suffix.empty()) {
    session.Add("crowd_60hz" + suffix, moduleCount, 0, "", true,
                "the same with the renderer checking every index; direct " +
                    std::to_string(directCount) + ", ratio " + Fixed(ratio, 3));
    return;
  }
  session.Add("crowd_60hz", moduleCount, 0, ">= 1000", moduleCount >= 1000,
              how + ", DrawTest + Draw of each through the module (Stage::DrawFrame)");
  session.Add("crowd_60hz_direct_shared", directCount, 0, "", true,
              how +
                  ", the direct Cal3D loop with one core model for all (update, vertices "
                  "turned into engine space, texels, faces and their reversal)");
  session.Add("crowd_60hz_ratio", ratio, 3, ">= 4.0", ratio >= 4.0,
              "median of the searches' crowd_60hz / crowd_60hz_direct_shared");
  const std::vector<double> coresAfter = CoreLoopMs();
  const std::string cores = coresBefore.empty() || coresAfter.empty()
                                ? std::string()
                                : "; a fixed loop pinned to each core in turn took " +
                                      Spread(coresBefore, 1) + " ms before the crowd and " +
                                      Spread(coresAfter, 1) + " ms after (one speed: one time)";
  ReportThreads(session, *threaded, threadPairs, cores);
}

}  // namespace rwbench
