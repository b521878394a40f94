// Clocks, medians, resident memory and a muzzle for standard output.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <vector>

#include "support/memory.h"
#include "support/output.h"

namespace rwbench {

using Clock = std::chrono::steady_clock;

// This thread's CPU time (user and kernel) in microseconds. On a shared
// machine it leaves out the time other processes hold the core, which wall
// time cannot.
double ThreadCpuMicroseconds();

// Both clocks from one start.
class Stopwatch {
 public:
  Stopwatch() : wall_(Clock::now()), cpu_(ThreadCpuMicroseconds()) {}
  // Includes reading the clock, a system call on some machines (a
  // microsecond or two): short intervals must subtract an empty one.
  double CpuUs() const { return ThreadCpuMicroseconds() - cpu_; }
  double WallUs() const {
    return std::chrono::duration<double, std::micro>(Clock::now() - wall_).count();
  }

 private:
  Clock::time_point wall_;
  double cpu_;
};

// A fixed loop's CPU time in milliseconds on each core this process may
// run on, each timed on a thread pinned there; empty where pinning fails.
// Cores of one speed give one time: on a shared virtual machine they may
// not, and a figure that uses both then depends on which one a
// single-threaded measurement had.
std::vector<double> CoreLoopMs();

// Median of the samples (the mean of the middle two for an even count); 0 when empty.
double Median(std::vector<double> samples);

// VmRSS of this process in KiB, or -1. Recent kernels keep it in per-CPU
// counters and report an approximate sum, off by up to some hundreds of KiB.
using rwtest::ResidentKiB;
// Rss from /proc/self/smaps_rollup, which walks the page tables: exact, and
// slower to read.
long ExactResidentKiB();

// While alive, file descriptor 1 goes to /dev/null (flushed on both edges),
// so that what the module prints costs a write to /dev/null and no terminal.
class SilencedStdout : public rwtest::CapturedOutput {
 public:
  SilencedStdout() : CapturedOutput(Keep::Nothing) {}
};

// Runs `work` in a forked child and hands back the doubles it returned, so
// that memory measured there starts from a process no other measurement has
// grown or fragmented. Empty if the child failed.
template <class Work>
std::vector<double> InChild(Work work) {
  std::cout.flush();
  std::fflush(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {};
  }
  if (pid == 0) {
    close(fds[0]);
    const std::vector<double> values = work();
    const size_t bytes = values.size() * sizeof(double);
    const bool written =
        bytes == 0 || write(fds[1], values.data(), bytes) == static_cast<ssize_t>(bytes);
    std::cout.flush();
    std::fflush(nullptr);
    // No destructors: the parent owns everything the child inherited.
    _exit(written && !values.empty() ? 0 : 1);
  }
  close(fds[1]);
  std::vector<double> values;
  double value;
  while (read(fds[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value))
    values.push_back(value);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return values;
}

}  // namespace rwbench
