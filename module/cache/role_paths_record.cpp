#include "role_paths_record.h"

#include <apr_strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

using pbp_list = std::span<const char* const>;

pbp_list as_list(const char* const* pbps, int num_pbps) {
  // A role without a PBP list is a role without PBPs.
  if (pbps == nullptr || num_pbps <= 0) return {};
  return {pbps, static_cast<size_t>(num_pbps)};
}

// Only ids that leave room for their NUL inside the id field can be written.
bool is_storable_role_id(const char* role_id) {
  return role_id != nullptr && strnlen(role_id, ZEB_ROLE_ID_FIELD_SIZE) < ZEB_ROLE_ID_FIELD_SIZE;
}

int64_t record_size(const char* role_id, pbp_list pbps) {
  if (!is_storable_role_id(role_id)) return -1;
  int64_t strings = 0;
  for (const char* pbp : pbps) {
    if (pbp != nullptr) strings += static_cast<int64_t>(strlen(pbp)) + 1;
  }
  return ZEB_ROLE_RECORD_FIXED_SIZE + strings;
}

// Writes a record of exactly size bytes (from record_size) at dest.
void write_record(char* dest, const char* role_id, pbp_list pbps, int64_t size) {
  std::memset(dest, 0, ZEB_ROLE_PBPS_OFFSET);
  std::strcpy(dest, role_id);
  const int64_t count =
      std::count_if(pbps.begin(), pbps.end(), [](auto p) { return p != nullptr; });
  std::memcpy(dest + ZEB_ROLE_COUNT_OFFSET, &count, sizeof count);
  char* out = dest + ZEB_ROLE_PBPS_OFFSET;
  for (const char* pbp : pbps) {
    if (pbp == nullptr) continue;
    const size_t with_nul = strlen(pbp) + 1;
    std::memcpy(out, pbp, with_nul);
    out += with_nul;
  }
  std::memset(dest + size - ZEB_ROLE_FILLER_SIZE, 0, ZEB_ROLE_FILLER_SIZE);
}

int64_t stored_count(const char* record) {
  int64_t count;
  std::memcpy(&count, record + ZEB_ROLE_COUNT_OFFSET, sizeof count);
  return count;
}

bool reserve(serialize_ctx_t* ctx, int64_t needed) {
  if (needed <= ctx->capacity) return true;
  const int64_t capacity = std::max({needed, ctx->capacity * 2, int64_t{256}});
  void* grown = std::realloc(ctx->buffer, static_cast<size_t>(capacity));
  if (grown == nullptr) return false;
  ctx->buffer = static_cast<char*>(grown);
  ctx->capacity = capacity;
  return true;
}

// Length of the record at data if all of it lies within the available bytes,
// else -1.
int64_t checked_record_length(const char* data, int64_t available) {
  if (available < ZEB_ROLE_RECORD_FIXED_SIZE) return -1;
  if (std::memchr(data, '\0', ZEB_ROLE_ID_FIELD_SIZE) == nullptr) return -1;
  const int64_t count = stored_count(data);
  if (count <= 0) return ZEB_ROLE_RECORD_FIXED_SIZE;
  if (count > INT_MAX) return -1;
  // Every string with its NUL must end before the filler.
  const int64_t strings_end = available - ZEB_ROLE_FILLER_SIZE;
  int64_t offset = ZEB_ROLE_PBPS_OFFSET;
  for (int64_t i = 0; i < count; ++i) {
    if (offset >= strings_end) return -1;
    const void* nul = std::memchr(data + offset, '\0', static_cast<size_t>(strings_end - offset));
    if (nul == nullptr) return -1;
    offset = static_cast<const char*>(nul) - data + 1;
  }
  return offset + ZEB_ROLE_FILLER_SIZE;
}

// A record's role, its strings copied into pool or pointing into the record.
int64_t read_record(const char* record, bool copy, apr_array_header_t* pbps_with_roles,
                    apr_pool_t* pool) {
  const int64_t count = stored_count(record);
  auto* role = static_cast<zeb_role_t*>(apr_pcalloc(pool, sizeof(zeb_role_t)));
  role->repoRoleId = copy ? apr_pstrdup(pool, record) : record;
  role->repoPathAndPerm =
      apr_array_make(pool, count > 0 ? static_cast<int>(count) : 0, sizeof(const char*));
  int64_t offset = ZEB_ROLE_PBPS_OFFSET;
  for (int64_t i = 0; i < count; ++i) {
    const char* pbp = record + offset;
    APR_ARRAY_PUSH(role->repoPathAndPerm, const char*) = copy ? apr_pstrdup(pool, pbp) : pbp;
    offset += static_cast<int64_t>(strlen(pbp)) + 1;
  }
  APR_ARRAY_PUSH(pbps_with_roles, zeb_role_t*) = role;
  return offset + ZEB_ROLE_FILLER_SIZE;
}

int read_value(const char* value, int64_t length, bool copy, apr_array_header_t* pbps_with_roles,
               apr_pool_t* pool) {
  if (length < 0 || (length > 0 && value == nullptr)) return 0;
  const int roles_before = pbps_with_roles->nelts;
  int64_t offset = 0;
  while (offset < length) {
    // Check before reading, so that a foreign or truncated value is never
    // read past its end; one bad record spoils the whole value.
    if (checked_record_length(value + offset, length - offset) < 0) {
      pbps_with_roles->nelts = roles_before;
      return 0;
    }
    offset += read_record(value + offset, copy, pbps_with_roles, pool);
  }
  return 1;
}

}  // namespace

extern "C" {

serialize_ctx_t* serialize_init(const char* buffer, int64_t size) {
  if (size < 0 || (size > 0 && buffer == nullptr)) return nullptr;
  auto* ctx = static_cast<serialize_ctx_t*>(std::calloc(1, sizeof(serialize_ctx_t)));
  if (ctx == nullptr) return nullptr;
  if (size > 0) {
    if (!reserve(ctx, size)) {
      std::free(ctx);
      return nullptr;
    }
    std::memcpy(ctx->buffer, buffer, static_cast<size_t>(size));
    ctx->size = size;
  }
  return ctx;
}

char* serialize_pbp(const char* role_id, const char* const* pbps, int num_pbps, int64_t* length) {
  *length = 0;
  const pbp_list list = as_list(pbps, num_pbps);
  const int64_t size = record_size(role_id, list);
  if (size < 0) return nullptr;
  auto* record = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
  if (record == nullptr) return nullptr;
  write_record(record, role_id, list, size);
  *length = size;
  return record;
}

serialize_ctx_t* serialize_update(const char* role_id, const char* const* pbps, int num_pbps,
                                  serialize_ctx_t* ctx) {
  if (ctx == nullptr) ctx = serialize_init(nullptr, 0);
  if (ctx == nullptr || ctx->incomplete) return ctx;
  const pbp_list list = as_list(pbps, num_pbps);
  const int64_t size = record_size(role_id, list);
  if (size < 0 || !reserve(ctx, ctx->size + size)) {
    ctx->incomplete = 1;
    return ctx;
  }
  write_record(ctx->buffer + ctx->size, role_id, list, size);
  ctx->size += size;
  return ctx;
}

int serialize_is_storable(const serialize_ctx_t* ctx) {
  return ctx != nullptr && !ctx->incomplete;
}

void serialize_destroy(serialize_ctx_t* ctx) {
  if (ctx == nullptr) return;
  std::free(ctx->buffer);
  std::free(ctx);
}

void populate_rolepathslist_pbps(const char* role_id, const char* const* pbps, int num_pbps,
                                 apr_array_header_t* pbps_with_roles, apr_pool_t* pool) {
  const pbp_list list = as_list(pbps, num_pbps);
  auto* role = static_cast<zeb_role_t*>(apr_pcalloc(pool, sizeof(zeb_role_t)));
  role->repoRoleId = role_id != nullptr ? apr_pstrdup(pool, role_id) : nullptr;
  role->repoPathAndPerm = apr_array_make(pool, static_cast<int>(list.size()), sizeof(const char*));
  for (const char* pbp : list) {
    if (pbp != nullptr) APR_ARRAY_PUSH(role->repoPathAndPerm, const char*) = apr_pstrdup(pool, pbp);
  }
  APR_ARRAY_PUSH(pbps_with_roles, zeb_role_t*) = role;
}

int64_t populate_serialize_rolepathslist_pbps(const char* record,
                                              apr_array_header_t* pbps_with_roles,
                                              apr_pool_t* pool) {
  return read_record(record, true, pbps_with_roles, pool);
}

int zeb_role_paths_read_value(const char* value, int64_t length,
                              apr_array_header_t* pbps_with_roles, apr_pool_t* pool) {
  return read_value(value, length, true, pbps_with_roles, pool);
}

int zeb_role_paths_view_value(const char* value, int64_t length,
                              apr_array_header_t* pbps_with_roles, apr_pool_t* pool) {
  return read_value(value, length, false, pbps_with_roles, pool);
}

}  // extern "C"
