// The figures of the module's status page, read from its Prometheus text,
// and the health check that zebauthz status runs on them.
#ifndef ZEBAUTHZ_STATUS_FIGURES_H
#define ZEBAUTHZ_STATUS_FIGURES_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "prometheus_text.h"

namespace zebauthz {

struct histogram {
  std::vector<std::pair<double, double>> buckets;  // upper bound, cumulative count
  double sum = 0;
  double count = 0;
};

// The q-quantile estimated from the buckets: linear within the bucket it
// falls in, the highest finite bound when it falls in the +Inf bucket;
// nothing when the histogram holds no observation.
std::optional<double> bucket_quantile(const histogram& h, double q);

struct service_operation {
  std::string name;
  double answered = 0;
  double failed = 0;
  histogram seconds;
};

struct credential_source {
  std::string source;
  double accepted = 0;
  double refused = 0;
};

struct role_load_source {
  std::string source;
  double loads = 0;
  histogram seconds;
};

struct memcached_server {
  std::string server;
  double hit = 0;
  double miss = 0;
  double error = 0;
  double skipped = 0;
};

struct status_figures {
  std::vector<service_operation> operations;  // in the page's order
  std::vector<credential_source> credentials;
  std::vector<role_load_source> role_loads;
  std::vector<memcached_server> memcached;
  double granted = 0;
  double refused = 0;
  double recursive_walks = 0;
  double recursive_walk_nodes = 0;
  double connection_contexts = 0;
  double connection_context_bytes = 0;
  double processes = 0;
  double start_time = 0;

  double service_calls() const;
  double service_failures() const;
  // Failed calls among all calls since the counters started; 0 without calls.
  double failure_ratio() const;
  // Servers that skipped at least one operation since the counters started.
  int skipping_servers() const;
};

// Throws exposition_error when the page lacks the service calls or the
// decisions: a page without them is not the module's, and must not pass for
// a healthy one.
status_figures figures_of(const exposition& page);

struct health_limits {
  double max_failure_ratio = 0.01;
  int max_skipped = 0;
};

// What exceeds the limits, one sentence each; empty when healthy.
std::vector<std::string> health_problems(const status_figures& figures,
                                         const health_limits& limits);

}  // namespace zebauthz

#endif
