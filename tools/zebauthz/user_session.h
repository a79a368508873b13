// What fetch and flush share: the properties the module reads, the user's
// password, and the external system id the module would run with.
#ifndef ZEBAUTHZ_USER_SESSION_H
#define ZEBAUTHZ_USER_SESSION_H

#include <apr_hash.h>
#include <apr_pools.h>

#include <functional>
#include <optional>
#include <string>

namespace zebauthz {

// The properties file read as the module reads it; throws
// failure(kExitBadInput).
apr_hash_t* load_properties_file(const std::string& name, apr_pool_t* pool);

// The first line of a file, without its line end; throws
// failure(kExitBadInput).
std::string read_password_file(const std::string& name);

// The external system id the module runs with in the Location whose path is
// location (the module's base URI there): asked through ask_service when the
// properties' branding repository URI names that Location, else read from
// ".scm.properties" in the repository base. Null when there is none.
const char* resolve_system_id(apr_hash_t* props, const std::optional<std::string>& location,
                              const std::function<std::optional<std::string>()>& ask_service,
                              apr_pool_t* pool);

}  // namespace zebauthz

#endif
