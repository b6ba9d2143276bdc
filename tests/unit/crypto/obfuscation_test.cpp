// Obfuscation of secrets through the real CryptoAPI and data protection: round
// trips, the envelope's layout and key, malformed envelopes. (The provider
// check, once per process, is the process tests'.)
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/crypt_blob.h"
#include "crypto/obfuscated_text.h"
#include "crypto/portable/obfuscation_cipher.h"
#include "tests/support/traced_test_main.h"

namespace crypto {
namespace {

using bytes_t = std::vector<std::uint8_t>;

bytes_t random_bytes(std::size_t size, std::mt19937& random) {
  bytes_t data(size);
  for (auto& b : data)
    b = static_cast<std::uint8_t>(random());
  return data;
}

template <typename Blob>
bytes_t bytes_of(const Blob& blob) {
  return bytes_t(blob.Data(), blob.Data() + blob.Size());
}

// DER written by hand: tag, definite length, content.
bytes_t der(std::uint8_t tag, const bytes_t& content) {
  bytes_t out{tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
bytes_t cat(const bytes_t& a, const bytes_t& b) {
  bytes_t out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}
const bytes_t kMagic = {'C', 'V', 'O', 'A'};
bytes_t octets(const bytes_t& b) {
  return der(0x04, b);
}
bytes_t sequence(const bytes_t& elements) {
  return der(0x30, elements);
}
bytes_t envelope_of(const bytes_t& format, const bytes_t& iv, const bytes_t& enciphered) {
  return cat(kMagic, sequence(cat(format, octets(sequence(cat(octets(iv), octets(enciphered)))))));
}
const bytes_t kFormat4 = {0x02, 0x01, 0x04};

// The key, worked out here from its definition: MD5 over the DER time of this
// process's creation and the master key identifier of a protected byte.
cipher_key_t expected_key() {
  HCRYPTPROV provider = 0;
  EXPECT_TRUE(
      ::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  EXPECT_TRUE(::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash));
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  BYTE time[64];
  DWORD time_size = sizeof time;
  EXPECT_TRUE(
      ::CryptEncodeObject(X509_ASN_ENCODING, X509_CHOICE_OF_TIME, &created, time, &time_size));
  ::CryptHashData(hash, time, time_size, 0);
  BYTE one = 1;
  DATA_BLOB in{1, &one}, out{};
  EXPECT_TRUE(::CryptProtectData(&in, L"", nullptr, nullptr, nullptr, 5, &out));
  EXPECT_GE(out.cbData, 40u);
  ::CryptHashData(hash, out.pbData + 24, 16, 0);
  ::LocalFree(out.pbData);
  BYTE digest[16];
  DWORD digest_size = sizeof digest;
  ::CryptGetHashParam(hash, HP_HASHVAL, digest, &digest_size, 0);
  ::CryptDestroyHash(hash);
  ::CryptReleaseContext(provider, 0);
  return {digest[0], digest[1], digest[2], digest[3]};
}

bool traced_bad_data(const std::vector<std::string>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("CCryptBlob::Deobfuscate bad data") != std::string::npos;
  });
}

TEST(Obfuscation, WideSecretsRoundTripAsZeroTerminatedText) {
  for (const std::wstring& secret :
       {std::wstring(), std::wstring(L"p"), std::wstring(L"p\x00E4sswort \x20AC \xD834\xDD1E"),
        std::wstring(L"with\0zero", 9), std::wstring(300, L'x')}) {
    std::wstring text, again;
    ASSERT_EQ(ObfuscateToText(secret, text), S_OK);
    ASSERT_EQ(ObfuscateToText(secret, again), S_OK);
    EXPECT_NE(text, again) << "each obfuscation has its own IV";
    _auto_heap_mem<wchar_t> plain;
    ASSERT_EQ(DeobfuscateFromText(text, plain), S_OK);
    ASSERT_EQ(plain.size(), secret.size() + 1);
    EXPECT_EQ(std::wstring(plain.get(), secret.size()), secret);
    EXPECT_EQ(plain[secret.size()], L'\0');
  }
  // Three bytes are no whole number of code units.
  std::wstring text;
  ASSERT_EQ(ObfuscateToText(reinterpret_cast<const BYTE*>("abc"), 3, text), S_OK);
  _auto_heap_mem<wchar_t> plain;
  EXPECT_EQ(DeobfuscateFromText(text, plain), NTE_BAD_DATA);
  EXPECT_TRUE(plain.empty());
}

TEST(Obfuscation, EnvelopeLayoutAndKey) {
  // Minimal DER around the IV and the enciphered bytes, in short and long form.
  for (std::size_t length : {200u, 300u, 60000u}) {
    CHeapCryptBlob envelope;
    const bytes_t secret(length, 0x5A);
    ASSERT_EQ(envelope.Obfuscate(secret.data(), static_cast<DWORD>(length)), S_OK);
    const bytes_t bytes = bytes_of(envelope);
    const std::size_t header = octets(secret).size() - length;
    ASSERT_GT(bytes.size(), length + header + 8);
    const bytes_t enciphered(bytes.end() - static_cast<std::ptrdiff_t>(length), bytes.end());
    const auto iv_end = bytes.end() - static_cast<std::ptrdiff_t>(length + header);
    EXPECT_EQ(bytes, envelope_of(kFormat4, bytes_t(iv_end - 8, iv_end), enciphered)) << length;
  }
  const bytes_t plain = {'s', 'e', 'c', 'r', 'e', 't', '!', '1', '2', '3', '4'};
  CHeapCryptBlob envelope;
  ASSERT_EQ(envelope.Obfuscate(plain.data(), static_cast<DWORD>(plain.size())), S_OK);
  const bytes_t bytes = bytes_of(envelope);
  // Magic, format 4, an 8-byte IV at 15 and the enciphered bytes at 25.
  ASSERT_EQ(bytes.size(), 25 + plain.size());
  const bytes_t iv(bytes.begin() + 15, bytes.begin() + 23);
  const bytes_t enciphered(bytes.begin() + 25, bytes.end());
  EXPECT_EQ(bytes, envelope_of(kFormat4, iv, enciphered));

  // The process's key, derived independently, deciphers the bytes.
  const cipher_key_t key = expected_key();
  EXPECT_EQ(obfuscation_key_t().key(), key);
  bytes_t deciphered(enciphered.size());
  cipher_block_t state;
  std::copy(iv.begin(), iv.end(), state.begin());
  cfb64_decipher(key, state, enciphered.data(), deciphered.data(), enciphered.size());
  EXPECT_EQ(deciphered, plain);

  // Envelopes written here with that key are read, long-form lengths and a
  // format with a leading zero byte included.
  std::mt19937 random(3);
  for (std::size_t length : {0u, 8u, 200u, 300u}) {
    const bytes_t secret = random_bytes(length, random);
    const bytes_t own_iv = random_bytes(8, random);
    std::copy(own_iv.begin(), own_iv.end(), state.begin());
    bytes_t own(length);
    cfb64_encipher(key, state, secret.data(), own.data(), length);
    const bytes_t written =
        envelope_of(length == 8 ? bytes_t{0x02, 0x02, 0x00, 0x04} : kFormat4, own_iv, own);
    CHeapCryptBlob back;
    ASSERT_EQ(back.Deobfuscate(written.data(), static_cast<DWORD>(written.size())), S_OK);
    EXPECT_EQ(bytes_of(back), secret) << length;
  }
}

TEST(Obfuscation, MalformedEnvelopesAreBadData) {
  const bytes_t iv(8, 0x11), data = {1, 2, 3};
  const bytes_t good = envelope_of(kFormat4, iv, data);
  const bytes_t good_body = cat(kFormat4, octets(sequence(cat(octets(iv), octets(data)))));
  struct case_t {
    const char* name;
    bytes_t envelope;
  };
  std::vector<case_t> cases = {
      {"empty", {}},
      {"short magic", {'C', 'V', 'O'}},
      {"magic only", kMagic},
      {"other magic", cat({'C', 'V', 'O', 'B'}, bytes_t(good.begin() + 4, good.end()))},
      {"no sequence", cat(kMagic, octets(good_body))},
      {"format 3", envelope_of({0x02, 0x01, 0x03}, iv, data)},
      {"format 5", envelope_of({0x02, 0x01, 0x05}, iv, data)},
      {"format 260", envelope_of({0x02, 0x02, 0x01, 0x04}, iv, data)},
      {"format as octets", envelope_of(octets({4}), iv, data)},
      {"one element", cat(kMagic, sequence(kFormat4))},
      {"three elements", cat(kMagic, sequence(cat(good_body, octets(data))))},
      {"body not octets",
       cat(kMagic, sequence(cat(kFormat4, sequence(cat(octets(iv), octets(data))))))},
      {"body not a sequence", cat(kMagic, sequence(cat(kFormat4, octets(octets(iv)))))},
      {"inner one element", cat(kMagic, sequence(cat(kFormat4, octets(sequence(octets(iv))))))},
      {"inner three elements",
       cat(kMagic, sequence(cat(kFormat4, octets(sequence(cat(cat(octets(iv), octets(data)),
                                                              octets(data)))))))},
      {"iv of 7 bytes", envelope_of(kFormat4, bytes_t(7, 1), data)},
      {"iv of 9 bytes", envelope_of(kFormat4, bytes_t(9, 1), data)},
      {"data not octets",
       cat(kMagic, sequence(cat(kFormat4, octets(sequence(cat(octets(iv), kFormat4))))))},
      {"trailing byte", cat(good, {0x00})},
  };
  // Every truncation of a good envelope (the framing of other DER is the
  // framing check's own test).
  for (std::size_t n = 0; n < good.size(); ++n)
    cases.push_back({"truncated", bytes_t(good.begin(), good.begin() + n)});

  testsupport::new_trace_lines();
  const bytes_t before = {9, 9, 9};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << testing::PrintToString(c.envelope));
    CHeapCryptBlob plain;
    plain.Assign(before.data(), static_cast<DWORD>(before.size()));
    EXPECT_EQ(plain.Deobfuscate(c.envelope.data(), static_cast<DWORD>(c.envelope.size())),
              NTE_BAD_DATA);
    EXPECT_EQ(bytes_of(plain), before);
    EXPECT_TRUE(traced_bad_data(testsupport::new_trace_lines()));
  }
}

TEST(Obfuscation, TextThatIsNoEnvelopeFails) {
  CHeapCryptBlob plain;
  EXPECT_EQ(DeobfuscateFromText(L"YW*j", plain), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_EQ(DeobfuscateFromText(L"YWJj", plain), NTE_BAD_DATA);  // "abc"
  EXPECT_EQ(DeobfuscateFromText(L"", plain), NTE_BAD_DATA);
  EXPECT_EQ(plain.Size(), 0u);
}

}  // namespace
}  // namespace crypto
