// Console reporter that also keeps the time per decision of each benchmark,
// so the run can end with the ratios between the engines.
#ifndef ZEB_BENCH_DECISION_TIME_REPORTER_H
#define ZEB_BENCH_DECISION_TIME_REPORTER_H

#include <map>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>

namespace zeb_bench {

class decision_time_reporter : public benchmark::ConsoleReporter {
 public:
  // Coloured only on a terminal, so that saved output stays plain text.
  decision_time_reporter();

  void ReportRuns(const std::vector<Run>& runs) override;

  // CPU nanoseconds per decision of the benchmark, from its items rate; the
  // median when repetitions ran. Empty when the benchmark did not run.
  std::optional<double> ns_per_decision(const std::string& benchmark) const;

 private:
  struct timing {
    double ns = 0;
    bool from_median = false;
  };
  std::map<std::string, timing> timings_;
};

}  // namespace zeb_bench

#endif
