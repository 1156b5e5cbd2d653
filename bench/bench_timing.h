#pragma once

// Timing the benchmarks share: the wall time of one run, and the median of several runs.

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
