#include "request_env.h"

#include <apr_strings.h>

namespace {

// The access log shows the main request; a subrequest that decides for it
// (such as mod_dav's look-up of a COPY destination) leaves its values
// there too, unless the main request has its own.
void set_value(request_rec* r, const char* name, const char* value) {
  apr_table_set(r->subprocess_env, name, value);
  request_rec* main = r;
  while (main->main != nullptr) main = main->main;
  if (main != r && apr_table_get(main->subprocess_env, name) == nullptr) {
    apr_table_set(main->subprocess_env, name, value);
  }
}

}  // namespace

void set_credentials_env(request_rec* r, const char* user, const char* source) {
  set_value(r, "ZEB_CREDENTIALS_FROM", source);
  if (user != nullptr) set_value(r, "ZEB_USER", user);
}

void set_refusal_env(request_rec* r, const char* action, const char* repos_name, const char* path) {
  set_value(r, "ZEB_REFUSED_ACTION", action);
  set_value(r, "ZEB_REFUSED_REPOSITORY", repos_name != nullptr ? repos_name : "");
  set_value(r, "ZEB_REFUSED_PATH", path);
}
