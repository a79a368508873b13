// zebauthz status: the module's status page for a terminal, and a health
// check that a monitoring system can run.
#include <charconv>
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "status_figures.h"
#include "status_page.h"
#include "status_report.h"
#include "user_session.h"

namespace zebauthz {
namespace {

const option_spec kStatusOptions{
    {"--json"},
    {"--user", "--password-file", "--ca-file", "--max-failure-ratio", "--max-skipped"},
    {},
    std::nullopt};

template <typename T>
T number_option(const command_line& line, const std::string& name, T fallback, T highest,
                const char* range) {
  const auto text = line.value(name);
  if (!text) return fallback;
  T value{};
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (text->empty() || error != std::errc() || end != text->data() + text->size() ||
      !(value >= 0) || value > highest) {
    throw failure(kExitUsage, name + " takes " + range + ", not " + *text);
  }
  return value;
}

}  // namespace

int run_status(const std::vector<std::string>& args, apr_pool_t*) {
  const command_line line(args, kStatusOptions);
  if (line.operands().size() != 1) throw failure(kExitUsage, "status takes one URL");
  health_limits limits;
  limits.max_failure_ratio = number_option(line, "--max-failure-ratio", limits.max_failure_ratio,
                                           1.0, "a ratio from 0 to 1");
  limits.max_skipped =
      number_option(line, "--max-skipped", limits.max_skipped, 1 << 20, "a count from 0");

  page_request request{line.operands().front(), line.value("--user"), std::nullopt,
                       line.value("--ca-file")};
  if (request.user.has_value() != line.value("--password-file").has_value()) {
    throw failure(kExitUsage, "--user and --password-file go together");
  }
  if (request.user && request.user->find(':') != std::string::npos) {
    throw failure(kExitUsage, "a user name for Basic credentials holds no ':'");
  }
  if (request.user) request.password = read_password_file(line.required("--password-file"));
  const std::string body = fetch_status_page(request);

  status_figures figures;
  try {
    figures = figures_of(parse_exposition(body));
  } catch (const exposition_error& e) {
    throw failure(kExitService, prometheus_url(request.url) + ": " + printable(e.what()));
  }
  const std::vector<std::string> problems = health_problems(figures, limits);
  if (line.flag("--json")) {
    std::cout << status_to_json(request.url, figures, limits, problems).dump(2) << "\n";
  } else {
    write_status(std::cout, request.url, figures, problems);
  }
  return problems.empty() ? kExitOk : kExitFound;
}

}  // namespace zebauthz
