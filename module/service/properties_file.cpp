#include "properties_file.h"

#include <apr_strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is_space(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// One whole line of the file, its newline included when it has one.
void store_line(apr_hash_t* props, const char* line, apr_pool_t* scratch, apr_pool_t* pool) {
  if (line[0] == '#') return;
  const char* eq = std::strchr(line, '=');
  if (eq == nullptr) return;
  const char* name = trim(line, static_cast<apr_size_t>(eq - line), scratch);
  const char* value = trim(eq + 1, std::strlen(eq + 1), scratch);
  // Empty or blank values on newline-terminated lines trim down to "\n".
  if (value[0] == '\n') return;
  apr_hash_set(props, apr_pstrdup(pool, name), APR_HASH_KEY_STRING, apr_pstrdup(pool, value));
}

}  // namespace

char* trim(const char* str, apr_size_t len, apr_pool_t* pool) {
  if (len == 0) return apr_pstrdup(pool, "");
  apr_size_t first = 0;
  apr_size_t last = len - 1;
  while (first < last && is_space(str[first])) ++first;
  while (last > first && is_space(str[last])) --last;
  return apr_pstrmemdup(pool, str + first, last - first + 1);
}

apr_status_t read_properties(apr_hash_t* props, apr_file_t* file, apr_pool_t* pool) {
  apr_pool_t* scratch = nullptr;
  apr_status_t rv = apr_pool_create(&scratch, pool);
  if (rv != APR_SUCCESS) return rv;
  // A line is gathered from as many chunks as it takes: a long value (a
  // proxy password) must never have its tail read as a line of its own. A
  // NUL ends the text of its line (cut) but not the line, so that the next
  // line (the shared secret, say) is never swallowed by it.
  std::string line;
  bool cut = false;
  const auto store = [&] {
    apr_pool_clear(scratch);
    store_line(props, line.c_str(), scratch, pool);
    line.clear();
    cut = false;
  };
  char chunk[1024];
  for (;;) {
    // Cleared first, so that a newline found in it was read by this call.
    std::memset(chunk, 0, sizeof chunk);
    if ((rv = apr_file_gets(chunk, sizeof chunk, file)) != APR_SUCCESS) break;
    const auto* newline = static_cast<const char*>(std::memchr(chunk, '\n', sizeof chunk));
    const size_t read = newline != nullptr ? newline - chunk + 1 : sizeof chunk - 1;
    const size_t text = std::strlen(chunk);
    if (!cut) line.append(chunk, text);
    cut = cut || text < read;
    if (newline != nullptr) {
      if (line.empty() || line.back() != '\n') line += '\n';
      store();
    }
  }
  if (APR_STATUS_IS_EOF(rv) && !line.empty()) store();
  apr_pool_destroy(scratch);
  return APR_STATUS_IS_EOF(rv) ? APR_SUCCESS : rv;
}

const char* get_property(apr_hash_t* props, const char* name, const char* default_value) {
  auto* value = static_cast<const char*>(apr_hash_get(props, name, APR_HASH_KEY_STRING));
  return value != nullptr ? value : default_value;
}

int get_boolean_property(apr_hash_t* props, const char* name, int default_value) {
  const char* value = get_property(props, name, nullptr);
  if (value == nullptr) return default_value;
  return (strcasecmp(value, "true") == 0 || std::strcmp(value, "on") == 0 ||
          std::strcmp(value, "1") == 0)
             ? 1
             : 0;
}

int get_int_property(apr_hash_t* props, const char* name, int default_value) {
  const char* value = get_property(props, name, nullptr);
  return value != nullptr ? std::atoi(value) : default_value;
}
