// Which checks a request method needs before it may proceed: httpd's method
// number mapped to an action and how far that action must be granted.
#ifndef ZEB_METHOD_TABLE_H
#define ZEB_METHOD_TABLE_H

#include "zeb_authorizer.h"

#ifdef __cplusplus
extern "C" {
#endif

// How far an action must be granted.
typedef enum access_level_t {
  ACCESS_SOMEWHERE = 0,      // by some permission of a role, wherever it applies
  ACCESS_NON_RECURSIVE = 1,  // on the path itself
  ACCESS_RECURSIVE = 2       // on the path and every node below it
} access_level_t;

// Names of the actions PBP_NO_ACCESS..PBP_COMMIT_ACCESS, for messages.
extern const char* const zeb_action_names[3];

// zeb_action_names[action], or "unknown" for a value outside the table.
const char* zeb_action_name(pbp_access_t action);

#ifdef __cplusplus
}

#include <optional>

namespace zeb {

enum class method_verdict {
  check,  // one check, in method_classification::action and ::level
  copy,   // checks scheduled by the caller from the Destination header;
          // action and level are those of the destination check
  move,   // as copy, plus commit on the source
  refuse  // not a method this module serves: 401
};

struct method_classification {
  method_verdict verdict;
  pbp_access_t action;
  access_level_t level;
};

// parent_method_number is the method number of the parent request when the
// request is a subrequest, nullopt otherwise; path_known tells whether the
// request names a repository path.
method_classification classify_method(int method_number, std::optional<int> parent_method_number,
                                      bool path_known);

}  // namespace zeb
#endif

#endif
