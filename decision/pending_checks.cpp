#include "pending_checks.h"

#include <apr_strings.h>

#include "decision_status.h"

namespace zeb::decision {

int schedule_check(const pending_check& check, apr_array_header_t* checks, decision_log& log,
                   apr_pool_t* pool) {
  auto copy = [pool](const char* s) { return s ? apr_pstrdup(pool, s) : nullptr; };
  APR_ARRAY_PUSH(checks, pending_check) =
      pending_check{check.action, check.level, copy(check.repos_name), copy(check.repos_path),
                    copy(check.check_path)};
  const char* action = zeb_action_name(check.action);
  if (check.level == ACCESS_RECURSIVE && check.repos_path == nullptr) {
    log_line(log, log_level::error, pool,
             "Unable to schedule recursive check for '%s' on NULL path", action);
    return kStatusInternalError;
  }
  if (check.check_path != nullptr) {
    log_line(log, log_level::debug, pool, "Scheduling check for '%s' on '%s'%s", action,
             check.check_path, check.level == ACCESS_RECURSIVE ? " (recursive)" : "");
  } else {
    log_line(log, log_level::debug, pool, "Scheduling check for '%s' on NULL path", action);
  }
  return 0;
}

}  // namespace zeb::decision
