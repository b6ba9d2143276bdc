// The obfuscation key and the throwing forms behind CCryptBlob::Obfuscate and
// CCryptBlob::Deobfuscate (crypt_blob.h); the envelope's layout is in
// portable/envelope_der.h.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstddef>

#include "crypto/crypt_context.h"
#include "crypto/crypt_memory.h"
#include "crypto/portable/envelope_der.h"
#include "crypto/portable/obfuscation_cipher.h"
#include "support/unique_any.h"

namespace crypto {

using unique_hash =
    support::unique_any<HCRYPTHASH, decltype(&::CryptDestroyHash), ::CryptDestroyHash>;

// The key only this process on this machine derives: the MD5 digest of the DER
// form of the process's creation time and of the data-protection master key
// identifier, of which the first four bytes are the key words. Holds the
// context and the hash until it is destroyed; wipes the key then.
class obfuscation_key_t {
 public:
  obfuscation_key_t();  // throws the failing step's HRESULT
  ~obfuscation_key_t();
  obfuscation_key_t(const obfuscation_key_t&) = delete;
  obfuscation_key_t& operator=(const obfuscation_key_t&) = delete;

  const cipher_key_t& key() const noexcept { return m_key; }
  HCRYPTPROV provider() const noexcept { return m_context.Get(); }

  // A fresh random initial vector, taken from random bytes fetched from the
  // provider in batches (one call per batch rather than per envelope). Not
  // for use by two threads at once.
  void random_iv(cipher_block_t& iv) const;

 private:
  CCryptContext m_context;
  unique_hash m_hash;
  cipher_key_t m_key{};
  mutable std::array<BYTE, 64 * sizeof(cipher_block_t)> m_ivs{};
  mutable std::size_t m_ivsUsed = sizeof m_ivs;
};

// Plain bytes to a new envelope (fresh key, random initial vector).
void obfuscate_bytes(const unsigned char* plain,
                     std::size_t size,
                     _auto_heap_mem<unsigned char>& envelope);
// The same with a key the caller derived once for many envelopes: the key is
// the process's, so these envelopes and the others are interchangeable.
void obfuscate_bytes(const obfuscation_key_t& key,
                     const unsigned char* plain,
                     std::size_t size,
                     _auto_heap_mem<unsigned char>& envelope);

// An envelope back to its plain bytes. A malformed envelope traces "bad data" and
// throws NTE_BAD_DATA. `plain` is left alone on failure.
void deobfuscate_bytes(const unsigned char* envelope,
                       std::size_t size,
                       _auto_heap_mem<unsigned char>& plain);
void deobfuscate_bytes(const obfuscation_key_t& key,
                       const unsigned char* envelope,
                       std::size_t size,
                       _auto_heap_mem<unsigned char>& plain);

}  // namespace crypto
