#include "user_session.h"

#include <apr_file_io.h>
#include <apr_strings.h>

#include <fstream>

#include "exit_status.h"
#include "properties_file.h"

namespace zebauthz {

apr_hash_t* load_properties_file(const std::string& name, apr_pool_t* pool) {
  apr_hash_t* props = apr_hash_make(pool);
  apr_file_t* file = nullptr;
  if (apr_file_open(&file, name.c_str(), APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_FPROT_OS_DEFAULT,
                    pool) != APR_SUCCESS) {
    throw failure(kExitBadInput, "cannot open properties file " + name);
  }
  const apr_status_t rv = read_properties(props, file, pool);
  apr_file_close(file);
  if (rv != APR_SUCCESS) throw failure(kExitBadInput, "cannot read properties file " + name);
  return props;
}

std::string read_password_file(const std::string& name) {
  std::ifstream file(name);
  std::string line;
  if (!file || !std::getline(file, line)) {
    throw failure(kExitBadInput, "cannot read a password from " + name);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

const char* resolve_system_id(apr_hash_t* props, const std::optional<std::string>& location,
                              const std::function<std::optional<std::string>()>& ask_service,
                              apr_pool_t* pool) {
  const char* branding_uri = get_property(props, "subversion_branding.repository_uri", nullptr);
  if (branding_uri != nullptr && location &&
      apr_strnatcasecmp(branding_uri, location->c_str()) == 0) {
    const std::optional<std::string> id = ask_service();
    return id ? apr_pstrdup(pool, id->c_str()) : nullptr;
  }
  // As the module, which refuses to serve without it.
  const char* base = get_property(props, "subversion.repository_base", nullptr);
  if (base == nullptr) {
    throw failure(kExitBadInput,
                  "no subversion.repository_base in the properties: the external system id "
                  "comes from its .scm.properties");
  }
  apr_hash_t* scm = load_properties_file(std::string(base) + "/.scm.properties", pool);
  return get_property(scm, "external_system_id", nullptr);
}

}  // namespace zebauthz
