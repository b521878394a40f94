#include "bench/instruments.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace rwbench {

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

std::vector<double> CoreLoopMs() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return {};
  std::vector<double> times;
  for (int cpu = 0; cpu < CPU_SETSIZE; cpu++) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    double ms = -1;
    std::thread timed([cpu, &ms] {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(cpu, &one);
      if (pthread_setaffinity_np(pthread_self(), sizeof(one), &one) != 0) return;
      // Eight chains of multiplies and adds the compiler cannot fold, so
      // that a core sharing its units with another's work shows it: the same
      // work on every core, a few tens of milliseconds.
      volatile uint64_t seed = 88172645463325252ull;
      uint64_t x[8];
      for (int k = 0; k < 8; k++) x[k] = seed + static_cast<uint64_t>(k);
      const double start = ThreadCpuMicroseconds();
      for (int i = 0; i < 20000000; i++)
        for (uint64_t& v : x) v = v * 6364136223846793005ull + 1442695040888963407ull;
      ms = (ThreadCpuMicroseconds() - start) / 1000.0;
      for (uint64_t v : x) seed = seed ^ v;
    });
    timed.join();
    if (ms < 0) return {};
    times.push_back(ms);
  }
  return times;
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0.0;
  const size_t mid = samples.size() / 2;
  std::nth_element(samples.begin(), samples.begin() + mid, samples.end());
  if (samples.size() % 2 == 1) return samples[mid];
  const double upper = samples[mid];
  const double lower = *std::max_element(samples.begin(), samples.begin() + mid);
  return (lower + upper) / 2.0;
}

long ExactResidentKiB() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line))
    if (line.rfind("Rss:", 0) == 0) return std::stol(line.substr(4));
  return -1;
}

}  // namespace rwbench
