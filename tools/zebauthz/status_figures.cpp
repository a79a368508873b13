#include "status_figures.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

namespace zebauthz {
namespace {

constexpr char kPrefix[] = "authnz_zeb_";

std::string label_of(const metric_sample& sample, const char* label) {
  const auto found = sample.labels.find(label);
  return found == sample.labels.end() ? std::string() : found->second;
}

// The entry of items whose key is key, appended when the page first names it.
template <typename T>
T& entry(std::vector<T>& items, std::string T::*field, const std::string& key) {
  for (auto& item : items) {
    if (item.*field == key) return item;
  }
  T& item = items.emplace_back();
  item.*field = key;
  return item;
}

// A _bucket, _sum or _count sample of a histogram family.
void add_to_histogram(histogram& h, const std::string& suffix, const metric_sample& sample) {
  if (suffix == "_sum") {
    h.sum = sample.value;
  } else if (suffix == "_count") {
    h.count = sample.value;
  } else if (suffix == "_bucket") {
    const std::string le = label_of(sample, "le");
    double bound = INFINITY;
    if (le != "+Inf") {
      const auto [end, error] = std::from_chars(le.data(), le.data() + le.size(), bound);
      // Times are never negative; a bound that is would upset the estimates.
      if (le.empty() || error != std::errc() || end != le.data() + le.size() || !(bound >= 0)) {
        throw exposition_error(sample.name + " has a bucket bound that is not a time: \"" + le +
                               "\"");
      }
    }
    h.buckets.emplace_back(bound, sample.value);
  }
}

std::string percent(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", ratio * 100);
  return text;
}

}  // namespace

std::optional<double> bucket_quantile(const histogram& h, double q) {
  std::vector<std::pair<double, double>> buckets = h.buckets;
  std::sort(buckets.begin(), buckets.end());
  if (buckets.empty() || !std::isinf(buckets.back().first)) return std::nullopt;
  // Counts summed from several processes while they change may dip; a
  // bucket never holds fewer than the buckets below it.
  for (size_t i = 1; i < buckets.size(); ++i) {
    buckets[i].second = std::max(buckets[i].second, buckets[i - 1].second);
  }
  const double total = buckets.back().second;
  if (total <= 0) return std::nullopt;
  const double rank = q * total;
  double lower = 0;
  double below = 0;
  for (size_t i = 0; i < buckets.size(); ++i) {
    const auto [upper, cumulative] = buckets[i];
    if (cumulative >= rank && cumulative > below) {
      if (std::isinf(upper)) return i == 0 ? std::nullopt : std::optional<double>(lower);
      return lower + (upper - lower) * (rank - below) / (cumulative - below);
    }
    lower = upper;
    below = cumulative;
  }
  return lower;
}

double status_figures::service_calls() const {
  double calls = 0;
  for (const auto& op : operations) calls += op.answered + op.failed;
  return calls;
}

double status_figures::service_failures() const {
  double failed = 0;
  for (const auto& op : operations) failed += op.failed;
  return failed;
}

double status_figures::failure_ratio() const {
  const double calls = service_calls();
  return calls > 0 ? service_failures() / calls : 0;
}

int status_figures::skipping_servers() const {
  return static_cast<int>(std::count_if(memcached.begin(), memcached.end(),
                                        [](const auto& server) { return server.skipped > 0; }));
}

status_figures figures_of(const exposition& page) {
  status_figures figures;
  bool has_calls = false;
  bool has_decisions = false;
  std::set<std::pair<std::string, std::map<std::string, std::string>>> seen;
  for (const auto& sample : page.samples) {
    if (sample.name.rfind(kPrefix, 0) != 0) continue;
    // Every figure counts something: a value that is not a count would
    // make any ratio meaningless.
    if (!std::isfinite(sample.value) || sample.value < 0) {
      throw exposition_error(sample.name + " is not a count: " + std::to_string(sample.value));
    }
    // A series written twice would be counted twice.
    if (!seen.emplace(sample.name, sample.labels).second) {
      throw exposition_error(sample.name + " is on the page twice with the same labels");
    }
    const std::string name = sample.name.substr(sizeof kPrefix - 1);
    const auto histogram_part = [&](const std::string& family) -> std::optional<std::string> {
      for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        if (name == family + suffix) return std::string(suffix);
      }
      return std::nullopt;
    };
    if (name == "service_calls_total") {
      has_calls = true;
      auto& op = entry(figures.operations, &service_operation::name, label_of(sample, "operation"));
      (label_of(sample, "outcome") == "failed" ? op.failed : op.answered) += sample.value;
    } else if (const auto part = histogram_part("service_call_seconds")) {
      add_to_histogram(
          entry(figures.operations, &service_operation::name, label_of(sample, "operation"))
              .seconds,
          *part, sample);
    } else if (name == "credentials_total") {
      auto& source =
          entry(figures.credentials, &credential_source::source, label_of(sample, "source"));
      (label_of(sample, "result") == "refused" ? source.refused : source.accepted) += sample.value;
    } else if (name == "role_loads_total") {
      entry(figures.role_loads, &role_load_source::source, label_of(sample, "source")).loads +=
          sample.value;
    } else if (const auto part = histogram_part("role_load_seconds")) {
      add_to_histogram(
          entry(figures.role_loads, &role_load_source::source, label_of(sample, "source")).seconds,
          *part, sample);
    } else if (name == "memcached_operations_total") {
      auto& server =
          entry(figures.memcached, &memcached_server::server, label_of(sample, "server"));
      const std::string result = label_of(sample, "result");
      if (result == "hit")
        server.hit += sample.value;
      else if (result == "miss")
        server.miss += sample.value;
      else if (result == "error")
        server.error += sample.value;
      else if (result == "skipped")
        server.skipped += sample.value;
    } else if (name == "decisions_total") {
      has_decisions = true;
      (label_of(sample, "result") == "refused" ? figures.refused : figures.granted) += sample.value;
    } else if (name == "recursive_walks_total") {
      figures.recursive_walks = sample.value;
    } else if (name == "recursive_walk_nodes_total") {
      figures.recursive_walk_nodes = sample.value;
    } else if (name == "connection_contexts") {
      figures.connection_contexts = sample.value;
    } else if (name == "connection_context_bytes") {
      figures.connection_context_bytes = sample.value;
    } else if (name == "processes") {
      figures.processes = sample.value;
    } else if (name == "start_time_seconds") {
      figures.start_time = sample.value;
    }
  }
  if (!has_calls || !has_decisions) {
    throw exposition_error(std::string("no ") + kPrefix +
                           (has_calls ? "decisions_total" : "service_calls_total") +
                           " on the page: not the module's status page");
  }
  return figures;
}

std::vector<std::string> health_problems(const status_figures& figures,
                                         const health_limits& limits) {
  std::vector<std::string> problems;
  if (figures.failure_ratio() > limits.max_failure_ratio) {
    problems.push_back("service failure ratio " + percent(figures.failure_ratio()) + " exceeds " +
                       percent(limits.max_failure_ratio));
  }
  if (figures.skipping_servers() > limits.max_skipped) {
    problems.push_back(std::to_string(figures.skipping_servers()) +
                       " memcached server(s) skipped, more than " +
                       std::to_string(limits.max_skipped));
  }
  return problems;
}

}  // namespace zebauthz
