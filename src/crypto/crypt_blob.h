// A CryptoAPI blob (byte count and byte pointer) that owns its bytes, frees them
// through its allocator policy and wipes them first:
//
//   CCryptBlob<_CRYPTOAPI_BLOB, _heap_allocator> envelope;
//   HRESULT hr = envelope.Obfuscate(secret, secret_size);
//   CCryptBlob<_CRYPTOAPI_BLOB, _heap_allocator> plain;
//   hr = plain.Deobfuscate(envelope.pbData, envelope.cbData);
//
// It derives from the blob structure, so it can be handed to CryptoAPI calls
// that read a DATA_BLOB.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <utility>

#include "crypto/crypt_memory.h"
#include "crypto/envelope.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace crypto {

template <typename T, typename Allocator>
class CCryptBlob : public T {
 public:
  CCryptBlob() noexcept {
    this->cbData = 0;
    this->pbData = nullptr;
  }
  CCryptBlob(const CCryptBlob&) = delete;
  CCryptBlob& operator=(const CCryptBlob&) = delete;
  CCryptBlob(CCryptBlob&& other) noexcept : CCryptBlob() { Swap(other); }
  CCryptBlob& operator=(CCryptBlob&& other) noexcept {
    if (this != &other) {
      Free();
      Swap(other);
    }
    return *this;
  }
  virtual ~CCryptBlob() { Free(); }

  // Replaces the contents with a copy of size bytes; throws E_OUTOFMEMORY and
  // then leaves the contents unchanged.
  void Assign(const void* data, DWORD size) {
    BYTE* copy = allocate_zeroed<BYTE, Allocator>(size);
    if (size != 0)
      std::memcpy(copy, data, size);
    Free();
    this->pbData = copy;
    this->cbData = size;
  }
  // Wipes and frees the bytes.
  void Free() noexcept {
    if (this->pbData != nullptr) {
      secure_wipe(this->pbData, this->cbData);
      Allocator::free(this->pbData);
    }
    this->pbData = nullptr;
    this->cbData = 0;
  }
  // Hands the bytes to the caller, who frees them with the allocator's free.
  BYTE* Detach() noexcept {
    this->cbData = 0;
    return std::exchange(this->pbData, nullptr);
  }
  DWORD Size() const noexcept { return this->cbData; }
  const BYTE* Data() const noexcept { return this->pbData; }

  // This blob becomes the envelope of size plain bytes; unchanged on failure.
  HRESULT Obfuscate(const BYTE* plain, DWORD size) noexcept {
    tracecore::trace_scope scope("CCryptBlob::Obfuscate");
    try {
      if (plain == nullptr && size != 0)
        THROW_HR(E_POINTER);
      _auto_heap_mem<unsigned char> envelope;
      obfuscate_bytes(plain, size, envelope);
      Assign(envelope.get(), static_cast<DWORD>(envelope.size()));
      return S_OK;
    }
    CATCH_RETURN();
  }

  // This blob becomes the plain bytes of an envelope; unchanged on failure. A
  // malformed envelope fails with NTE_BAD_DATA.
  HRESULT Deobfuscate(const BYTE* envelope, DWORD size) noexcept {
    tracecore::trace_scope scope("CCryptBlob::Deobfuscate");
    try {
      if (envelope == nullptr && size != 0)
        THROW_HR(E_POINTER);
      // Deciphered into a temporary buffer, which wipes itself when it goes.
      _auto_heap_mem<unsigned char> plain;
      deobfuscate_bytes(envelope, size, plain);
      Assign(plain.get(), static_cast<DWORD>(plain.size()));
      return S_OK;
    }
    CATCH_RETURN();
  }

 private:
  void Swap(CCryptBlob& other) noexcept {
    std::swap(this->cbData, other.cbData);
    std::swap(this->pbData, other.pbData);
  }
};

using CHeapCryptBlob = CCryptBlob<_CRYPTOAPI_BLOB, _heap_allocator>;
using CComCryptBlob = CCryptBlob<_CRYPTOAPI_BLOB, _com_allocator>;

}  // namespace crypto
