// The status page: the summed figures as HTML for a person, as Prometheus
// text for a scraper, or as "Key: value" lines for scripts.
#ifndef STATUS_PAGE_H
#define STATUS_PAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "status_layout.h"

namespace zeb::status {

enum class page_format { html, prometheus, key_value };

// The format a query string asks for: none or empty for HTML,
// "format=prometheus", "auto"; nothing for any other argument.
std::optional<page_format> format_of_query(const char* args);

struct figures {
  slot totals;  // owner: the number of processes summed
  std::vector<std::string> servers;
  std::uint64_t start_time;
};

// The figures of a segment, summed over its slots.
figures read_figures(const segment* seg);

std::string render_page(const figures& f, page_format format);

inline constexpr char kPrometheusContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// A few lines for httpd's own status page: a table, or (short) "Key: value"
// lines whose keys start with the module's name.
std::string render_summary(const figures& f, bool short_form);

}  // namespace zeb::status

#endif
