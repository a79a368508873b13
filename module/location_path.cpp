#include "location_path.h"

#include <cstring>

bool lies_within(const char* path, const char* base) {
  if (path == nullptr || base == nullptr) return false;
  std::size_t n = std::strlen(base);
  while (n > 1 && base[n - 1] == '/') --n;
  if (std::strncmp(path, base, n) != 0) return false;
  return (n == 1 && base[0] == '/') || path[n] == '\0' || path[n] == '/';
}
