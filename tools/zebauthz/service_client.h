// The ScmListener service asked the way the module asks it: endpoint, TLS,
// proxy and time-outs from the properties, one request key per session.
#ifndef ZEBAUTHZ_SERVICE_CLIENT_H
#define ZEBAUTHZ_SERVICE_CLIENT_H

#include <apr_hash.h>
#include <apr_pools.h>
#include <stdsoap2.h>
#undef HAVE_TIMEGM

#include <optional>
#include <string>
#include <vector>

#include "roles_input.h"

namespace zebauthz {

struct role_answer {
  std::vector<role_input> roles;
  std::string operation;  // the operation that answered
};

// Every call throws failure(kExitService) with the fault text when it fails.
class service_client {
 public:
  service_client(apr_hash_t* props, apr_pool_t* pool);
  ~service_client();
  service_client(const service_client&) = delete;
  service_client& operator=(const service_client&) = delete;

  const char* endpoint() const { return endpoint_; }

  // getBrandingExternalSystemId; nothing when the reply carries no id.
  std::optional<std::string> external_system_id(const std::string& user);

  // isValidUser: 0 accepts, anything else refuses.
  int is_valid_user(const std::string& user, const std::string& password, const char* system_id,
                    const std::string& repository);

  // getRolePathsList with getRolePaths as fallback (not when the service
  // could not be reached), or getRolePaths alone when the properties ask
  // for it, as the module chooses.
  role_answer role_paths(const std::string& user, const char* system_id,
                         const std::string& repository);

 private:
  [[noreturn]] void fail(const std::string& operation);
  void end_call();

  struct soap soap_;
  apr_hash_t* props_;
  apr_pool_t* pool_;
  const char* endpoint_;
  const char* request_key_;
};

}  // namespace zebauthz

#endif
