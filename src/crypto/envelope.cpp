#include "crypto/envelope.h"

#include <cstring>

#include "crypto/der_codec.h"
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

[[noreturn]] void bad_data() {
  tracecore::trace_text("bad data");
  THROW_HR(NTE_BAD_DATA);
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
  secure_wipe(m_ivs.data(), sizeof m_ivs);
}

void obfuscation_key_t::random_iv(cipher_block_t& iv) const {
  if (m_ivsUsed + iv.size() > m_ivs.size()) {
    THROW_LAST_ERROR_IF(
        !::CryptGenRandom(m_context.Get(), static_cast<DWORD>(m_ivs.size()), m_ivs.data()));
    m_ivsUsed = 0;
  }
  std::memcpy(iv.data(), m_ivs.data() + m_ivsUsed, iv.size());
  secure_wipe(m_ivs.data() + m_ivsUsed, iv.size());  // each vector is handed out once
  m_ivsUsed += iv.size();
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
  checked_size(size);
  cipher_block_t iv{};
  key.random_iv(iv);
  _auto_heap_mem<unsigned char> result(envelope_size(size));
  cfb64_encipher(key.key(), iv, plain, write_envelope(iv, size, result.get()), size);
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
  const auto view = read_envelope(envelope, size);
  if (!view)
    bad_data();
  cipher_block_t iv{};
  std::memcpy(iv.data(), view->iv, iv.size());
  _auto_heap_mem<unsigned char> result(view->size);
  cfb64_decipher(key.key(), iv, view->enciphered, result.get(), view->size);
  plain = std::move(result);
}

}  // namespace crypto
