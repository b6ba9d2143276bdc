// Overwrites memory that held a secret before it is freed.
#pragma once

#include <cstddef>

namespace support {

// The stores go through a volatile pointer, so they count as observable
// behaviour and survive even when the memory is freed right afterwards.
inline void secure_wipe(void* data, std::size_t size) noexcept {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size-- > 0)
    *p++ = 0;
}

}  // namespace support
