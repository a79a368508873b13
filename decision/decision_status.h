// The HTTP statuses the decision core answers with itself; the others come
// from its sources.
#ifndef ZEB_DECISION_STATUS_H
#define ZEB_DECISION_STATUS_H

namespace zeb::decision {

inline constexpr int kStatusForbidden = 403;
inline constexpr int kStatusInternalError = 500;

}  // namespace zeb::decision

#endif
