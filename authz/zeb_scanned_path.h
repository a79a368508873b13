// What one decision needs to know of a request path, gathered in one pass.
#ifndef ZEB_SCANNED_PATH_H
#define ZEB_SCANNED_PATH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zeb {

// A 64-bit summary of the byte pairs in a string. When a literal occurs in a
// path, each of its pairs occurs there too, so a literal whose summary has a
// bit that the path's lacks cannot occur in the path.
inline uint64_t pair_bit(unsigned char first, unsigned char second) {
  return uint64_t{1} << ((first * 31u + second) & 63u);
}
uint64_t pair_signature(const char* text, size_t length);

// A path that begins with '/'.
struct scanned_path_t {
  explicit scanned_path_t(const char* path) : text(path), length(std::strlen(path)) {}

  // The pair summary of the whole path, made on first use: decisions that
  // run no wildcard never need it.
  uint64_t signature() const {
    if (!signed_) {
      signature_ = pair_signature(text, length);
      signed_ = true;
    }
    return signature_;
  }

  // As component_count() counts, made on first use: decisions of roles
  // without wildcards never need it.
  int depth() const {
    if (depth_ < 0) depth_ = count_depth(text, length);
    return depth_;
  }

  const char* text;
  size_t length;

 private:
  static int count_depth(const char* text, size_t length);

  mutable int depth_ = -1;
  mutable uint64_t signature_ = 0;
  mutable bool signed_ = false;
};

}  // namespace zeb

#endif
