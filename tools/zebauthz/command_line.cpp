#include "command_line.h"

#include "exit_status.h"

namespace zebauthz {

command_line::command_line(const std::vector<std::string>& args, const option_spec& options) {
  bool only_operands = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_operands || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_operands = true;
      continue;
    }
    if (options.rest && arg == *options.rest) {
      rest_.emplace(args.begin() + static_cast<long>(i) + 1, args.end());
      return;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (options.flags.count(name) != 0 && equals == std::string::npos) {
      flags_.insert(name);
      continue;
    }
    if (options.with_value.count(name) == 0) throw failure(kExitUsage, "unknown option " + name);
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw failure(kExitUsage, name + " needs a value");
    }
    auto& slot = values_[name];
    if (!slot.empty() && options.repeatable.count(name) == 0) {
      throw failure(kExitUsage, name + " given more than once");
    }
    slot.push_back(value);
  }
}

std::optional<std::string> command_line::value(const std::string& name) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second.front();
}

std::string command_line::required(const std::string& name) const {
  const auto found = value(name);
  if (!found) throw failure(kExitUsage, name + " is required");
  return *found;
}

std::vector<std::string> command_line::values(const std::string& name) const {
  const auto found = values_.find(name);
  return found == values_.end() ? std::vector<std::string>{} : found->second;
}

}  // namespace zebauthz
