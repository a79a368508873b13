// zebauthz: answers why a user may or may not do something in a repository.
#include <apr_general.h>
#include <svn_pools.h>

#include <cstring>
#include <iostream>
#include <map>

#include "commands.h"
#include "exit_status.h"

namespace {

constexpr char kUsage[] = R"(usage:
  zebauthz explain [--json] ROLES ACTION PATH...
  zebauthz lint [--json] ROLES
ROLES is --role ID=PBP[,PBP...] (repeatable) or --roles FILE, a JSON list of
{"id": ID, "pbps": [PBP, ...]} ("-" reads standard input).
ACTION is none, view or commit; PATH a repository path such as /trunk.

exit status:
  0  every path granted; lint found nothing
  1  some path refused; lint found something
  2  bad command line
  3  unreadable or malformed input file
  4  the ScmListener service failed
  5  memcached unreachable, or nothing cached
  6  the repository cannot be read
)";

using command_t = int (*)(const std::vector<std::string>&, apr_pool_t*);

}  // namespace

int main(int argc, const char* const* argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? zebauthz::kExitUsage : zebauthz::kExitOk;
  }
  const std::map<std::string, command_t> commands = {{"explain", zebauthz::run_explain},
                                                     {"lint", zebauthz::run_lint}};
  const auto command = commands.find(argv[1]);
  if (command == commands.end()) {
    std::cerr << "zebauthz: unknown command '" << argv[1] << "'\n" << kUsage;
    return zebauthz::kExitUsage;
  }
  apr_app_initialize(&argc, &argv, nullptr);
  apr_pool_t* pool = svn_pool_create(nullptr);
  int status = zebauthz::kExitOk;
  try {
    status = command->second(std::vector<std::string>(argv + 2, argv + argc), pool);
  } catch (const zebauthz::failure& e) {
    std::cerr << "zebauthz " << argv[1] << ": " << e.what() << "\n";
    if (e.status() == zebauthz::kExitUsage) std::cerr << "(see zebauthz --help)\n";
    status = e.status();
  }
  svn_pool_destroy(pool);
  apr_terminate();
  return status;
}
