#include "decision_log.h"

#include <apr_strings.h>

#include <cstdarg>

namespace zeb::decision {

void log_line(decision_log& log, log_level level, apr_pool_t* pool, const char* format, ...) {
  if (level == log_level::debug && !log.debug_on()) return;
  va_list args;
  va_start(args, format);
  const char* text = apr_pvsprintf(pool, format, args);
  va_end(args);
  log.write(level, text);
}

}  // namespace zeb::decision
