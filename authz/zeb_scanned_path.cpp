#include "zeb_scanned_path.h"

#include <cstring>

namespace zeb {

uint64_t pair_signature(const char* text, size_t length) {
  uint64_t signature = 0;
  for (size_t i = 1; i < length; ++i) {
    signature |=
        pair_bit(static_cast<unsigned char>(text[i - 1]), static_cast<unsigned char>(text[i]));
  }
  return signature;
}

scanned_path_t::scanned_path_t(const char* path) : text(path) {
  auto add_boundary = [this](size_t at) {
    if (boundary_count < kMaxBoundaries) {
      boundaries[boundary_count++] = at;
    } else {
      boundaries_complete = false;
    }
  };
  length = std::strlen(path);
  int slashes = path[0] == '/' ? 1 : 0;
  const char* end = path + length;
  for (const char* at = path + 1; at < end; ++at) {
    at = static_cast<const char*>(std::memchr(at, '/', end - at));
    if (at == nullptr) break;
    ++slashes;
    add_boundary(at - path);
  }
  add_boundary(length);
  // A '/' at the very end is followed by nothing and does not count.
  depth = slashes - (path[length - 1] == '/' ? 1 : 0);
}

}  // namespace zeb
