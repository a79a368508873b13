// zebauthz: answers why a user may or may not do something in a repository.
#include <apr_general.h>
#include <svn_pools.h>

#include <cstring>
#include <iostream>
#include <map>

#include "commands.h"
#include "exit_status.h"
#include "version_info.h"

namespace {

constexpr char kUsage[] = R"(usage:
  zebauthz explain [--json] [TREE] ROLES ACTION PATH...
  zebauthz lint [--json] ROLES
  zebauthz fetch [--json] SERVICE [--password-file F] [TREE] [--explain ACTION PATH...]
  zebauthz fetch [--json] --via-cache --memcache SERVERS SERVICE [TREE] [--explain ...]
  zebauthz flush [--json] --memcache SERVERS SERVICE [--password-file F]
  zebauthz status [--json] URL [--user U --password-file F] [--ca-file F]
      [--max-failure-ratio R] [--max-skipped N]
  zebauthz key ENTRY --endpoint URL [--system-id ID --repository REPO --user USER]
               [--secret SECRET --password-file F]
  zebauthz key --user-key TEXT
  zebauthz --version
ROLES is --role ID=PBP[,PBP...] (repeatable) or --roles FILE, a JSON list of
{"id": ID, "pbps": [PBP, ...]} ("-" reads standard input).
ACTION is none, view or commit; PATH a repository path such as /trunk.
TREE is --recursive --repos REPOS_DIR [--revision N] [--all-refused]: check
every node below each PATH in the repository on disk, as the module does for
a DELETE, COPY or MOVE, and name the first node refused; with --all-refused,
name every node refused (for view: what the user does not see).
SERVICE is --properties FILE --user USER --repository REPO [--location PATH]:
the module's properties file, and the path of the Location the module
guards (it decides whether the external system id comes from the service).
SERVERS is the module's memcached server list, HOST:PORT[,HOST:PORT...].
flush drops the user's cached role paths (and, with --password-file, the
cached acceptance of that password) from every server; connections that
already hold the user's roles keep them until they close.
status reads the module's status page at URL (its Location, which answers
with ?format=prometheus) and prints its figures; it finds something when the
service calls failed more often than R (default 0.01) of the time, or more
than N (default 0) memcached servers skipped operations, since the counters
started. HTTPS certificates are checked against the system's CAs, or those
of --ca-file; redirects are not followed; the page must answer in 10 s.
key prints the memcached key of one of the module's entries: ENTRY is
system-id (needs --endpoint), role-paths (and --system-id, --repository,
--user) or valid-user (and --secret, the service's shared secret, and
--password-file); --user-key gives the key of any user key.

exit status:
  0  every path granted; lint found nothing; fetch, flush or key done;
     status healthy
  1  some path refused; lint found something; status found the module unhealthy
  2  bad command line
  3  unreadable or malformed roles, properties or password file
  4  the ScmListener service failed or refused the password; the status page
     could not be read or is not the module's
  5  memcached unreachable, nothing cached, or a server not flushed
  6  the repository cannot be read
)";

using command_t = int (*)(const std::vector<std::string>&, apr_pool_t*);

}  // namespace

int main(int argc, const char* const* argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? zebauthz::kExitUsage : zebauthz::kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << zeb::version_line("zebauthz") << "\n";
    return zebauthz::kExitOk;
  }
  const std::map<std::string, command_t> commands = {
      {"explain", zebauthz::run_explain}, {"lint", zebauthz::run_lint},
      {"fetch", zebauthz::run_fetch},     {"flush", zebauthz::run_flush},
      {"status", zebauthz::run_status},   {"key", zebauthz::run_key}};
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
