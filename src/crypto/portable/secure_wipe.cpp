#include "crypto/portable/secure_wipe.h"

namespace crypto {

void secure_wipe(void* data, std::size_t size) noexcept {
  // Stores through a volatile pointer count as observable behaviour, so they
  // survive even when the memory is freed right afterwards.
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size-- > 0)
    *p++ = 0;
}

}  // namespace crypto
