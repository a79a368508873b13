// The options and operands of one subcommand.
#ifndef ZEBAUTHZ_COMMAND_LINE_H
#define ZEBAUTHZ_COMMAND_LINE_H

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zebauthz {

struct option_spec {
  std::set<std::string> flags;       // "--json"
  std::set<std::string> with_value;  // "--user" (as "--user U" or "--user=U")
  std::set<std::string> repeatable;  // those of with_value that may repeat
  std::optional<std::string> rest;   // option after which every argument is an operand
};

class command_line {
 public:
  // Throws failure(kExitUsage) for unknown, repeated or incomplete options.
  command_line(const std::vector<std::string>& args, const option_spec& options);

  bool flag(const std::string& name) const { return flags_.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const;
  // Throws failure(kExitUsage) when the option is absent.
  std::string required(const std::string& name) const;
  std::vector<std::string> values(const std::string& name) const;
  const std::vector<std::string>& operands() const { return operands_; }
  // The arguments after options.rest, when it was given.
  const std::optional<std::vector<std::string>>& rest() const { return rest_; }

 private:
  std::set<std::string> flags_;
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> operands_;
  std::optional<std::vector<std::string>> rest_;
};

}  // namespace zebauthz

#endif
