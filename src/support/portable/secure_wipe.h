// Overwrites memory that held a secret before it is freed.
#pragma once

#include <cstddef>
#include <cstring>

namespace support {

// memset is called through a volatile pointer, which the compiler must read
// at run time, so it cannot prove the call dead and drop it even when the
// memory is freed right afterwards; and large buffers are wiped at memset speed.
inline void secure_wipe(void* data, std::size_t size) noexcept {
  static void* (*const volatile wipe)(void*, int, std::size_t) = std::memset;
  if (data != nullptr && size != 0)
    wipe(data, 0, size);
}

}  // namespace support
