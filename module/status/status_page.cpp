#include "status_page.h"

#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "status_segment.h"

namespace zeb::status {
namespace {

enum class kind { counter, gauge, histogram };

using label_list = std::vector<std::pair<const char*, std::string>>;

struct sample {
  label_list labels;
  std::int64_t value = 0;
  // Histograms: cumulative counts per bound (the last is +Inf) and the sum.
  const bound* bounds = nullptr;
  std::vector<std::uint64_t> cumulative;
  std::uint64_t sum_micros = 0;
};

struct family {
  const char* name;  // without the prefix and the "_total" of counters
  const char* help;
  kind type;
  std::vector<sample> samples;
};

constexpr char kPrefix[] = "authnz_zeb_";

sample plain_sample(label_list labels, std::int64_t value) {
  sample s;
  s.labels = std::move(labels);
  s.value = value;
  return s;
}

template <std::size_t N>
sample histogram_sample(label_list labels, const histogram<N>& h, const bound (&bounds)[N]) {
  sample s;
  s.labels = std::move(labels);
  s.bounds = bounds;
  std::uint64_t running = 0;
  for (std::uint64_t count : h.buckets) s.cumulative.push_back(running += count);
  s.sum_micros = h.sum_micros;
  return s;
}

std::vector<family> families_of(const figures& f) {
  const slot& t = f.totals;
  std::vector<family> all;
  family calls{"service_calls", "ScmListener calls by operation and outcome", kind::counter, {}};
  family call_time{"service_call_seconds", "Time ScmListener calls took", kind::histogram, {}};
  for (int op = 0; op < kOperations; ++op) {
    for (int o = 0; o < kOutcomes; ++o) {
      calls.samples.push_back(
          plain_sample({{"operation", kOperationNames[op]}, {"outcome", kOutcomeNames[o]}},
                       static_cast<std::int64_t>(t.service_calls[op][o])));
    }
    call_time.samples.push_back(
        histogram_sample({{"operation", kOperationNames[op]}}, t.service_time[op], kCallBounds));
  }
  family credentials{
      "credentials", "Credential checks by where they were answered and result", kind::counter, {}};
  for (int s = 0; s < kSources; ++s) {
    for (int r = 0; r < kCredentialResults; ++r) {
      credentials.samples.push_back(
          plain_sample({{"source", kSourceNames[s]}, {"result", kCredentialResultNames[r]}},
                       static_cast<std::int64_t>(t.credentials[s][r])));
    }
  }
  family loads{"role_loads", "Role paths obtained for a request, by source", kind::counter, {}};
  family load_time{
      "role_load_seconds", "Time to obtain and process role paths", kind::histogram, {}};
  for (int s = 0; s < kSources; ++s) {
    loads.samples.push_back(
        plain_sample({{"source", kSourceNames[s]}}, static_cast<std::int64_t>(t.role_loads[s])));
    load_time.samples.push_back(
        histogram_sample({{"source", kSourceNames[s]}}, t.role_time[s], kLoadBounds));
  }
  family cache{
      "memcached_operations", "memcached operations by server and result", kind::counter, {}};
  for (std::size_t i = 0; i < f.servers.size(); ++i) {
    for (int r = 0; r < kCacheResults; ++r) {
      cache.samples.push_back(
          plain_sample({{"server", f.servers[i]}, {"result", kCacheResultNames[r]}},
                       static_cast<std::int64_t>(t.memcached[i][r])));
    }
  }
  family decisions{"decisions", "Authorization answers by result", kind::counter, {}};
  for (int r = 0; r < kDecisionResults; ++r) {
    decisions.samples.push_back(plain_sample({{"result", kDecisionResultNames[r]}},
                                             static_cast<std::int64_t>(t.decisions[r])));
  }
  all = {std::move(calls),     std::move(call_time), std::move(credentials), std::move(loads),
         std::move(load_time), std::move(cache),     std::move(decisions)};
  auto single = [&all](const char* name, const char* help, kind type, std::int64_t value) {
    all.push_back({name, help, type, {plain_sample({}, value)}});
  };
  single("recursive_walks", "Repository trees walked for a recursive check", kind::counter,
         static_cast<std::int64_t>(t.recursive_walks));
  single("recursive_walk_nodes", "Nodes judged by recursive walks", kind::counter,
         static_cast<std::int64_t>(t.recursive_walk_nodes));
  single("connection_contexts", "Connection contexts alive now", kind::gauge, t.contexts);
  single("connection_context_bytes", "Memory of the connection contexts alive now", kind::gauge,
         t.context_bytes);
  single("processes", "Child processes whose figures are summed", kind::gauge,
         static_cast<std::int64_t>(t.owner));
  single("start_time_seconds", "Unix time the figures started from zero", kind::gauge,
         static_cast<std::int64_t>(f.start_time));
  return all;
}

std::string seconds_text(std::uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, micros / 1000000, micros % 1000000);
  return text;
}

// ---- Prometheus text

std::string escape_label(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string label_text(const sample& s, const char* extra_name = nullptr,
                       const char* extra_value = nullptr) {
  if (s.labels.empty() && extra_name == nullptr) return "";
  std::string out = "{";
  for (const auto& [name, value] : s.labels) {
    if (out.size() > 1) out += ',';
    out += std::string(name) + "=\"" + escape_label(value) + '"';
  }
  if (extra_name != nullptr) {
    if (out.size() > 1) out += ',';
    out += std::string(extra_name) + "=\"" + extra_value + '"';
  }
  return out + '}';
}

std::string prometheus(const std::vector<family>& all) {
  std::string out;
  for (const family& fam : all) {
    std::string name = std::string(kPrefix) + fam.name;
    if (fam.type == kind::counter) name += "_total";
    const char* type = fam.type == kind::counter ? "counter"
                       : fam.type == kind::gauge ? "gauge"
                                                 : "histogram";
    out += "# HELP " + name + ' ' + fam.help + "\n# TYPE " + name + ' ' + type + '\n';
    for (const sample& s : fam.samples) {
      if (fam.type != kind::histogram) {
        out += name + label_text(s) + ' ' + std::to_string(s.value) + '\n';
        continue;
      }
      const std::size_t bounds = s.cumulative.size() - 1;
      for (std::size_t i = 0; i <= bounds; ++i) {
        out += name + "_bucket" + label_text(s, "le", i < bounds ? s.bounds[i].text : "+Inf") +
               ' ' + std::to_string(s.cumulative[i]) + '\n';
      }
      out += name + "_sum" + label_text(s) + ' ' + seconds_text(s.sum_micros) + '\n';
      out += name + "_count" + label_text(s) + ' ' + std::to_string(s.cumulative[bounds]) + '\n';
    }
  }
  return out;
}

// ---- Key: value lines

void append_camel(std::string& key, std::string_view words) {
  bool upper = true;
  for (char c : words) {
    if (c == '_') {
      upper = true;
      continue;
    }
    // A key is one word on one line.
    if (std::isspace(static_cast<unsigned char>(c)) ||
        std::iscntrl(static_cast<unsigned char>(c))) {
      c = '_';
    }
    key += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
}

std::string key_of(const char* prefix, const family& fam, const sample& s) {
  std::string key = prefix;
  append_camel(key, fam.name);
  for (const auto& [name, value] : s.labels) {
    if (std::strcmp(name, "server") == 0) {
      // A server's name is kept as it is written ("127.0.0.1:11211").
      for (char c : value)
        key += std::isspace(static_cast<unsigned char>(c)) ||
                       std::iscntrl(static_cast<unsigned char>(c))
                   ? '_'
                   : c;
    } else {
      append_camel(key, value);
    }
  }
  return key;
}

std::string key_values(const std::vector<family>& all, const char* prefix) {
  std::string out;
  for (const family& fam : all) {
    for (const sample& s : fam.samples) {
      const std::string key = key_of(prefix, fam, s);
      if (fam.type == kind::histogram) {
        out += key + "Count: " + std::to_string(s.cumulative.back()) + '\n';
        out += key + "Sum: " + seconds_text(s.sum_micros) + '\n';
      } else {
        out += key + ": " + std::to_string(s.value) + '\n';
      }
    }
  }
  return out;
}

// ---- HTML

std::string escape_html(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string html_table(const family& fam) {
  std::string out = "<h2>" + escape_html(fam.help) + "</h2>\n<table border=\"1\">\n<tr>";
  for (const auto& label : fam.samples.front().labels)
    out += "<th>" + std::string(label.first) + "</th>";
  out += fam.type == kind::histogram ? "<th>count</th><th>seconds</th></tr>\n"
                                     : "<th>value</th></tr>\n";
  for (const sample& s : fam.samples) {
    out += "<tr>";
    for (const auto& label : s.labels) out += "<td>" + escape_html(label.second) + "</td>";
    if (fam.type == kind::histogram) {
      out += "<td>" + std::to_string(s.cumulative.back()) + "</td><td>" +
             seconds_text(s.sum_micros) + "</td>";
    } else {
      out += "<td>" + std::to_string(s.value) + "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string html(const std::vector<family>& all) {
  std::string out =
      "<!DOCTYPE html>\n<html><head><title>mod_authnz_zeb status</title></head><body>\n"
      "<h1>mod_authnz_zeb status</h1>\n";
  for (const family& fam : all) {
    if (!fam.samples.empty()) out += html_table(fam);
  }
  return out + "</body></html>\n";
}

}  // namespace

std::optional<page_format> format_of_query(const char* args) {
  if (args == nullptr || *args == '\0') return page_format::html;
  const std::string_view query(args);
  if (query == "format=prometheus") return page_format::prometheus;
  if (query == "auto") return page_format::key_value;
  return std::nullopt;
}

figures read_figures(const segment* seg) {
  figures f{sum_slots(seg), {}, seg->start_time};
  const std::uint32_t servers =
      std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(seg->server_count)).load();
  for (std::uint32_t i = 0; i < servers; ++i) f.servers.emplace_back(seg->servers[i]);
  return f;
}

std::string render_page(const figures& f, page_format format) {
  const std::vector<family> all = families_of(f);
  switch (format) {
    case page_format::prometheus:
      return prometheus(all);
    case page_format::key_value:
      return key_values(all, "");
    case page_format::html:
      break;
  }
  return html(all);
}

std::string render_summary(const figures& f, bool short_form) {
  const slot& t = f.totals;
  std::uint64_t answered = 0, failed = 0, hits = 0, misses = 0, cache_failures = 0;
  for (const auto& op : t.service_calls) answered += op[0], failed += op[1];
  for (std::size_t i = 0; i < f.servers.size(); ++i) {
    hits += t.memcached[i][0];
    misses += t.memcached[i][1];
    cache_failures += t.memcached[i][2] + t.memcached[i][3];
  }
  const std::pair<const char*, std::uint64_t> rows[] = {
      {"ServiceCallsAnswered", answered},
      {"ServiceCallsFailed", failed},
      {"MemcachedHits", hits},
      {"MemcachedMisses", misses},
      {"MemcachedErrorsAndSkips", cache_failures},
      {"DecisionsGranted", t.decisions[0]},
      {"DecisionsRefused", t.decisions[1]},
      {"ConnectionContexts", static_cast<std::uint64_t>(t.contexts)}};
  std::string out = short_form ? "" : "<hr />\n<h2>mod_authnz_zeb</h2>\n<table>\n";
  for (const auto& [key, value] : rows) {
    out += short_form ? "AuthnzZEB" + std::string(key) + ": " + std::to_string(value) + '\n'
                      : "<tr><th align=\"left\">" + std::string(key) + "</th><td>" +
                            std::to_string(value) + "</td></tr>\n";
  }
  return short_form ? out : out + "</table>\n";
}

}  // namespace zeb::status
