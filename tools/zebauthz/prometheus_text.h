// Reads the Prometheus text exposition format (version 0.0.4), which the
// module's status page writes with ?format=prometheus.
#ifndef ZEBAUTHZ_PROMETHEUS_TEXT_H
#define ZEBAUTHZ_PROMETHEUS_TEXT_H

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zebauthz {

struct metric_sample {
  std::string name;                           // as written: x_total, x_bucket, x_sum, ...
  std::map<std::string, std::string> labels;  // values unescaped
  double value = 0;
};

struct exposition {
  std::vector<metric_sample> samples;        // in the page's order
  std::map<std::string, std::string> types;  // family -> counter, gauge, histogram, ...
  std::map<std::string, std::string> help;   // family -> text, unescaped
};

// What the format does not allow; the message names the line.
class exposition_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

exposition parse_exposition(std::string_view text);

}  // namespace zebauthz

#endif
