// The obfuscation cipher against fixed vectors worked out with a separate model
// of the algorithm. Both directions are checked against the same bytes, so a
// change in the feedback (which group feeds the next) shows up here as well.
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

// Enciphers (or deciphers) into a new buffer, or in place when asked.
bytes_t cfb64(bool encipher,
              const cipher_key_t& key,
              const bytes_t& iv,
              bytes_t in,
              bool in_place) {
  cipher_block_t state{};
  std::copy(iv.begin(), iv.begin() + 8, state.begin());
  bytes_t out(in.size());
  std::uint8_t* to = in_place ? in.data() : out.data();
  (encipher ? cfb64_encipher : cfb64_decipher)(key, state, in.data(), to, in.size());
  return in_place ? in : out;
}

TEST(ObfuscationCipher, FixedVectors) {
  // A zero key and state, states with the sign bits set, and partial last groups.
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
    const bytes_t iv = from_hex(v.iv), plain = from_hex(v.plain),
                  enciphered = from_hex(v.enciphered);
    EXPECT_EQ(cfb64(true, v.key, iv, plain, false), enciphered);
    EXPECT_EQ(cfb64(false, v.key, iv, enciphered, false), plain);
  }
}

TEST(ObfuscationCipher, EveryLengthUpTo100IsAPrefixOfALongVector) {
  // From the same separate model: 100 bytes 1, 8, 15, ... under a key of small words.
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
    const bytes_t enciphered(vector.begin(), vector.begin() + length);
    for (bool in_place : {false, true}) {
      EXPECT_EQ(cfb64(true, key, iv, plain, in_place), enciphered);
      EXPECT_EQ(cfb64(false, key, iv, enciphered, in_place), plain);
    }
  }
}

}  // namespace
}  // namespace crypto
