// Timing of the benchmarks: a clock in nanoseconds and the median of single
// operations, each run on its own with its set-up and clean-up untimed (so the
// heap is in the steady state it has in the product).
#pragma once

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace bench {

inline double now_ns() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

template <typename Prepare, typename Body, typename Finish>
double median_ns(int rounds, Prepare prepare, Body body, Finish finish) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    prepare();
    const double start = now_ns();
    body();
    times.push_back(now_ns() - start);
    finish();
  }
  std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
  return times[static_cast<std::size_t>(rounds / 2)];
}

template <typename Prepare, typename Body>
double median_ns(int rounds, Prepare prepare, Body body) {
  return median_ns(rounds, prepare, body, [] {});
}

// Two operations timed in alternation, each after its own untimed prepare, so
// that a change of the machine's load falls on both alike: their medians.
template <typename Prepare, typename First, typename Second>
std::pair<double, double> median_pair_ns(int rounds, Prepare prepare, First first, Second second) {
  std::vector<double> a, b;
  for (int round = 0; round < rounds; ++round) {
    prepare();
    double start = now_ns();
    first();
    a.push_back(now_ns() - start);
    prepare();
    start = now_ns();
    second();
    b.push_back(now_ns() - start);
  }
  const auto middle = [rounds](std::vector<double>& times) {
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<std::size_t>(rounds / 2)];
  };
  return {middle(a), middle(b)};
}

}  // namespace bench
