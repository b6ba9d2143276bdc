// The DER framing check and the envelope reader on arbitrary bytes: neither
// reads outside them; what the check accepts really is one element covering
// every byte; an envelope read is written again with the same parts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/portable/der_check.h"
#include "crypto/portable/envelope_der.h"

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

  // The same bytes as the DER of an envelope.
  std::vector<std::uint8_t> envelope(std::begin(crypto::kEnvelopeMagic),
                                     std::end(crypto::kEnvelopeMagic));
  envelope.insert(envelope.end(), data, data + size);
  const auto view = crypto::read_envelope(envelope.data(), envelope.size());
  if (!view)
    return 0;
  if (!single)
    std::abort();
  crypto::cipher_block_t iv;
  std::memcpy(iv.data(), view->iv, iv.size());
  std::vector<std::uint8_t> again(crypto::envelope_size(view->size));
  std::uint8_t* enciphered = crypto::write_envelope(iv, view->size, again.data());
  if (enciphered + view->size != again.data() + again.size() || again.size() > envelope.size())
    std::abort();
  std::memcpy(enciphered, view->enciphered, view->size);
  const auto back = crypto::read_envelope(again.data(), again.size());
  if (!back || back->size != view->size || std::memcmp(back->iv, iv.data(), iv.size()) != 0 ||
      std::memcmp(back->enciphered, view->enciphered, view->size) != 0)
    std::abort();
  return 0;
}
