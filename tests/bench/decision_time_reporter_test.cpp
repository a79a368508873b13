#include "decision_time_reporter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace zeb_bench {
namespace {

using bench_run = benchmark::BenchmarkReporter::Run;

bench_run run(const char* name, double items_per_second, const char* aggregate = "") {
  bench_run r;
  r.run_name.function_name = name;
  r.iterations = 1;
  r.counters["items_per_second"] = benchmark::Counter(items_per_second);
  if (*aggregate) {
    r.run_type = bench_run::RT_Aggregate;
    r.aggregate_name = aggregate;
  }
  return r;
}

TEST(DecisionTimeReporterTest, TimePerDecisionFromTheRightRun) {
  bench_run failed = run("failed", 1e6);
  failed.error_occurred = true;
  struct row {
    const char* title;
    std::vector<bench_run> runs;
    const char* benchmark;
    std::optional<double> ns;
  };
  const row rows[] = {
      {"single run", {run("engine", 4e6)}, "engine", 250},
      {"median of repetitions",
       {run("engine", 1e7), run("engine", 4e6), run("engine", 2e6), run("engine", 5e6, "mean"),
        run("engine", 4e6, "median"), run("engine", 1e3, "stddev")},
       "engine",
       250},
      {"other benchmark", {run("literal", 1e5)}, "engine", std::nullopt},
      {"failed run", {failed}, "failed", std::nullopt},
      {"no rate", {run("engine", 0)}, "engine", std::nullopt},
  };
  for (const row& r : rows) {
    decision_time_reporter reporter;
    std::ostringstream out;
    reporter.SetOutputStream(&out);
    reporter.SetErrorStream(&out);
    reporter.ReportRuns(r.runs);
    EXPECT_EQ(reporter.ns_per_decision(r.benchmark), r.ns) << r.title;
  }
}

TEST(DecisionTimeReporterTest, LaterIterationRunsDoNotReplaceMedian) {
  decision_time_reporter reporter;
  std::ostringstream out;
  reporter.SetOutputStream(&out);
  reporter.SetErrorStream(&out);
  reporter.ReportRuns({run("engine", 4e6, "median")});
  reporter.ReportRuns({run("engine", 1e6)});
  EXPECT_EQ(reporter.ns_per_decision("engine"), 250);
}

}  // namespace
}  // namespace zeb_bench
