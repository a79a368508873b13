#include "status_report.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace zebauthz {
namespace {

double share(double part, double whole) {
  return whole > 0 ? part / whole : 0;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

double credential_checks(const status_figures& figures) {
  double checks = 0;
  for (const auto& source : figures.credentials) checks += source.accepted + source.refused;
  return checks;
}

double role_loads_of(const status_figures& figures) {
  double loads = 0;
  for (const auto& source : figures.role_loads) loads += source.loads;
  return loads;
}

std::string count(double value) {
  return format("%.0f", value);
}
std::string percent(double ratio) {
  return format("%.1f%%", ratio * 100);
}

std::string duration(const std::optional<double>& seconds) {
  if (!seconds) return "-";
  return *seconds < 1 ? format("%.1f ms", *seconds * 1000) : format("%.2f s", *seconds);
}

std::string bytes(double value) {
  if (value >= 1 << 20) return format("%.1f MiB", value / (1 << 20));
  if (value >= 1 << 10) return format("%.1f KiB", value / (1 << 10));
  return format("%.0f B", value);
}

// Columns padded to their widest cell, the first left-aligned.
void write_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line = "  ";
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - row[i].size(), ' ');
      line += i == 0 ? row[i] + pad : "  " + pad + row[i];
    }
    out << line << "\n";
  }
}

nlohmann::json optional_number(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

// Counters are whole numbers; JSON shows them so.
nlohmann::json whole(double value) {
  return static_cast<unsigned long long>(value);
}

}  // namespace

std::string printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
  }
  return text;
}

void write_status(std::ostream& out, const std::string& url, const status_figures& figures,
                  const std::vector<std::string>& problems) {
  char started[32] = "an unknown time";
  const std::time_t start = static_cast<std::time_t>(figures.start_time);
  if (const std::tm* time = std::gmtime(&start); time != nullptr && start > 0) {
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S UTC", time);
  }
  out << url << ": " << count(figures.processes) << " process(es), counting since " << started
      << "\n\nservice calls\n";
  std::vector<std::vector<std::string>> rows = {
      {"operation", "answered", "failed", "failure", "p50", "p95"}};
  for (const auto& op : figures.operations) {
    rows.push_back({printable(op.name), count(op.answered), count(op.failed),
                    percent(share(op.failed, op.answered + op.failed)),
                    duration(bucket_quantile(op.seconds, 0.5)),
                    duration(bucket_quantile(op.seconds, 0.95))});
  }
  rows.push_back({"all", count(figures.service_calls() - figures.service_failures()),
                  count(figures.service_failures()), percent(figures.failure_ratio())});
  write_table(out, rows);

  const double credentials = credential_checks(figures);
  out << "\ncredentials checked\n";
  rows = {{"answered by", "accepted", "refused", "share"}};
  for (const auto& source : figures.credentials) {
    rows.push_back({printable(source.source), count(source.accepted), count(source.refused),
                    percent(share(source.accepted + source.refused, credentials))});
  }
  write_table(out, rows);

  const double loads = role_loads_of(figures);
  out << "\nrole-path loads\n";
  rows = {{"source", "loads", "share", "p50", "p95"}};
  for (const auto& source : figures.role_loads) {
    rows.push_back({printable(source.source), count(source.loads),
                    percent(share(source.loads, loads)),
                    duration(bucket_quantile(source.seconds, 0.5)),
                    duration(bucket_quantile(source.seconds, 0.95))});
  }
  write_table(out, rows);

  out << "\nmemcached\n";
  if (figures.memcached.empty()) out << "  no server configured\n";
  rows = {{"server", "hit", "miss", "hit ratio", "error", "skipped"}};
  for (const auto& server : figures.memcached) {
    rows.push_back({printable(server.server), count(server.hit), count(server.miss),
                    percent(share(server.hit, server.hit + server.miss)), count(server.error),
                    count(server.skipped)});
  }
  if (!figures.memcached.empty()) write_table(out, rows);

  out << "\ndecisions: " << count(figures.granted) << " granted, " << count(figures.refused)
      << " refused (" << percent(share(figures.refused, figures.granted + figures.refused))
      << ")\nrecursive walks: " << count(figures.recursive_walks) << ", "
      << count(figures.recursive_walk_nodes)
      << " node(s) judged\nconnection contexts: " << count(figures.connection_contexts) << " live, "
      << bytes(figures.connection_context_bytes) << "\n\n";
  if (problems.empty()) out << "healthy\n";
  for (const auto& problem : problems) out << "UNHEALTHY: " << problem << "\n";
}

nlohmann::json status_to_json(const std::string& url, const status_figures& figures,
                              const health_limits& limits,
                              const std::vector<std::string>& problems) {
  nlohmann::json operations = nlohmann::json::array();
  for (const auto& op : figures.operations) {
    operations.push_back({{"operation", op.name},
                          {"answered", whole(op.answered)},
                          {"failed", whole(op.failed)},
                          {"failure_ratio", share(op.failed, op.answered + op.failed)},
                          {"p50_seconds", optional_number(bucket_quantile(op.seconds, 0.5))},
                          {"p95_seconds", optional_number(bucket_quantile(op.seconds, 0.95))}});
  }
  nlohmann::json credentials = nlohmann::json::array();
  for (const auto& source : figures.credentials) {
    credentials.push_back(
        {{"source", source.source},
         {"accepted", whole(source.accepted)},
         {"refused", whole(source.refused)},
         {"share", share(source.accepted + source.refused, credential_checks(figures))}});
  }
  nlohmann::json role_loads = nlohmann::json::array();
  for (const auto& source : figures.role_loads) {
    role_loads.push_back({{"source", source.source},
                          {"loads", whole(source.loads)},
                          {"share", share(source.loads, role_loads_of(figures))},
                          {"p50_seconds", optional_number(bucket_quantile(source.seconds, 0.5))},
                          {"p95_seconds", optional_number(bucket_quantile(source.seconds, 0.95))}});
  }
  nlohmann::json memcached = nlohmann::json::array();
  for (const auto& server : figures.memcached) {
    memcached.push_back({{"server", server.server},
                         {"hit", whole(server.hit)},
                         {"miss", whole(server.miss)},
                         {"hit_ratio", share(server.hit, server.hit + server.miss)},
                         {"error", whole(server.error)},
                         {"skipped", whole(server.skipped)}});
  }
  return {
      {"url", url},
      {"processes", whole(figures.processes)},
      {"start_time", whole(figures.start_time)},
      {"service",
       {{"calls", whole(figures.service_calls())},
        {"failed", whole(figures.service_failures())},
        {"failure_ratio", figures.failure_ratio()},
        {"operations", operations}}},
      {"credentials", credentials},
      {"role_loads", role_loads},
      {"memcached", memcached},
      {"skipping_servers", figures.skipping_servers()},
      {"decisions", {{"granted", whole(figures.granted)}, {"refused", whole(figures.refused)}}},
      {"recursive_walks",
       {{"walks", whole(figures.recursive_walks)}, {"nodes", whole(figures.recursive_walk_nodes)}}},
      {"connection_contexts",
       {{"live", whole(figures.connection_contexts)},
        {"bytes", whole(figures.connection_context_bytes)}}},
      {"limits",
       {{"max_failure_ratio", limits.max_failure_ratio}, {"max_skipped", limits.max_skipped}}},
      {"healthy", problems.empty()},
      {"problems", problems}};
}

}  // namespace zebauthz
