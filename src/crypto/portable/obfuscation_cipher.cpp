#include "crypto/portable/obfuscation_cipher.h"

#include "crypto/portable/secure_wipe.h"

namespace crypto {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;

// Right shift of the value read as a signed 32-bit number (sign bit copied).
constexpr std::uint32_t sar(std::uint32_t v, int bits) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> bits);
}

std::uint32_t load_le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_le(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// One pass over the data; `feed_from_output` picks which side of the XOR becomes
// the next state: the output when enciphering, the input when deciphering.
void run_cfb64(const cipher_key_t& key,
               const cipher_block_t& iv,
               const std::uint8_t* in,
               std::uint8_t* out,
               std::size_t size,
               bool feed_from_output) {
  cipher_block_t state = iv;
  for (std::size_t offset = 0; offset < size; offset += 8) {
    cipher_block_t stream = xtea_encipher_block(state, key);
    const std::size_t n = size - offset < 8 ? size - offset : 8;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t in_byte = in[offset + i];  // read first: in and out may alias
      const std::uint8_t out_byte = static_cast<std::uint8_t>(in_byte ^ stream[i]);
      out[offset + i] = out_byte;
      // Only a full group feeds a next state; a short group is the last one.
      state[i] = feed_from_output ? out_byte : in_byte;
    }
    secure_wipe(stream.data(), stream.size());
  }
  secure_wipe(state.data(), state.size());
}

}  // namespace

cipher_block_t xtea_encipher_block(const cipher_block_t& state, const cipher_key_t& key) noexcept {
  std::uint32_t y = load_le(state.data());
  std::uint32_t z = load_le(state.data() + 4);
  std::uint32_t sum = 0;
  for (int round = 0; round < 32; ++round) {
    y += ((sar(z, 5) ^ (z << 4)) + z) ^ (sum + key[sum & 3]);
    sum += kDelta;
    z += ((sar(y, 5) ^ (y << 4)) + y) ^ (sum + key[(sum >> 11) & 3]);
  }
  cipher_block_t result;
  store_le(y, result.data());
  store_le(z, result.data() + 4);
  return result;
}

void cfb64_encipher(const cipher_key_t& key,
                    const cipher_block_t& iv,
                    const std::uint8_t* in,
                    std::uint8_t* out,
                    std::size_t size) noexcept {
  run_cfb64(key, iv, in, out, size, true);
}

void cfb64_decipher(const cipher_key_t& key,
                    const cipher_block_t& iv,
                    const std::uint8_t* in,
                    std::uint8_t* out,
                    std::size_t size) noexcept {
  run_cfb64(key, iv, in, out, size, false);
}

}  // namespace crypto
