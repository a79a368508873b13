#include "request_outcome.h"

#include <array>
#include <utility>

namespace zeb {
namespace {

// A failing service is the server's trouble, never the client's password:
// no challenge, so clients do not prompt again and password-guessing bans
// do not count it, and a hint when to try again.
constexpr int kServiceRetryAfter = 30;

constexpr std::array<std::pair<outcome, outcome_response>, 8> kResponses{{
    {outcome::granted, {OK, false, 0, AUTH_GRANTED}},
    {outcome::credentials_refused, {HTTP_UNAUTHORIZED, true, 0, AUTH_DENIED}},
    {outcome::access_refused, {HTTP_FORBIDDEN, true, 0, AUTH_DENIED}},
    {outcome::service_failed,
     {HTTP_SERVICE_UNAVAILABLE, false, kServiceRetryAfter, AUTH_GENERAL_ERROR}},
    {outcome::service_timed_out,
     {HTTP_SERVICE_UNAVAILABLE, false, kServiceRetryAfter, AUTH_GENERAL_ERROR}},
    {outcome::unknown_method, {HTTP_UNAUTHORIZED, true, 0, AUTH_GENERAL_ERROR}},
    {outcome::malformed_destination, {HTTP_BAD_REQUEST, false, 0, AUTH_GENERAL_ERROR}},
    {outcome::server_error, {HTTP_INTERNAL_SERVER_ERROR, false, 0, AUTH_GENERAL_ERROR}},
}};

}  // namespace

const outcome_response& response_to(outcome what) {
  for (const auto& [o, response] : kResponses) {
    if (o == what) return response;
  }
  return kResponses.back().second;  // server_error
}

outcome outcome_of_status(int status) {
  for (const auto& [o, response] : kResponses) {
    if (response.status == status) return o;
  }
  return outcome::server_error;
}

}  // namespace zeb
