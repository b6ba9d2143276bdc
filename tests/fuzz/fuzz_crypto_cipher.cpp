// The obfuscation cipher on arbitrary keys, initial vectors and data: deciphering
// undoes enciphering, in place and out of place alike.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/portable/obfuscation_cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 24)
    return 0;
  crypto::cipher_key_t key;
  for (int i = 0; i < 4; ++i)
    key[i] = static_cast<std::uint32_t>(data[4 * i]) | data[4 * i + 1] << 8 |
             data[4 * i + 2] << 16 | static_cast<std::uint32_t>(data[4 * i + 3]) << 24;
  crypto::cipher_block_t iv;
  std::memcpy(iv.data(), data + 16, 8);
  const std::uint8_t* plain = data + 24;
  const std::size_t length = size - 24;

  std::vector<std::uint8_t> enciphered(length), in_place(plain, plain + length), deciphered(length);
  crypto::cfb64_encipher(key, iv, plain, enciphered.data(), length);
  crypto::cfb64_encipher(key, iv, in_place.data(), in_place.data(), length);
  if (in_place != enciphered)
    std::abort();
  crypto::cfb64_decipher(key, iv, enciphered.data(), deciphered.data(), length);
  crypto::cfb64_decipher(key, iv, in_place.data(), in_place.data(), length);
  if (in_place != deciphered || (length != 0 && std::memcmp(deciphered.data(), plain, length) != 0))
    std::abort();
  return 0;
}
