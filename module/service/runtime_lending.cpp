#include "runtime_lending.h"

#include <apr_strings.h>

#include <mutex>
#include <string>
#include <vector>

#include "properties_file.h"
#include "service_tls.h"
#include "soap_runtime_settings.h"

namespace {

struct idle_runtime {
  std::string key;
  struct soap* runtime;
};

std::mutex idle_mutex;
// Runtimes still waiting at exit are left to the process's end.
std::vector<idle_runtime>* idle = new std::vector<idle_runtime>;

}  // namespace

const char* tls_runtime_key(apr_hash_t* props, apr_pool_t* pool) {
  const char* names[] = {kListenerCaFileProperty, kListenerCaPathProperty,
                         kListenerVerifyHostProperty};
  // The host is what a verified certificate must name.
  char* key = apr_pstrcat(pool, "host=", listener_host(props), nullptr);
  for (const char* name : names) {
    const char* value = get_property(props, name, nullptr);
    // '\n' cannot occur in a trimmed value: keys cannot run into each other.
    key = apr_pstrcat(pool, key, "\n", name, value != nullptr ? "=" : "", value ? value : "",
                      nullptr);
  }
  return key;
}

struct soap* take_idle_runtime(const char* key) {
  std::lock_guard<std::mutex> lock(idle_mutex);
  for (auto it = idle->rbegin(); it != idle->rend(); ++it) {
    if (it->key != key) continue;
    struct soap* runtime = it->runtime;
    idle->erase(std::next(it).base());
    return runtime;
  }
  return nullptr;
}

bool keep_idle_runtime(const char* key, struct soap* runtime) {
  std::lock_guard<std::mutex> lock(idle_mutex);
  if (idle->size() >= kIdleRuntimes) return false;
  idle->push_back({key, runtime});
  return true;
}
