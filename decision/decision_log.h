// How the decision core tells what it does: the caller writes each line
// where its log lives (the module into httpd's per-request error log, with
// the level given).
#ifndef ZEB_DECISION_LOG_H
#define ZEB_DECISION_LOG_H

#include <apr_pools.h>

namespace zeb::decision {

enum class log_level { debug, warning, error };

class decision_log {
 public:
  virtual ~decision_log() = default;
  // Whether debug lines are written: when not, they are not even formatted.
  virtual bool debug_on() const = 0;
  virtual void write(log_level level, const char* text) = 0;
};

// Formats the line in pool (APR's printf) and writes it.
void log_line(decision_log& log, log_level level, apr_pool_t* pool, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace zeb::decision

#endif
