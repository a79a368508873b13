// The status page's Prometheus text as zebauthz status reads it, and the
// figures and estimates it makes of it.
//
// Input: a page. What parses must parse again to the same samples, HELP and
// TYPE once written back out with its escapes; a quantile estimated from one
// of the page's histograms lies between 0 and its highest finite bound.
#include <cmath>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "prometheus_text.h"
#include "status_figures.h"

namespace {

using zeb::fuzz::finding;
using zebauthz::exposition;

std::string escaped(const std::string& text, bool quoted) {
  std::string out;
  for (const char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '"' && quoted)
      out += "\\\"";
    else
      out += c;
  }
  return out;
}

std::string number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string written(const exposition& page) {
  std::string text;
  for (const auto& [family, help] : page.help)
    text += "# HELP " + family + " " + escaped(help, false) + "\n";
  for (const auto& [family, type] : page.types) text += "# TYPE " + family + " " + type + "\n";
  for (const auto& sample : page.samples) {
    text += sample.name + "{";
    for (const auto& [label, value] : sample.labels)
      text += label + "=\"" + escaped(value, true) + "\",";
    text += "} " + number(sample.value) + "\n";
  }
  return text;
}

bool same(const exposition& a, const exposition& b) {
  if (a.help != b.help || a.types != b.types || a.samples.size() != b.samples.size()) return false;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    const auto& x = a.samples[i];
    const auto& y = b.samples[i];
    const bool values = x.value == y.value || (std::isnan(x.value) && std::isnan(y.value));
    if (x.name != y.name || x.labels != y.labels || !values) return false;
  }
  return true;
}

void check_estimates(const zebauthz::histogram& h) {
  double highest = 0;
  for (const auto& [bound, count] : h.buckets) {
    if (std::isfinite(bound)) highest = std::max(highest, bound);
  }
  for (const double q : {0.0, 0.5, 0.95, 1.0}) {
    const auto estimate = zebauthz::bucket_quantile(h, q);
    if (estimate && !(*estimate >= 0 && *estimate <= highest)) {
      finding("quantile " + number(q) + " estimated at " + number(*estimate) + ", beyond [0, " +
              number(highest) + "]");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exposition page;
  try {
    page = zebauthz::parse_exposition(zeb::fuzz::as_text(data, size));
  } catch (const zebauthz::exposition_error&) {
    return 0;
  }
  const std::string text = written(page);
  try {
    if (!same(page, zebauthz::parse_exposition(text)))
      finding("written back, reads otherwise:\n" + text);
  } catch (const zebauthz::exposition_error& e) {
    finding(std::string("written back, does not parse: ") + e.what() + "\n" + text);
  }
  try {
    const auto figures = zebauthz::figures_of(page);
    for (const auto& op : figures.operations) check_estimates(op.seconds);
    for (const auto& source : figures.role_loads) check_estimates(source.seconds);
  } catch (const zebauthz::exposition_error&) {
    // Not the module's page: zebauthz status fails with exit status 4.
  }
  return 0;
}
