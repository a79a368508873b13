#include "request_answer.h"

#include <apr_strings.h>
#include <http_protocol.h>

namespace {

void add_retry_after(request_rec* r, const zeb::outcome_response& response) {
  if (response.retry_after > 0) {
    apr_table_setn(r->err_headers_out, "Retry-After", apr_itoa(r->pool, response.retry_after));
  }
}

}  // namespace

int answer_outcome(request_rec* r, zeb::outcome what) {
  const zeb::outcome_response& response = zeb::response_to(what);
  if (response.challenge) ap_note_basic_auth_failure(r);
  add_retry_after(r, response);
  return response.status;
}

int answer_status(request_rec* r, int status) {
  if (status != OK) add_retry_after(r, zeb::response_to(zeb::outcome_of_status(status)));
  return status;
}
