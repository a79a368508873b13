#include "prometheus_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>

namespace zebauthz {
namespace {

bool name_start(char c, bool colon) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || (colon && c == ':');
}

bool name_char(char c, bool colon) {
  return name_start(c, colon) || std::isdigit(static_cast<unsigned char>(c));
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// One line, read from left to right.
class line_reader {
 public:
  line_reader(std::string_view line, size_t number) : line_(line), number_(number) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw exposition_error("line " + std::to_string(number_) + ": " + what);
  }

  bool at_end() const { return pos_ >= line_.size(); }
  char peek() const { return at_end() ? '\0' : line_[pos_]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  void skip_blanks() {
    while (peek() == ' ' || peek() == '\t') ++pos_;
  }

  // A metric name (colons allowed) or a label name.
  std::string name(bool metric) {
    const size_t start = pos_;
    if (!name_start(peek(), metric))
      fail(metric ? "a metric name expected" : "a label name expected");
    while (!at_end() && name_char(peek(), metric)) ++pos_;
    return std::string(line_.substr(start, pos_ - start));
  }

  // Up to the next blank or the end.
  std::string_view token() {
    const size_t start = pos_;
    while (!at_end() && peek() != ' ' && peek() != '\t') ++pos_;
    return line_.substr(start, pos_ - start);
  }

  std::string_view rest() {
    const std::string_view text = line_.substr(pos_);
    pos_ = line_.size();
    return text;
  }

  // Backslash escapes: \\ and \n everywhere, \" where quotes end the text.
  std::string unescape(std::string_view text, bool quoted) const {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\\') {
        out += text[i];
        continue;
      }
      const char next = i + 1 < text.size() ? text[++i] : '\0';
      if (next == '\\')
        out += '\\';
      else if (next == 'n')
        out += '\n';
      else if (next == '"' && quoted)
        out += '"';
      else
        fail("invalid escape sequence in \"" + std::string(text) + "\"");
    }
    return out;
  }

  std::string quoted_value() {
    if (!take('"')) fail("a quoted label value expected");
    const size_t start = pos_;
    while (!at_end() && peek() != '"') pos_ += peek() == '\\' ? 2 : 1;
    if (pos_ > line_.size() || !take('"')) fail("label value not closed");
    return unescape(line_.substr(start, pos_ - 1 - start), true);
  }

  std::map<std::string, std::string> labels() {
    std::map<std::string, std::string> labels;
    if (!take('{')) return labels;
    skip_blanks();
    while (!take('}')) {
      std::string label = name(false);
      skip_blanks();
      if (!take('=')) fail("'=' expected after label " + label);
      skip_blanks();
      if (!labels.emplace(label, quoted_value()).second) fail("label " + label + " repeated");
      skip_blanks();
      if (take(','))
        skip_blanks();
      else if (peek() != '}')
        fail("',' or '}' expected in the labels");
    }
    return labels;
  }

  double value() {
    const std::string_view text = token();
    if (iequals(text, "nan")) return std::numeric_limits<double>::quiet_NaN();
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
      digits.remove_prefix(1);
    if (iequals(digits, "inf")) {
      return negative ? -std::numeric_limits<double>::infinity()
                      : std::numeric_limits<double>::infinity();
    }
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        !std::isfinite(value)) {
      fail("not a sample value: \"" + std::string(text) + "\"");
    }
    return negative ? -value : value;
  }

 private:
  std::string_view line_;
  size_t number_;
  size_t pos_ = 0;
};

const std::set<std::string_view> kTypes = {"counter", "gauge", "histogram", "summary", "untyped"};

void read_comment(line_reader& line, exposition& page) {
  line.skip_blanks();
  const std::string_view keyword = line.token();
  if (keyword != "HELP" && keyword != "TYPE") return;  // any other comment
  line.skip_blanks();
  const std::string family = line.name(true);
  if (!line.at_end() && !line.take(' ') && !line.take('\t'))
    line.fail("a blank expected after " + family);
  line.skip_blanks();
  if (keyword == "HELP") {
    const std::string text = line.unescape(line.rest(), false);
    if (!page.help.emplace(family, text).second) line.fail("second HELP for " + family);
    return;
  }
  const std::string type(line.token());
  line.skip_blanks();
  if (kTypes.count(type) == 0 || !line.at_end()) line.fail("unknown type of " + family);
  if (!page.types.emplace(family, type).second) line.fail("second TYPE for " + family);
}

metric_sample read_sample(line_reader& line) {
  metric_sample sample;
  sample.name = line.name(true);
  line.skip_blanks();
  sample.labels = line.labels();
  line.skip_blanks();
  sample.value = line.value();
  line.skip_blanks();
  if (!line.at_end()) {
    // A timestamp in milliseconds; the figures do not need it.
    const std::string_view stamp = line.token();
    long long millis = 0;
    const char* begin = stamp.data() + (stamp.front() == '-' ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, stamp.data() + stamp.size(), millis);
    line.skip_blanks();
    if (error != std::errc() || end != stamp.data() + stamp.size() || !line.at_end()) {
      line.fail("unexpected text after the value of " + sample.name);
    }
  }
  return sample;
}

}  // namespace

exposition parse_exposition(std::string_view text) {
  exposition page;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    line_reader line(text.substr(0, end), ++number);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line.skip_blanks();
    if (line.at_end()) continue;
    if (line.take('#')) {
      read_comment(line, page);
    } else {
      page.samples.push_back(read_sample(line));
    }
  }
  return page;
}

}  // namespace zebauthz
