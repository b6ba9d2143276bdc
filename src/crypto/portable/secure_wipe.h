// Overwrites memory that held a secret, in a way the optimiser may not drop.
#pragma once

#include <cstddef>

namespace crypto {

void secure_wipe(void* data, std::size_t size) noexcept;

}  // namespace crypto
