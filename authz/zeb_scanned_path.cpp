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

namespace {

// The number of '/' bytes in [text, text + length), eight bytes at a time.
int count_slashes(const char* text, size_t length) {
  constexpr uint64_t kSlashes = 0x2F2F2F2F2F2F2F2Full;
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  int count = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text + i, sizeof word);
    const uint64_t x = word ^ kSlashes;  // zero bytes where the slashes were
    // The high bit of exactly the zero bytes, without carries between bytes.
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
    // One bit per such byte at bit 0 of the byte; the multiplication sums
    // the bytes into the top one (at most 8, so nothing overflows).
    count += static_cast<int>(((zero >> 7) * 0x0101010101010101ull) >> 56);
  }
  for (; i < length; ++i) count += text[i] == '/';
  return count;
}

}  // namespace

int scanned_path_t::count_depth(const char* text, size_t length) {
  // A '/' at the very end is followed by nothing and does not count.
  return count_slashes(text, length) - (length > 0 && text[length - 1] == '/' ? 1 : 0);
}

}  // namespace zeb
