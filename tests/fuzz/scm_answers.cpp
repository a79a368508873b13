// ScmListener answers from the input, read by the generated client through
// the module's calls, as if the service had sent them.
//
// Input: one digit choosing what is read, then the bytes received:
//   0 isValidUser, 1 getRolePathsList, 2 getRolePaths,
//   3 getBrandingExternalSystemId (each an HTTP response), 4 the check that
//   encoded arrays are whole, on an XML document alone.
// One runtime serves every input, as a connection's runtime serves its calls.
// Roles read from an answer are stored as the module stores them and must
// read back from the stored value as the same roles. A role answer is read
// twice, once as it comes and once in reads of a few bytes each, and must
// read the same both times: how the bytes arrive changes nothing of what the
// client decodes, nor of the body kept for the check that arrays are whole
// (of which the reading that stopped sooner may hold less).
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "role_paths_record.h"
#include "scm_is_valid_user.h"
#include "scm_received_body.h"
#include "scm_role_entries.h"
#include "scm_role_paths_list.h"
#include "scm_whole_arrays.h"
#include "soapH.h"

namespace {

using zeb::fuzz::finding;

constexpr char kEndpoint[] = "http://scm.example.invalid:8080/qv-soap/services/ScmListener";
constexpr char kAction[] = "bob:ScmListener";

// What the service sends in the call under way, and whether each read takes
// only a few bytes of it (the counts cycle through 1 to kMostInAPiece).
std::string_view pending;
bool in_pieces = false;
size_t reads = 0;
constexpr size_t kMostInAPiece = 61;

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
      if (in_pieces) length = std::min(length, 1 + reads++ % kMostInAPiece);
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

// Per role read: its id, then its PBPs.
using roles_read = std::vector<std::vector<std::optional<std::string>>>;

roles_read read(const apr_array_header_t* entries) {
  roles_read roles;
  for (int i = 0; i < entries->nelts; ++i) {
    const auto& entry = APR_ARRAY_IDX(entries, i, scm_role_entry_t);
    auto& role = roles.emplace_back();
    role.push_back(entry.role_id ? std::optional<std::string>(entry.role_id) : std::nullopt);
    role.insert(role.end(), entry.pbps, entry.pbps + entry.num_pbps);
  }
  return roles;
}

// What a call made of an answer: whether it succeeded, the roles read, and
// why the check that arrays are whole failed it. (How the runtime reports
// other failures may depend on how a broken answer arrives.)
struct outcome {
  bool succeeded;
  roles_read roles;
  std::string not_whole;
  bool operator==(const outcome&) const = default;
};

outcome call(int operation, struct soap* soap, apr_pool_t* pool) {
  const apr_array_header_t* entries = nullptr;
  int rc;
  switch (operation) {
    case 0: {
      int answer = -1;
      rc = scm_call_is_valid_user(soap, kEndpoint, kAction, "K", "bob", "pw", "ext", "repo",
                                  &answer);
      break;
    }
    case 1: {
      ScmListenerServiceNS__getRolePathsListResponse response{};
      rc = scm_call_get_role_paths_list(soap, kEndpoint, kAction, "K", "bob", "ext", "repo",
                                        &response);
      if (rc == SOAP_OK) entries = scm_roles_from_role_paths_list(&response, pool);
      break;
    }
    case 2: {
      ScmListenerServiceNS__getRolePathsResponse response{};
      rc = scm_call_get_role_paths(soap, kEndpoint, kAction, "K", "bob", "ext", "repo", &response);
      if (rc == SOAP_OK) entries = scm_roles_from_role_paths(&response, pool);
      break;
    }
    default: {
      char* id = nullptr;
      rc = soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(soap, kEndpoint, kAction,
                                                                       const_cast<char*>("K"), &id);
    }
  }
  outcome result{rc == SOAP_OK, {}, {}};
  if (entries != nullptr) {
    check_stored(entries, pool);
    result.roles = read(entries);
  }
  if (rc != SOAP_OK) {
    // The module logs the fault of every failed call.
    char text[1024];
    soap_sprint_fault(soap, text, sizeof text);
    const char* const* string = soap_faultstring(soap);
    const char* const* detail = soap_faultdetail(soap);
    if (*string != nullptr && std::strcmp(*string, "Array not read whole") == 0 && *detail)
      result.not_whole = *detail;
  }
  soap_destroy(soap);
  soap_end(soap);
  return result;
}

outcome answered(int operation, std::string_view received, bool pieces, apr_pool_t* pool,
                 std::string* body) {
  pending = received;
  in_pieces = pieces;
  reads = 0;
  const scm_received_body kept(runtime());
  outcome result = call(operation, runtime(), pool);
  *body = kept.text();
  return result;
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
  std::string whole_body, pieces_body;
  const outcome whole = answered(operation, received, false, pool.get(), &whole_body);
  if (operation != 1 && operation != 2) return 0;
  if (answered(operation, received, true, pool.get(), &pieces_body) != whole)
    finding("a role answer reads otherwise when it arrives in pieces");
  const auto& [shorter, longer] = std::minmax(
      whole_body, pieces_body, [](const auto& a, const auto& b) { return a.size() < b.size(); });
  if (longer.compare(0, shorter.size(), shorter) != 0)
    finding("the body kept of an answer differs with how it arrives");
  return 0;
}
