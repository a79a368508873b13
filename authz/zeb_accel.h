// Lookup data that processing attaches to the first item of each list it
// makes, so decisions need neither a scan of the absolute list nor a
// translation per wildcard. The other items carry none: a role keeps one
// copy of what serves all its items.
#ifndef ZEB_ACCEL_H
#define ZEB_ACCEL_H

#include "zeb_authorizer.h"

namespace zeb {
class absolute_index;
class wildcard_set;
}  // namespace zeb

struct zeb_pbp_accel {
  // The item this data was made for; a copied item does not use it.
  const pbp_item_t* owner;
  // The role's index of its absolute list, or its set of wildcards.
  const zeb::absolute_index* index;
  const zeb::wildcard_set* wildcards;
};

#endif
