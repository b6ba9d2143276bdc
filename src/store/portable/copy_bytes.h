// Copying of the short byte runs that make up most of an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace serialization {

// Copies a few bytes without a library call: names and most payloads are
// short, and a call per entry would cost more than the copy. Longer runs go to
// memcpy. (Fixed-size copies compile to plain loads and stores; each pair
// below overlaps in the middle rather than looping.)
inline void copy_bytes(std::uint8_t* out, const std::uint8_t* in, std::size_t n) noexcept {
  if (n > 32) {
    std::memcpy(out, in, n);
  } else if (n >= 16) {
    std::memcpy(out, in, 16);
    std::memcpy(out + n - 16, in + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(out, in, 8);
    std::memcpy(out + n - 8, in + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(out, in, 4);
    std::memcpy(out + n - 4, in + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(out, in, 2);
    std::memcpy(out + n - 2, in + n - 2, 2);
  } else if (n == 1) {
    *out = *in;
  }
}

}  // namespace serialization
