// A stored role-paths value from the input, read the way the module reads a
// memcached value, then screened, put into a role store and decided on.
//
// Input: the value's bytes. A value that reads must write back into a value
// that reads as the same roles; one that does not must leave the answer as
// it was. The cache keys made from the roles' strings must split back into
// those strings, so that two different users or services never share a key.
#include <string>
#include <vector>

#include "cache_keys.h"
#include "fuzz_support.h"
#include "role_paths_record.h"
#include "role_screening.h"
#include "role_store.h"
#include "zeb_authorizer.h"
#include "zeb_pbp_usability.h"

namespace {

using zeb::fuzz::finding;

using role_list = std::vector<std::pair<std::string, std::vector<std::string>>>;

role_list listed(const apr_array_header_t* roles) {
  role_list out;
  for (int i = 0; i < roles->nelts; ++i) {
    const auto* role = APR_ARRAY_IDX(roles, i, const zeb_role_t*);
    std::vector<std::string> strings;
    for (int j = 0; j < role->repoPathAndPerm->nelts; ++j) {
      strings.emplace_back(APR_ARRAY_IDX(role->repoPathAndPerm, j, const char*));
    }
    out.emplace_back(role->repoRoleId != nullptr ? role->repoRoleId : "(null)", strings);
  }
  return out;
}

void check_written_back(const apr_array_header_t* roles, apr_pool_t* pool) {
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  for (int i = 0; i < roles->nelts; ++i) {
    const auto* role = APR_ARRAY_IDX(roles, i, const zeb_role_t*);
    serialize_update(role->repoRoleId,
                     reinterpret_cast<const char* const*>(role->repoPathAndPerm->elts),
                     role->repoPathAndPerm->nelts, value);
  }
  if (!serialize_is_storable(value)) finding("roles read from a value cannot be written back");
  apr_array_header_t* again = apr_array_make(pool, 4, sizeof(zeb_role_t*));
  if (!zeb_role_paths_read_value(value->buffer, value->size, again, pool)) {
    finding("a value written back does not read");
  }
  if (listed(again) != listed(roles)) finding("a value written back reads as other roles");
  serialize_destroy(value);
}

// Every role kept holds a usable string and every role left out none; each
// unusable string is reported once.
void check_screening(const apr_array_header_t* roles, apr_pool_t* pool) {
  int unusable = 0;
  apr_array_header_t* usable = usable_roles(
      roles, [&](const char*, const char*, zeb_pbp_verdict_t) { ++unusable; }, pool);
  int kept = 0;
  int expected_unusable = 0;
  for (int i = 0; i < roles->nelts; ++i) {
    const auto* role = APR_ARRAY_IDX(roles, i, const zeb_role_t*);
    const auto* raw = reinterpret_cast<const char* const*>(role->repoPathAndPerm->elts);
    const int nelts = role->repoPathAndPerm->nelts;
    for (int j = 0; j < nelts; ++j)
      expected_unusable += zeb_pbp_verdict(raw[j], pool) != ZEB_PBP_USABLE;
    const bool has_usable = zeb_pbps_have_usable(raw, nelts, pool) != 0;
    const bool is_kept =
        kept < usable->nelts && APR_ARRAY_IDX(usable, kept, const zeb_role_t*) == role;
    if (has_usable != is_kept) finding("role " + std::to_string(i) + " screened wrongly");
    kept += is_kept;
  }
  if (kept != usable->nelts) finding("screening kept roles it was not given");
  if (unusable != expected_unusable) finding("screening reported unusable strings wrongly");

  // The roles kept go into a store, process and decide.
  apr_array_header_t* store = make_role_store(usable, pool);
  for (int i = 0; i < store->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(store, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, pool);
    has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                             PBP_VIEW_ACCESS, "/trunk/a", pool);
  }
}

// The key's ':'-separated fields, unescaped.
std::vector<std::string> fields_of(const std::string& key) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == ':') {
      fields.emplace_back();
    } else if (key.compare(i, 3, "%3A") == 0) {
      fields.back() += ':';
      i += 2;
    } else if (key.compare(i, 3, "%25") == 0) {
      fields.back() += '%';
      i += 2;
    } else {
      fields.back() += key[i];
    }
  }
  return fields;
}

void check_keys(const apr_array_header_t* roles) {
  std::vector<std::string> text;
  for (const auto& [id, strings] : listed(roles)) {
    text.push_back(id);
    text.insert(text.end(), strings.begin(), strings.end());
  }
  text.resize(4);
  const auto& [endpoint, system_id, repos, user] = std::tie(text[0], text[1], text[2], text[3]);
  const std::vector<std::string> want = {user, repos, system_id, "getrolepaths", "56", endpoint};
  if (fields_of(zeb::role_paths_key(endpoint.c_str(), system_id.c_str(), repos.c_str(),
                                    user.c_str())) != want) {
    finding("role-paths key does not split back into its fields");
  }
  const std::vector<std::string> credential = fields_of(zeb::is_valid_user_key(
      endpoint.c_str(), system_id.c_str(), repos.c_str(), user.c_str(), "secret", "pw"));
  if (credential.size() != 6 || credential[0] != user || credential[2] != "isvaliduser" ||
      credential[3] != repos || credential[4] != system_id || credential[5] != endpoint) {
    finding("credential key does not split back into its fields");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zeb::fuzz::input_pool pool;
  apr_array_header_t* roles = apr_array_make(pool.get(), 1, sizeof(zeb_role_t*));
  // An earlier role that a bad value must leave in place.
  const char* const kept[] = {"view:/"};
  populate_rolepathslist_pbps("earlier", kept, 1, roles, pool.get());
  const bool read = zeb_role_paths_read_value(reinterpret_cast<const char*>(data),
                                              static_cast<int64_t>(size), roles, pool.get()) != 0;
  if (!read) {
    if (roles->nelts != 1) finding("a value that does not read left roles behind");
    return 0;
  }
  check_written_back(roles, pool.get());
  check_screening(roles, pool.get());
  check_keys(roles);
  return 0;
}
