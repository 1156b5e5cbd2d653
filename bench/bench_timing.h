#pragma once

// Timing the benchmarks share: the wall time of one run, the median of several runs, and pinning
// the process to one CPU.

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <vector>

template <class F>
double seconds(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The first CPU the process may use (so `taskset -c N` chooses it). Call before any thread starts,
// so every thread inherits it. Returns the CPU, or -1.
inline int pinToOneCpu() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
  }
  return -1;
}
