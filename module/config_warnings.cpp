#include "config_warnings.h"

#include <apr_tables.h>
#include <httpd.h>

#include <http_config.h>
#include <http_core.h>
#include <http_log.h>

APLOG_USE_MODULE(authnz_zeb);

namespace {

// Made afresh in the configuration pool of each reading of the configuration.
apr_array_header_t* pending = nullptr;

int start_reading(apr_pool_t* pconf, apr_pool_t*, apr_pool_t*) {
  pending = apr_array_make(pconf, 1, sizeof(const char*));
  return OK;
}

int log_pending(apr_pool_t*, apr_pool_t*, apr_pool_t*, server_rec* s) {
  // httpd reads its configuration twice when it starts; warn once.
  if (ap_state_query(AP_SQ_MAIN_STATE) == AP_SQ_MS_CREATE_PRE_CONFIG) return OK;
  for (int i = 0; pending && i < pending->nelts; ++i) {
    ap_log_error(APLOG_MARK, APLOG_WARNING, 0, s, "%s", APR_ARRAY_IDX(pending, i, const char*));
  }
  return OK;
}

}  // namespace

void note_config_warning(const char* text) {
  if (pending) APR_ARRAY_PUSH(pending, const char*) = text;
}

void register_config_warnings() {
  ap_hook_pre_config(start_reading, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_post_config(log_pending, nullptr, nullptr, APR_HOOK_MIDDLE);
}
