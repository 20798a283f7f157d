// What the Windows history benchmarks share: the message pump, the median of a
// step's wall time, and the process's resident memory.
#pragma once

#include <psapi.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace win32_bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Median wall time of step over five runs, in milliseconds.
template <typename Step>
double MedianMs(Step step) {
  std::vector<double> runs;
  for (int i = 0; i < 5; ++i) {
    const Clock::time_point start = Clock::now();
    step();
    runs.push_back(MsSince(start));
  }
  std::sort(runs.begin(), runs.end());
  return runs[2];
}

// The process's working set in MB (under Wine, its resident memory).
inline long ResidentMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.WorkingSetSize >> 20);
}

}  // namespace win32_bench
