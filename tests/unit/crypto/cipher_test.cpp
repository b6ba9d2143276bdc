// The obfuscation cipher against fixed vectors worked out with a separate model
// of the algorithm.
#include <gtest/gtest.h>

#include <cstdint>
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

TEST(ObfuscationCipher, EveryLengthUpTo100IsAPrefixOfALongVector) {
  // Worked out with the same separate model: 100 bytes 1, 8, 15, ... under a key
  // of small words.
  const cipher_key_t key{200, 17, 99, 3};
  const bytes_t iv = from_hex("0123456789abcdef");
  const bytes_t vector = from_hex(
      "f934f562e4c5f2fb79a0b97c6a3cb8ec16876dfabbd76cdb82f280ff4205cdb2ed2b3a55559cac8f86e23384b7"
      "267ef4604ff19e9849196afcc9cfb9db26f4a8a62720a3cfcaeafe2c9469e72021f5f9a6e69d410f5596936e8a"
      "85145b4609a4ae325f00");
  for (std::size_t length = 0; length <= 100; ++length) {
    SCOPED_TRACE(length);
    bytes_t plain(length);
    for (std::size_t i = 0; i < length; ++i)
      plain[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const bytes_t enciphered = encipher(key, iv, plain);
    EXPECT_EQ(enciphered, bytes_t(vector.begin(), vector.begin() + length));
    EXPECT_EQ(decipher(key, iv, enciphered), plain);
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
