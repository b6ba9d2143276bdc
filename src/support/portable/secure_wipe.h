// Overwrites memory that held a secret before it is freed.
#pragma once

#include <cstddef>
#include <cstring>

namespace support {

namespace detail {
inline void zero_bytes(void* data, std::size_t size) noexcept {
  std::memset(data, 0, size);
}
}  // namespace detail

// The zeroing is called through a volatile pointer, which the compiler must
// read at run time, so it cannot prove the stores dead and drop them even when
// the memory is freed right afterwards; large buffers are wiped at memset speed.
inline void secure_wipe(void* data, std::size_t size) noexcept {
  static void (*const volatile zero)(void*, std::size_t) noexcept = detail::zero_bytes;
  if (data != nullptr && size != 0)
    zero(data, size);
}

}  // namespace support
