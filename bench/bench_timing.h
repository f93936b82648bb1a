// Timing for the benchmark programs: runs a piece of work repeatedly and prints the time per
// run, with figures of the work's own beside it. Standard library only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kordel::bench {

// Keeps a computed value alive, so that the compiler cannot drop the work that made it.
inline volatile std::uintmax_t keepSink = 0;
template <typename T>
  requires std::is_arithmetic_v<T>
void keep(T value) {
  keepSink = keepSink + static_cast<std::uintmax_t>(value);
}

struct Timing {
  long runs = 0;
  double secondsPerRun = 0;
};

// Runs `work` at least `minRuns` times and until `minSeconds` have passed (but at most
// `maxRuns` times), and returns the mean time per run.
inline Timing measure(const std::function<void()>& work, double minSeconds, long minRuns = 1,
                      long maxRuns = 1000000000L) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  Timing t;
  double elapsed = 0;
  while (t.runs < maxRuns && (t.runs < minRuns || elapsed < minSeconds)) {
    work();
    ++t.runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  t.secondsPerRun = elapsed / static_cast<double>(t.runs);
  return t;
}

// One line: the name, the time per run in a readable unit, the runs, then "key=value" figures.
inline void print(const std::string& name, const Timing& t,
                  const std::vector<std::pair<std::string, double>>& figures = {}) {
  const double s = t.secondsPerRun;
  const char* unit = "s";
  double shown = s;
  if (s < 1e-3) {
    unit = "us";
    shown = s * 1e6;
  } else if (s < 1) {
    unit = "ms";
    shown = s * 1e3;
  }
  std::printf("%-32s %12.3f %-2s %10ld runs", name.c_str(), shown, unit, t.runs);
  for (const auto& [key, value] : figures) std::printf("  %s=%.4g", key.c_str(), value);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace kordel::bench
