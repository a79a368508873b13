#include "refusal_report.h"

#include <http_log.h>

#include "method_table.h"
#include "mod_authnz_zeb.h"
#include "request_env.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr char kActionNote[] = "authnz_zeb-refused-action";
constexpr char kReposNote[] = "authnz_zeb-refused-repository";
constexpr char kPathNote[] = "authnz_zeb-refused-path";

}  // namespace

void note_refused_check(request_rec* r, pbp_access_t action, const char* repos_name,
                        const char* path) {
  if (apr_table_get(r->notes, kActionNote) != nullptr) return;
  apr_table_set(r->notes, kActionNote, zeb_action_name(action));
  apr_table_set(r->notes, kReposNote, repos_name != nullptr ? repos_name : "");
  // A check that names no path, or the empty path of a commit's own
  // resources, concerns the repository as a whole.
  apr_table_set(r->notes, kPathNote, path != nullptr && *path != '\0' ? path : "/");
}

void report_refusal(request_rec* r) {
  const char* action = apr_table_get(r->notes, kActionNote);
  if (action == nullptr) return;  // refused before any check: logged where it was
  const char* repos_name = apr_table_get(r->notes, kReposNote);
  const char* path = apr_table_get(r->notes, kPathNote);
  const bool question = r->main != nullptr && r->method_number == M_GET;
  ap_log_rerror(APLOG_MARK, question ? APLOG_DEBUG : APLOG_WARNING, 0, r,
                "Refused user '%s': %s (%s) in repository '%s', path '%s'",
                r->user != nullptr ? r->user : "guest", action, r->method, repos_name, path);
  if (!question) set_refusal_env(r, action, repos_name, path);
}
