// The authorization hooks: the auth_checker hook and the subrequest-bypass
// provider that mod_dav_svn calls, both answered by the decision core.
#include <httpd.h>
// After httpd.h, which they build on.
#include <http_log.h>
#include <http_request.h>

#include "hooks.h"
#include "mod_authnz_zeb.h"
#include "refusal_report.h"
#include "report_screening.h"
#include "request_answer.h"
#include "request_decider.h"
#include "request_paths.h"
#include "status_counting.h"
#include "subreq_bypass.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

const authnz_zeb_config_rec* config_of(request_rec* r) {
  return static_cast<const authnz_zeb_config_rec*>(
      ap_get_module_config(r->per_dir_config, &authnz_zeb_module));
}

// Every failure has had its line where it happened: a refusal's at
// WARNING, an error's at ERR.
int log_failure(request_rec* r, int rc) {
  if (rc != OK) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Authorization FAILED with errorcode %d", rc);
  }
  return rc;
}

}  // namespace

int check_access(request_rec* r) {
  const authnz_zeb_config_rec* conf = config_of(r);
  if (conf->brimstack_properties_file == nullptr) {
    // Quiet at the usual levels: another module may guard this Location.
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Unable to handle request due to missing ZEB properties file");
    return DECLINED;
  }
  const char* repos_name = nullptr;
  const char* repos_path = nullptr;
  if (int rc = get_reposinfo(&repos_name, &repos_path, r, r->uri, conf); rc != 0) return rc;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Preparing to authorize via check_access()");
  int rc = decide_request(r, conf, repos_name, repos_path);
  if (rc == OK) rc = screen_request(r, conf, repos_name, repos_path);
  if (rc == OK || rc == HTTP_FORBIDDEN) zeb::count_decision(rc == OK);
  if (rc == HTTP_FORBIDDEN) report_refusal(r);
  return answer_status(r, log_failure(r, rc));
}

int zeb_subreq_bypass(request_rec* r, const char* repos_path, const char* repos_name) {
  const authnz_zeb_config_rec* conf = config_of(r);
  // mod_dav_svn asks this one provider for every Location, also those that
  // another module guards.
  if (conf->brimstack_properties_file == nullptr) {
    return hand_over_subreq_bypass(r, repos_path, repos_name);
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Preparing to authorize via subrequest");
  // mod_dav_svn asks only whether the path may be read (reports, lock
  // discovery, property filtering); the request's own method was judged by
  // check_access.
  return log_failure(r, decide_read(r, conf, repos_name, repos_path));
}
