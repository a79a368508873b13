// Lookup data that processing attaches to the items it makes, so decisions
// need neither a scan of the absolute list nor a translation per wildcard.
#ifndef ZEB_ACCEL_H
#define ZEB_ACCEL_H

#include "zeb_authorizer.h"

namespace zeb {
class absolute_index;
class compiled_wildcard;
class wildcard_set;
}  // namespace zeb

struct zeb_pbp_accel {
  // The item this data was made for; a copied item does not use it.
  const pbp_item_t* owner;
  // Absolute items: the role's index and the depth of the item's path.
  const zeb::absolute_index* index;
  int depth;
  // Wildcard items: the precompiled pattern and the role's wildcard set.
  const zeb::compiled_wildcard* wildcard;
  const zeb::wildcard_set* wildcards;
};

#endif
