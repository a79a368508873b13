#include "status_handler.h"

#include <httpd.h>
// httpd.h first: the hook headers below rely on its types.
#include <ap_mpm.h>
#include <apr_optional_hooks.h>
#include <apr_shm.h>
#include <http_config.h>
#include <http_log.h>
#include <http_protocol.h>
#include <http_request.h>
#include <mod_status.h>
#include <scoreboard.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "status_counting.h"
#include "status_page.h"
#include "status_segment.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

using zeb::status::segment;

constexpr char kHandlerName[] = "authnz-zeb-status";
// The segment lives in the process pool, which a restart keeps.
constexpr char kSegmentKey[] = "mod_authnz_zeb_status_segment";

segment* g_segment = nullptr;

// The servers of the configuration being read; a restart reads them anew.
std::vector<std::string>& configured_servers() {
  static auto* servers = new std::vector<std::string>;
  return *servers;
}

std::uint64_t now_seconds() {
  return static_cast<std::uint64_t>(apr_time_sec(apr_time_now()));
}

// Room for every process of one generation and those of the previous one
// still finishing their connections after a graceful restart.
std::uint32_t slot_count() {
  int limit = 0;
  if (ap_mpm_query(AP_MPMQ_HARD_LIMIT_DAEMONS, &limit) != APR_SUCCESS) limit = 0;
  return static_cast<std::uint32_t>(std::clamp(2 * limit, 2, 4096));
}

int status_pre_config(apr_pool_t*, apr_pool_t*, apr_pool_t*) {
  configured_servers().clear();
  return OK;
}

// Made once per httpd process; every configuration read afterwards (a
// restart, graceful or not) finds it again.
int status_post_config(apr_pool_t*, apr_pool_t*, apr_pool_t*, server_rec* s) {
  apr_pool_t* process_pool = s->process->pool;
  void* found = nullptr;
  apr_pool_userdata_get(&found, kSegmentKey, process_pool);
  auto* seg = static_cast<segment*>(found);
  if (seg == nullptr) {
    const std::uint32_t slots = slot_count();
    apr_shm_t* shm = nullptr;
    if (const apr_status_t rv =
            apr_shm_create(&shm, zeb::status::segment_bytes(slots), nullptr, process_pool);
        rv != APR_SUCCESS) {
      ap_log_error(APLOG_MARK, APLOG_ERR, rv, s,
                   "Unable to create shared memory for the status counters");
      return OK;
    }
    seg = static_cast<segment*>(apr_shm_baseaddr_get(shm));
    zeb::status::reset_segment(seg, slots, now_seconds());
    apr_pool_userdata_set(seg, kSegmentKey, apr_pool_cleanup_null, process_pool);
  }
  zeb::status::add_servers(seg, configured_servers());
  g_segment = seg;
  return OK;
}

// httpd runs this hook before it starts children on a start or a restart
// that is not graceful, which is when the figures start from zero.
int status_pre_mpm(apr_pool_t*, ap_scoreboard_e) {
  if (g_segment == nullptr) return OK;
  zeb::status::reset_segment(g_segment, g_segment->slot_count, now_seconds());
  zeb::status::add_servers(g_segment, configured_servers());
  return OK;
}

bool process_alive(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

void status_child_init(apr_pool_t*, server_rec*) {
  if (g_segment == nullptr) return;
  zeb::status::use_slot(g_segment, zeb::status::claim_slot(g_segment, getpid(), process_alive));
}

int status_handler(request_rec* r) {
  if (r->handler == nullptr || std::strcmp(r->handler, kHandlerName) != 0) return DECLINED;
  r->allowed = AP_METHOD_BIT << M_GET;
  ap_allow_methods(r, 1, "GET", "HEAD", nullptr);
  if (r->method_number != M_GET) return HTTP_METHOD_NOT_ALLOWED;
  const auto format = zeb::status::format_of_query(r->args);
  if (!format) return HTTP_BAD_REQUEST;
  if (g_segment == nullptr) return HTTP_SERVICE_UNAVAILABLE;
  ap_set_content_type(r, *format == zeb::status::page_format::html ? "text/html; charset=utf-8"
                         : *format == zeb::status::page_format::prometheus
                             ? zeb::status::kPrometheusContentType
                             : "text/plain; charset=utf-8");
  apr_table_setn(r->headers_out, "Cache-Control", "no-cache");
  if (r->header_only) return OK;
  const std::string page = zeb::status::render_page(zeb::status::read_figures(g_segment), *format);
  ap_rwrite(page.data(), static_cast<int>(page.size()), r);
  return OK;
}

int status_section(request_rec* r, int flags) {
  if (g_segment == nullptr) return OK;
  const std::string text = zeb::status::render_summary(zeb::status::read_figures(g_segment),
                                                       (flags & AP_STATUS_SHORT) != 0);
  ap_rputs(text.c_str(), r);
  return OK;
}

}  // namespace

void register_status_hooks() {
  ap_hook_pre_config(status_pre_config, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_post_config(status_post_config, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_pre_mpm(status_pre_mpm, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_child_init(status_child_init, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_handler(status_handler, nullptr, nullptr, APR_HOOK_MIDDLE);
  APR_OPTIONAL_HOOK(ap, status_hook, status_section, nullptr, nullptr, APR_HOOK_MIDDLE);
}

void note_status_server(const std::string& label) {
  configured_servers().push_back(label);
}
