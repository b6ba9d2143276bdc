// The obfuscation cipher against fixed vectors and against a second, deliberately
// different implementation of the round function written in this file.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/portable/obfuscation_cipher.h"

namespace crypto {
namespace {

using bytes_t = std::vector<std::uint8_t>;

bytes_t from_hex(const std::string& hex) {
  bytes_t out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

cipher_block_t block_of(const bytes_t& b) {
  cipher_block_t block{};
  std::copy(b.begin(), b.begin() + 8, block.begin());
  return block;
}

// Reference: the halves as signed numbers in 64-bit arithmetic, reduced to 32
// bits after every step; the right shift as floor division, the left shift as a
// multiplication.
namespace reference {

std::int64_t wrap(std::int64_t v) {
  v &= 0xFFFFFFFFll;
  return v >= 0x80000000ll ? v - 0x100000000ll : v;
}
std::int64_t floor_div(std::int64_t v, std::int64_t d) {
  return v >= 0 ? v / d : -((-v + d - 1) / d);
}
std::int64_t mix(std::int64_t v) {
  return wrap((floor_div(v, 32) ^ wrap(v * 16)) + v);
}

void encipher(std::int64_t& y, std::int64_t& z, const std::int64_t (&k)[4]) {
  std::uint64_t sum = 0;
  for (int round = 0; round < 32; ++round) {
    y = wrap(y + (mix(z) ^ wrap(static_cast<std::int64_t>(sum) + k[sum % 4])));
    sum = (sum + 2654435769u) % 4294967296u;
    z = wrap(z + (mix(y) ^ wrap(static_cast<std::int64_t>(sum) + k[(sum / 2048) % 4])));
  }
}

std::int64_t word(const bytes_t& b, std::size_t at) {
  std::int64_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v * 256 + b[at + i];
  return wrap(v);
}

bytes_t cfb(const std::int64_t (&k)[4], const bytes_t& iv, const bytes_t& data, bool decipher) {
  bytes_t state = iv;
  bytes_t out;
  for (std::size_t at = 0; at < data.size(); at += 8) {
    std::int64_t y = word(state, 0);
    std::int64_t z = word(state, 4);
    encipher(y, z, k);
    bytes_t stream;
    for (std::int64_t half : {y, z}) {
      std::uint64_t u = static_cast<std::uint64_t>(half) & 0xFFFFFFFFu;
      for (int i = 0; i < 4; ++i, u /= 256)
        stream.push_back(static_cast<std::uint8_t>(u % 256));
    }
    bytes_t next;
    for (std::size_t i = 0; i < 8 && at + i < data.size(); ++i) {
      out.push_back(data[at + i] ^ stream[i]);
      next.push_back(decipher ? data[at + i] : out.back());
    }
    state = next;
  }
  return out;
}

}  // namespace reference

bytes_t encipher(const cipher_key_t& key, const bytes_t& iv, const bytes_t& plain) {
  bytes_t out(plain.size());
  cfb64_encipher(key, block_of(iv), plain.data(), out.data(), plain.size());
  return out;
}

bytes_t decipher(const cipher_key_t& key, const bytes_t& iv, const bytes_t& data) {
  bytes_t out(data.size());
  cfb64_decipher(key, block_of(iv), data.data(), out.data(), data.size());
  return out;
}

TEST(ObfuscationCipher, FixedVectors) {
  // Worked out with a separate model of the algorithm; they cover a zero key and
  // state, states with the sign bits set, and partial last groups.
  struct vector_t {
    cipher_key_t key;
    const char* iv;
    const char* plain;
    const char* enciphered;
  } const vectors[] = {
      {{0, 0, 0, 0}, "0000000000000000", "0000000000000000", "ae6607cd3ce4ea3d"},
      {{1, 2, 3, 4},
       "0102030405060708",
       "54686520717569636b2062726f776e20666f78",
       "93f742f77766fdf00e23a6215e1ecfa969c61c"},
      {{255, 128, 7, 0},
       "80ff7f01fe9000c3",
       "000102030405060708090a0b0c0d0e0f10",
       "ca9e4229a9fb3c8697d2347eda07166ba3"},
      {{154, 60, 225, 85},
       "ffffffffffffffff",
       "70407373773072647040737377307264704073737730726421",
       "de5ab424ac3482e54b890ea904c019c16bedfb2d1b3033a4e7"},
  };
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.plain);
    EXPECT_EQ(encipher(v.key, from_hex(v.iv), from_hex(v.plain)), from_hex(v.enciphered));
    EXPECT_EQ(decipher(v.key, from_hex(v.iv), from_hex(v.enciphered)), from_hex(v.plain));
  }
}

TEST(ObfuscationCipher, AgreesWithTheReferenceForEveryLengthUpTo100) {
  std::mt19937 random(20240601);
  for (std::size_t length = 0; length <= 100; ++length) {
    SCOPED_TRACE(length);
    cipher_key_t key;
    std::int64_t reference_key[4];
    for (int i = 0; i < 4; ++i) {
      // Key words are digest bytes; a few lengths use full 32-bit words too.
      key[i] = length % 10 == 7 ? random() : random() % 256;
      reference_key[i] = reference::wrap(key[i]);
    }
    bytes_t iv(8), plain(length);
    for (auto& b : iv)
      b = static_cast<std::uint8_t>(random());
    for (auto& b : plain)
      b = static_cast<std::uint8_t>(random());

    const bytes_t enciphered = encipher(key, iv, plain);
    EXPECT_EQ(enciphered, reference::cfb(reference_key, iv, plain, false));
    EXPECT_EQ(decipher(key, iv, enciphered), plain);
    EXPECT_EQ(reference::cfb(reference_key, iv, enciphered, true), plain);

    // In place, both ways.
    bytes_t buffer = plain;
    cfb64_encipher(key, block_of(iv), buffer.data(), buffer.data(), buffer.size());
    EXPECT_EQ(buffer, enciphered);
    cfb64_decipher(key, block_of(iv), buffer.data(), buffer.data(), buffer.size());
    EXPECT_EQ(buffer, plain);
  }
}

TEST(ObfuscationCipher, EachGroupFeedsTheNext) {
  // Cipher feedback: a changed enciphered byte spoils its own byte and the whole
  // following group when deciphering, and nothing after that.
  const cipher_key_t key{17, 34, 51, 68};
  const bytes_t iv = from_hex("0011223344556677");
  const bytes_t plain(32, 0x5A);
  bytes_t enciphered = encipher(key, iv, plain);
  enciphered[9] ^= 0x01;
  const bytes_t result = decipher(key, iv, enciphered);
  for (std::size_t i = 0; i < plain.size(); ++i) {
    SCOPED_TRACE(i);
    if (i == 9)
      EXPECT_EQ(result[i], plain[i] ^ 0x01);
    else if (i >= 16 && i < 24)
      continue;  // keystream of group 3 came from the changed group
    else
      EXPECT_EQ(result[i], plain[i]);
  }
  EXPECT_NE(bytes_t(result.begin() + 16, result.begin() + 24),
            bytes_t(plain.begin() + 16, plain.begin() + 24));
}

}  // namespace
}  // namespace crypto
