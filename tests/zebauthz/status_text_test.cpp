#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "prometheus_text.h"
#include "status_figures.h"

namespace {

using zebauthz::exposition_error;
using zebauthz::parse_exposition;

using labels_t = std::map<std::string, std::string>;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct sample_case {
  const char* text;
  const char* name;
  labels_t labels;
  double value;  // NaN: NaN expected
};

TEST(StatusText, ReadsOneSample) {
  const sample_case cases[] = {
      {"a 1", "a", {}, 1},
      {"a_total{x=\"q\\\"b\\\\c\\nd\"} 2", "a_total", {{"x", "q\"b\\c\nd"}}, 2},
      {"a{ x = \"1\" , y=\"}, #\", } 1.5e3", "a", {{"x", "1"}, {"y", "}, #"}}, 1500},
      {"a{} -0.25 1700000000000", "a", {}, -0.25},
      {"\t a:b_c{le=\"+Inf\"}\t+Inf  ", "a:b_c", {{"le", "+Inf"}}, kInf},
      {"a -Inf", "a", {}, -kInf},
      {"a NaN", "a", {}, std::nan("")},
      {"# a comment\n\n#\n# HELP a text\n# TYPE a gauge\na 7\n", "a", {}, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto page = parse_exposition(c.text);
    ASSERT_EQ(page.samples.size(), 1u);
    const auto& sample = page.samples.front();
    EXPECT_EQ(sample.name, c.name);
    EXPECT_EQ(sample.labels, c.labels);
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(sample.value));
    } else {
      EXPECT_EQ(sample.value, c.value);
    }
  }
}

TEST(StatusText, ReadsHelpAndType) {
  const auto page = parse_exposition(
      "# HELP h_seconds Time \\\\ taken,\\nper call.\n# TYPE h_seconds histogram\n"
      "# TYPE c counter\n# HELP c\n");
  EXPECT_EQ(page.help, (labels_t{{"h_seconds", "Time \\ taken,\nper call."}, {"c", ""}}));
  EXPECT_EQ(page.types, (labels_t{{"h_seconds", "histogram"}, {"c", "counter"}}));
}

TEST(StatusText, RefusesWhatTheFormatDoesNotAllow) {
  const char* const cases[] = {
      "a",
      "a 1x",
      "a 1 2 3",
      "a 1e999",
      "a{x=\"1\" 1",
      "a{x=\"1} 1",
      "a{x=\"1\\",
      "a{x=\"\\q\"} 1",
      "a{x=1} 1",
      "a{x=\"1\" y=\"2\"} 1",
      "a{x=\"1\",x=\"2\"} 1",
      "a{1x=\"1\"} 1",
      "1a 1",
      "# TYPE a bogus",
      "# TYPE a counter extra",
      "# TYPE a counter\n# TYPE a gauge",
      "# HELP a one\n# HELP a two",
      "# HELP a bad \\q escape",
  };
  for (const char* text : cases) {
    EXPECT_THROW(parse_exposition(text), exposition_error) << text;
  }
  try {
    parse_exposition("a 1\n\nb x\n");
    FAIL();
  } catch (const exposition_error& e) {
    EXPECT_STREQ(e.what(), "line 3: not a sample value: \"x\"");
  }
}

struct quantile_case {
  std::vector<std::pair<double, double>> buckets;
  double q;
  std::optional<double> expected;
};

TEST(StatusText, EstimatesQuantilesFromBuckets) {
  const quantile_case cases[] = {
      {{{0.1, 10}, {0.2, 20}, {kInf, 20}}, 0.5, 0.1},
      {{{0.1, 10}, {0.2, 20}, {kInf, 20}}, 0.75, 0.15},
      {{{0.1, 0}, {0.2, 20}, {kInf, 20}}, 0.5, 0.15},
      {{{0.1, 4}, {kInf, 4}}, 0.5, 0.05},
      // Beyond the highest bound: that bound.
      {{{0.1, 1}, {0.5, 1}, {kInf, 10}}, 0.95, 0.5},
      // In any order, and a sum that dipped while processes wrote it.
      {{{kInf, 20}, {0.2, 19}, {0.1, 20}}, 0.5, 0.05},
      {{{0.1, 0}, {kInf, 0}}, 0.5, std::nullopt},
      {{{0.1, 3}}, 0.5, std::nullopt},
      {{{kInf, 3}}, 0.5, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    zebauthz::histogram h;
    h.buckets = c.buckets;
    const auto estimate = zebauthz::bucket_quantile(h, c.q);
    ASSERT_EQ(estimate.has_value(), c.expected.has_value());
    if (estimate) {
      EXPECT_DOUBLE_EQ(*estimate, *c.expected);
    }
  }
}

constexpr char kPage[] = R"(# TYPE authnz_zeb_service_calls_total counter
authnz_zeb_service_calls_total{operation="isValidUser",outcome="answered"} 90
authnz_zeb_service_calls_total{operation="isValidUser",outcome="failed"} 2
authnz_zeb_service_calls_total{operation="getRolePaths",outcome="answered"} 5
authnz_zeb_service_calls_total{operation="getRolePaths",outcome="failed"} 3
authnz_zeb_service_call_seconds_bucket{operation="getRolePaths",le="0.1"} 8
authnz_zeb_service_call_seconds_bucket{operation="getRolePaths",le="+Inf"} 8
authnz_zeb_decisions_total{result="granted"} 40
authnz_zeb_decisions_total{result="refused"} 2
other_total{server="x:1",result="skipped"} 9
)";

struct health_case {
  std::string extra;  // lines after kPage
  zebauthz::health_limits limits;
  size_t problems;
};

TEST(StatusText, ChecksFailureRatioAndSkippedServers) {
  const std::string one_skipping =
      "authnz_zeb_memcached_operations_total{server=\"a:1\",result=\"skipped\"} 1\n"
      "authnz_zeb_memcached_operations_total{server=\"b:1\",result=\"error\"} 4\n";
  const std::string two_skipping =
      one_skipping + "authnz_zeb_memcached_operations_total{server=\"b:1\",result=\"skipped\"} 2\n";
  // 5 of 100 calls failed.
  const health_case cases[] = {
      {"", {0.05, 0}, 0},           {"", {0.049, 0}, 1},          {one_skipping, {0.05, 0}, 1},
      {one_skipping, {0.05, 1}, 0}, {two_skipping, {0.05, 1}, 1}, {two_skipping, {0.01, 0}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    const auto figures = zebauthz::figures_of(parse_exposition(kPage + c.extra));
    EXPECT_DOUBLE_EQ(figures.failure_ratio(), 0.05);
    ASSERT_EQ(figures.operations.size(), 2u);
    EXPECT_EQ(figures.operations[1].seconds.buckets.size(), 2u);
    EXPECT_EQ(zebauthz::health_problems(figures, c.limits).size(), c.problems);
  }
}

TEST(StatusText, RefusesPagesThatAreNotTheModules) {
  const std::string without_decisions =
      std::string(kPage).substr(0, std::string(kPage).find("authnz_zeb_decisions"));
  const std::string cases[] = {
      "",
      "up 1\n",
      without_decisions,
      kPage + std::string("authnz_zeb_recursive_walks_total -1\n"),
      kPage + std::string("authnz_zeb_decisions_total{result=\"refused\"} 2\n"),
      kPage + std::string("authnz_zeb_processes NaN\n"),
      kPage +
          std::string("authnz_zeb_role_load_seconds_bucket{source=\"service\",le=\"soon\"} 1\n"),
      kPage + std::string("authnz_zeb_role_load_seconds_bucket{source=\"service\",le=\"-1\"} 1\n"),
  };
  for (const auto& text : cases) {
    EXPECT_THROW(zebauthz::figures_of(parse_exposition(text)), exposition_error) << text;
  }
}

}  // namespace
