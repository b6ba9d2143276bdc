// SipHash-2-4 with a 128-bit result: a keyed digest that stands in for a secret
// where only equality matters (counting reuse of one password). With a random
// key per use the digest says nothing about the secret outside the process.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>

namespace crypto {

using digest_key_t = std::array<std::uint64_t, 2>;  // k0, k1: the 16 key bytes, little-endian

struct digest128_t {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  auto operator<=>(const digest128_t&) const = default;
};

digest128_t siphash128(const digest_key_t& key, const void* data, std::size_t size) noexcept;
// The 64-bit variant, for its published test vectors.
std::uint64_t siphash64(const digest_key_t& key, const void* data, std::size_t size) noexcept;

}  // namespace crypto
