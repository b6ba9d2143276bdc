#include "crypto/envelope.h"

#include <cstring>

#include "crypto/der_codec.h"
#include "crypto/portable/der_check.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace crypto {
namespace {

constexpr DWORD kProtectFlags = CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE;
// Where the identifier of the protecting master key sits in a protected blob.
constexpr DWORD kMasterKeyIdOffset = 24;
constexpr DWORD kMasterKeyIdSize = 16;

DWORD checked_size(std::size_t size) {
  if (size > MAXDWORD)
    THROW_HR(E_OUTOFMEMORY);
  return static_cast<DWORD>(size);
}

_auto_heap_mem<unsigned char> encode_object(LPCSTR type, const void* value) {
  _auto_heap_mem<unsigned char> der;
  const DWORD size = der_encode(type, value, [&](DWORD needed) {
    der.allocate(needed);
    return der.get();
  });
  THROW_LAST_ERROR_IF(size == 0);
  der.shrink(size);
  return der;
}

_auto_heap_mem<unsigned char> encode_octets(const unsigned char* data, std::size_t size) {
  CRYPT_DATA_BLOB blob{checked_size(size), const_cast<BYTE*>(data)};
  return encode_object(X509_OCTET_STRING, &blob);
}

_auto_heap_mem<unsigned char> encode_pair(const _auto_heap_mem<unsigned char>& first,
                                          const _auto_heap_mem<unsigned char>& second) {
  CRYPT_DER_BLOB elements[2] = {{checked_size(first.size()), const_cast<BYTE*>(first.get())},
                                {checked_size(second.size()), const_cast<BYTE*>(second.get())}};
  CRYPT_SEQUENCE_OF_ANY sequence{2, elements};
  return encode_object(X509_SEQUENCE_OF_ANY, &sequence);
}

[[noreturn]] void bad_data() {
  tracecore::trace_text("bad data");
  THROW_HR(NTE_BAD_DATA);
}

// The structure CryptDecodeObject makes of der, in a heap block suitably aligned
// for it; any decoding failure is bad data.
template <typename Structure>
const Structure& decode_object(LPCSTR type,
                               const BYTE* der,
                               DWORD size,
                               _auto_heap_mem<unsigned char>& storage) {
  const DWORD decoded = der_decode(type, der, size, [&](DWORD needed) {
    storage.allocate(needed);
    return storage.get();
  });
  if (decoded < sizeof(Structure))
    bad_data();
  return *reinterpret_cast<const Structure*>(storage.get());
}

const CRYPT_SEQUENCE_OF_ANY& decode_pair(const BYTE* der,
                                         DWORD size,
                                         _auto_heap_mem<unsigned char>& storage) {
  const auto& sequence =
      decode_object<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, der, size, storage);
  if (sequence.cValue != 2 || sequence.rgValue == nullptr)
    bad_data();
  return sequence;
}

const CRYPT_DATA_BLOB& decode_octets(const CRYPT_DER_BLOB& der,
                                     _auto_heap_mem<unsigned char>& storage) {
  return decode_object<CRYPT_DATA_BLOB>(X509_OCTET_STRING, der.pbData, der.cbData, storage);
}

// True when der is the unsigned integer `expected` (little-endian bytes, any
// number of them).
bool is_unsigned(const CRYPT_DER_BLOB& der, unsigned expected) {
  _auto_heap_mem<unsigned char> storage;
  const auto& value =
      decode_object<CRYPT_UINT_BLOB>(X509_MULTI_BYTE_UINT, der.pbData, der.cbData, storage);
  unsigned long long number = 0;
  for (DWORD i = 0; i < value.cbData; ++i) {
    if (i >= 4) {
      if (value.pbData[i] != 0)
        return false;
      continue;
    }
    number |= static_cast<unsigned long long>(value.pbData[i]) << (8 * i);
  }
  return number == expected;
}

}  // namespace

obfuscation_key_t::obfuscation_key_t() {
  m_context.Acquire();
  THROW_LAST_ERROR_IF(!::CryptCreateHash(m_context.Get(), CALG_MD5, 0, 0, m_hash.put()));

  FILETIME created{}, exited{}, kernel{}, user{};
  THROW_LAST_ERROR_IF(!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user));
  const auto time = encode_object(X509_CHOICE_OF_TIME, &created);
  THROW_LAST_ERROR_IF(!::CryptHashData(m_hash.get(), time.get(), checked_size(time.size()), 0));

  BYTE one = 1;
  DATA_BLOB input{1, &one};
  DATA_BLOB output{};
  THROW_LAST_ERROR_IF(
      !::CryptProtectData(&input, L"", nullptr, nullptr, nullptr, kProtectFlags, &output));
  const support::unique_local protected_blob(output.pbData);
  if (output.cbData < kMasterKeyIdOffset + kMasterKeyIdSize)
    THROW_HR(E_FAIL);
  THROW_LAST_ERROR_IF(
      !::CryptHashData(m_hash.get(), output.pbData + kMasterKeyIdOffset, kMasterKeyIdSize, 0));

  BYTE digest[16] = {};
  const support::scope_exit wipe_digest([&] { secure_wipe(digest, sizeof digest); });
  DWORD digest_size = sizeof digest;
  THROW_LAST_ERROR_IF(!::CryptGetHashParam(m_hash.get(), HP_HASHVAL, digest, &digest_size, 0));
  if (digest_size != sizeof digest)
    THROW_HR(E_FAIL);
  for (std::size_t i = 0; i < m_key.size(); ++i)
    m_key[i] = digest[i];
}

obfuscation_key_t::~obfuscation_key_t() {
  secure_wipe(m_key.data(), sizeof m_key);
}

void obfuscate_bytes(const unsigned char* plain,
                     std::size_t size,
                     _auto_heap_mem<unsigned char>& envelope) {
  const obfuscation_key_t key;
  obfuscate_bytes(key, plain, size, envelope);
}

void obfuscate_bytes(const obfuscation_key_t& key,
                     const unsigned char* plain,
                     std::size_t size,
                     _auto_heap_mem<unsigned char>& envelope) {
  cipher_block_t iv{};
  THROW_LAST_ERROR_IF(!::CryptGenRandom(key.provider(), static_cast<DWORD>(iv.size()), iv.data()));

  _auto_heap_mem<unsigned char> enciphered(size);
  cfb64_encipher(key.key(), iv, plain, enciphered.get(), size);

  const auto inner = encode_pair(encode_octets(iv.data(), iv.size()),
                                 encode_octets(enciphered.get(), enciphered.size()));
  BYTE format_bytes[4] = {kEnvelopeFormat, 0, 0, 0};
  CRYPT_UINT_BLOB format{sizeof format_bytes, format_bytes};
  const auto outer = encode_pair(encode_object(X509_MULTI_BYTE_UINT, &format),
                                 encode_octets(inner.get(), inner.size()));

  _auto_heap_mem<unsigned char> result(sizeof kEnvelopeMagic + outer.size());
  std::memcpy(result.get(), kEnvelopeMagic, sizeof kEnvelopeMagic);
  std::memcpy(result.get() + sizeof kEnvelopeMagic, outer.get(), outer.size());
  envelope = std::move(result);
}

void deobfuscate_bytes(const unsigned char* envelope,
                       std::size_t size,
                       _auto_heap_mem<unsigned char>& plain) {
  const obfuscation_key_t key;
  deobfuscate_bytes(key, envelope, size, plain);
}

void deobfuscate_bytes(const obfuscation_key_t& key,
                       const unsigned char* envelope,
                       std::size_t size,
                       _auto_heap_mem<unsigned char>& plain) {
  if (size < sizeof kEnvelopeMagic ||
      std::memcmp(envelope, kEnvelopeMagic, sizeof kEnvelopeMagic) != 0 || size > MAXDWORD)
    bad_data();

  // The DER must fill the envelope exactly; checked before any decoder reads it.
  const unsigned char* der = envelope + sizeof kEnvelopeMagic;
  const DWORD der_size = static_cast<DWORD>(size - sizeof kEnvelopeMagic);
  if (!is_single_der_element(der, der_size))
    bad_data();
  _auto_heap_mem<unsigned char> outer_storage;
  const auto& outer = decode_pair(der, der_size, outer_storage);
  if (!is_unsigned(outer.rgValue[0], kEnvelopeFormat))
    bad_data();
  _auto_heap_mem<unsigned char> body_storage;
  const auto& body = decode_octets(outer.rgValue[1], body_storage);
  if (!is_single_der_element(body.pbData, body.cbData))
    bad_data();
  _auto_heap_mem<unsigned char> inner_storage;
  const auto& inner = decode_pair(body.pbData, body.cbData, inner_storage);
  _auto_heap_mem<unsigned char> iv_storage;
  const auto& iv_octets = decode_octets(inner.rgValue[0], iv_storage);
  cipher_block_t iv{};
  if (iv_octets.cbData != iv.size())
    bad_data();
  std::memcpy(iv.data(), iv_octets.pbData, iv.size());
  _auto_heap_mem<unsigned char> enciphered_storage;
  const auto& enciphered = decode_octets(inner.rgValue[1], enciphered_storage);

  _auto_heap_mem<unsigned char> result(enciphered.cbData);
  cfb64_decipher(key.key(), iv, enciphered.pbData, result.get(), enciphered.cbData);
  plain = std::move(result);
}

}  // namespace crypto
