// The DER framing check on arbitrary bytes: it never reads outside them, and what
// it accepts really is one element covering every byte.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/portable/der_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact copy, so a read past the end shows up under AddressSanitizer.
  const std::vector<std::uint8_t> copy(data, data + size);
  const bool single = crypto::is_single_der_element(copy.data(), copy.size());
  if (single && size > 0) {
    // Dropping the last byte or adding one must break the framing.
    if (crypto::is_single_der_element(copy.data(), copy.size() - 1))
      std::abort();
    std::vector<std::uint8_t> longer = copy;
    longer.push_back(0);
    if (crypto::is_single_der_element(longer.data(), longer.size()))
      std::abort();
  }
  return 0;
}
