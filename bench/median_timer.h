// Medians of repeated timings in thread CPU time, which other processes on a
// busy machine disturb less than wall time does.
#ifndef ZEB_BENCH_MEDIAN_TIMER_H
#define ZEB_BENCH_MEDIAN_TIMER_H

#include <time.h>

#include <algorithm>
#include <vector>

namespace zeb_bench {

inline double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double median_of(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// CPU seconds of one run of work.
template <typename Work>
double cpu_seconds_of(const Work& work) {
  const double start = thread_cpu_seconds();
  work();
  return thread_cpu_seconds() - start;
}

}  // namespace zeb_bench

#endif
