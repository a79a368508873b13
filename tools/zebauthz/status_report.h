// zebauthz status's output: the figures for a terminal, or as JSON.
#ifndef ZEBAUTHZ_STATUS_REPORT_H
#define ZEBAUTHZ_STATUS_REPORT_H

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "status_figures.h"

namespace zebauthz {

// text with its control characters as '?': what the page says reaches a
// terminal without steering it.
std::string printable(std::string text);

void write_status(std::ostream& out, const std::string& url, const status_figures& figures,
                  const std::vector<std::string>& problems);

nlohmann::json status_to_json(const std::string& url, const status_figures& figures,
                              const health_limits& limits,
                              const std::vector<std::string>& problems);

}  // namespace zebauthz

#endif
