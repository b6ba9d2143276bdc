// The cipher behind the obfuscated form of secrets: an XTEA variant run in 64-bit
// cipher-feedback mode. Platform-free.
//
// Round function (32 rounds, sum from 0, delta 0x9E3779B9, all arithmetic mod 2^32):
//   y += (((z >> 5) ^ (z << 4)) + z) ^ (sum + K[sum & 3]);  sum += delta;
//   z += (((y >> 5) ^ (y << 4)) + y) ^ (sum + K[(sum >> 11) & 3]);
// y and z are signed, so their right shifts copy the sign bit; sum is unsigned.
// The key words are the first four bytes of a digest, each 0 to 255.
//
// Keystream: the state (8 bytes: y then z, little-endian) starts as the initial
// vector; each group of up to 8 bytes is XORed with the enciphered state, and the
// next state is the 8 enciphered bytes of that group.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crypto {

using cipher_key_t = std::array<std::uint32_t, 4>;
using cipher_block_t = std::array<std::uint8_t, 8>;

// The 32 rounds on one state; returns the enciphered state.
cipher_block_t xtea_encipher_block(const cipher_block_t& state, const cipher_key_t& key) noexcept;

// Enciphers size bytes from in to out (which may be the same buffer).
void cfb64_encipher(const cipher_key_t& key,
                    const cipher_block_t& iv,
                    const std::uint8_t* in,
                    std::uint8_t* out,
                    std::size_t size) noexcept;

// Deciphers size bytes from in to out (which may be the same buffer).
void cfb64_decipher(const cipher_key_t& key,
                    const cipher_block_t& iv,
                    const std::uint8_t* in,
                    std::uint8_t* out,
                    std::size_t size) noexcept;

}  // namespace crypto
