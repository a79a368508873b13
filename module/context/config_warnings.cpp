#include "config_warnings.h"

#include <apr_hash.h>
#include <apr_strings.h>
#include <apr_tables.h>
#include <httpd.h>
#include <unistd.h>

#include <http_config.h>
#include <http_core.h>
#include <http_log.h>
#include <unixd.h>

#include "properties_check.h"
#include "version_info.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

// Made afresh in the configuration pool of each reading of the configuration.
apr_array_header_t* pending = nullptr;

int start_reading(apr_pool_t* pconf, apr_pool_t*, apr_pool_t*) {
  pending = apr_array_make(pconf, 1, sizeof(const authnz_zeb_config_rec*));
  return OK;
}

int check_pending(apr_pool_t*, apr_pool_t*, apr_pool_t* ptemp, server_rec* s) {
  // httpd reads its configuration twice when it starts; report once.
  if (ap_state_query(AP_SQ_MAIN_STATE) == AP_SQ_MS_CREATE_PRE_CONFIG) return OK;
  // Which build serves, and with which libraries.
  ap_log_error(APLOG_MARK, APLOG_NOTICE, 0, s, "%s", zeb::version_line("mod_authnz_zeb").c_str());
  // Started as root, httpd reads the files here as root but serves requests
  // as another user.
  const zeb::request_user children = {ap_unixd_config.user_id, ap_unixd_config.group_id,
                                      ap_unixd_config.user_name};
  const bool other_user = geteuid() == 0 && children.uid != 0;
  // One line per problem, however many sections share a file.
  apr_hash_t* logged = apr_hash_make(ptemp);
  for (int i = 0; pending && i < pending->nelts; ++i) {
    const auto* conf = APR_ARRAY_IDX(pending, i, const authnz_zeb_config_rec*);
    for (const std::string& warning :
         zeb::properties_file_warnings(conf->brimstack_properties_file, conf->base_uri,
                                       other_user ? &children : nullptr, ptemp)) {
      if (apr_hash_get(logged, warning.c_str(), APR_HASH_KEY_STRING) != nullptr) continue;
      apr_hash_set(logged, apr_pstrdup(ptemp, warning.c_str()), APR_HASH_KEY_STRING, "");
      ap_log_error(APLOG_MARK, APLOG_WARNING, 0, s, "%s", warning.c_str());
    }
  }
  return OK;
}

}  // namespace

void note_properties_file(const authnz_zeb_config_rec* conf) {
  if (pending == nullptr) return;
  // A directive repeated in a section notes the same record again.
  for (int i = 0; i < pending->nelts; ++i) {
    if (APR_ARRAY_IDX(pending, i, const authnz_zeb_config_rec*) == conf) return;
  }
  APR_ARRAY_PUSH(pending, const authnz_zeb_config_rec*) = conf;
}

void register_config_warnings() {
  ap_hook_pre_config(start_reading, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_post_config(check_pending, nullptr, nullptr, APR_HOOK_MIDDLE);
}
