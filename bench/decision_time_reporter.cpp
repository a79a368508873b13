#include "decision_time_reporter.h"

#include <unistd.h>

namespace zeb_bench {

decision_time_reporter::decision_time_reporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

void decision_time_reporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !median)) continue;
    auto rate = run.counters.find("items_per_second");
    if (rate == run.counters.end() || rate->second.value <= 0) continue;
    timing& t = timings_[run.run_name.function_name];
    if (t.from_median && !median) continue;
    t = {1e9 / rate->second.value, median};
  }
}

std::optional<double> decision_time_reporter::ns_per_decision(const std::string& benchmark) const {
  auto it = timings_.find(benchmark);
  if (it == timings_.end()) return std::nullopt;
  return it->second.ns;
}

}  // namespace zeb_bench
