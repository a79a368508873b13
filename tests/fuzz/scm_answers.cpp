// ScmListener answers from the input, read by the generated client through
// the module's calls, as if the service had sent them.
//
// Input: one digit choosing what is read, then the bytes received:
//   0 isValidUser, 1 getRolePathsList, 2 getRolePaths,
//   3 getBrandingExternalSystemId (each an HTTP response), 4 the check that
//   encoded arrays are whole, on an XML document alone.
// One runtime serves every input, as a connection's runtime serves its calls.
// Roles read from an answer are stored as the module stores them and must
// read back from the stored value as the same roles.
#include <fcntl.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "role_paths_record.h"
#include "scm_is_valid_user.h"
#include "scm_role_entries.h"
#include "scm_role_paths_list.h"
#include "scm_whole_arrays.h"
#include "soapH.h"

namespace {

using zeb::fuzz::finding;

constexpr char kEndpoint[] = "http://scm.example.invalid:8080/qv-soap/services/ScmListener";
constexpr char kAction[] = "bob:ScmListener";

// What the service sends in the call under way.
std::string_view pending;

struct soap* runtime() {
  static struct soap* soap = [] {
    constexpr int kMode = SOAP_C_UTFSTRING | SOAP_XML_INDENT;
    struct soap* s = soap_new2(kMode, kMode);
    // A descriptor that stands for the connection; nothing is sent through it.
    static const int connection = open("/dev/null", O_RDWR | O_CLOEXEC);
    s->fopen = [](struct soap*, const char*, const char*, int) -> SOAP_SOCKET {
      return connection;
    };
    s->fsend = [](struct soap*, const char*, size_t) { return SOAP_OK; };
    s->frecv = [](struct soap*, char* buffer, size_t length) {
      const size_t n = std::min(length, pending.size());
      std::memcpy(buffer, pending.data(), n);
      pending.remove_prefix(n);
      return n;
    };
    s->fclose = [](struct soap*) { return SOAP_OK; };
    return s;
  }();
  return soap;
}

// The roles as the module keeps them and as it stores them, compared.
void check_stored(const apr_array_header_t* entries, apr_pool_t* pool) {
  apr_array_header_t* kept = apr_array_make(pool, 4, sizeof(zeb_role_t*));
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  for (int i = 0; i < entries->nelts; ++i) {
    const auto& entry = APR_ARRAY_IDX(entries, i, scm_role_entry_t);
    serialize_update(entry.role_id, entry.pbps, entry.num_pbps, value);
    populate_rolepathslist_pbps(entry.role_id, entry.pbps, entry.num_pbps, kept, pool);
  }
  if (serialize_is_storable(value)) {
    apr_array_header_t* read = apr_array_make(pool, 4, sizeof(zeb_role_t*));
    if (!zeb_role_paths_read_value(value->buffer, value->size, read, pool) ||
        read->nelts != kept->nelts) {
      finding("a stored answer does not read back");
    }
    for (int i = 0; i < kept->nelts; ++i) {
      const auto* a = APR_ARRAY_IDX(kept, i, const zeb_role_t*);
      const auto* b = APR_ARRAY_IDX(read, i, const zeb_role_t*);
      bool same = std::strcmp(a->repoRoleId, b->repoRoleId) == 0 &&
                  a->repoPathAndPerm->nelts == b->repoPathAndPerm->nelts;
      for (int j = 0; same && j < a->repoPathAndPerm->nelts; ++j) {
        same = std::strcmp(APR_ARRAY_IDX(a->repoPathAndPerm, j, const char*),
                           APR_ARRAY_IDX(b->repoPathAndPerm, j, const char*)) == 0;
      }
      if (!same) finding("a stored answer reads back as other roles");
    }
  }
  serialize_destroy(value);
}

int call(int operation, struct soap* soap, apr_pool_t* pool) {
  switch (operation) {
    case 0: {
      int answer = -1;
      return scm_call_is_valid_user(soap, kEndpoint, kAction, "K", "bob", "pw", "ext", "repo",
                                    &answer);
    }
    case 1: {
      ScmListenerServiceNS__getRolePathsListResponse response{};
      const int rc = scm_call_get_role_paths_list(soap, kEndpoint, kAction, "K", "bob", "ext",
                                                  "repo", &response);
      if (rc == SOAP_OK) check_stored(scm_roles_from_role_paths_list(&response, pool), pool);
      return rc;
    }
    case 2: {
      ScmListenerServiceNS__getRolePathsResponse response{};
      const int rc =
          scm_call_get_role_paths(soap, kEndpoint, kAction, "K", "bob", "ext", "repo", &response);
      if (rc == SOAP_OK) check_stored(scm_roles_from_role_paths(&response, pool), pool);
      return rc;
    }
    default: {
      char* id = nullptr;
      return soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(
          soap, kEndpoint, kAction, const_cast<char*>("K"), &id);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int operation = static_cast<uint8_t>(data[0] - '0') % 5;
  const std::string_view received = zeb::fuzz::as_text(data + 1, size - 1);
  if (operation == 4) {
    scm_check_whole_arrays(received);
    return 0;
  }
  zeb::fuzz::input_pool pool;
  struct soap* soap = runtime();
  pending = received;
  if (call(operation, soap, pool.get()) != SOAP_OK) {
    // The module logs the fault of every failed call.
    char text[1024];
    soap_sprint_fault(soap, text, sizeof text);
  }
  soap_destroy(soap);
  soap_end(soap);
  return 0;
}
