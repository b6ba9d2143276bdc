#include "crypto/portable/keyed_digest.h"

namespace crypto {
namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept {
  return x << b | x >> (64 - b);
}

struct sip_state_t {
  std::uint64_t v0, v1, v2, v3;

  void round() noexcept {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
  void compress(std::uint64_t m) noexcept {
    v3 ^= m;
    round();
    round();
    v0 ^= m;
  }
  std::uint64_t finish_word() noexcept {
    for (int i = 0; i < 4; ++i)
      round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

sip_state_t absorb(const digest_key_t& key,
                   const void* data,
                   std::size_t size,
                   bool wide) noexcept {
  sip_state_t s{key[0] ^ 0x736f6d6570736575ull, key[1] ^ 0x646f72616e646f6dull,
                key[0] ^ 0x6c7967656e657261ull, key[1] ^ 0x7465646279746573ull};
  if (wide)
    s.v1 ^= 0xee;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const std::size_t whole = size - size % 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m = 0;
    for (int j = 7; j >= 0; --j)
      m = m << 8 | bytes[i + static_cast<std::size_t>(j)];
    s.compress(m);
  }
  std::uint64_t last = static_cast<std::uint64_t>(size & 0xFF) << 56;
  for (std::size_t j = 0; j < size % 8; ++j)
    last |= static_cast<std::uint64_t>(bytes[whole + j]) << (8 * j);
  s.compress(last);
  s.v2 ^= wide ? 0xee : 0xff;
  return s;
}

}  // namespace

digest128_t siphash128(const digest_key_t& key, const void* data, std::size_t size) noexcept {
  sip_state_t s = absorb(key, data, size, true);
  digest128_t digest;
  digest.low = s.finish_word();
  s.v1 ^= 0xdd;
  digest.high = s.finish_word();
  return digest;
}

std::uint64_t siphash64(const digest_key_t& key, const void* data, std::size_t size) noexcept {
  sip_state_t s = absorb(key, data, size, false);
  return s.finish_word();
}

}  // namespace crypto
