// DER blobs, encoded and decoded through CryptoAPI (CryptEncodeObject /
// CryptDecodeObject, encoding type X509_ASN_ENCODING | PKCS_7_ASN_ENCODING).
//
//   CCVAnyBlob     raw bytes                      X509_OCTET_STRING       OCTET STRING
//   CCVIntBlob     32-bit integer, 4 bytes LE     X509_MULTI_BYTE_INTEGER INTEGER
//   CCVWStrBlob    UTF-16 code units, terminator  X509_NAME_VALUE         BMPString
//                  included                       (CERT_RDN_UNICODE_STRING)
//   CCVBlobSequence  already-encoded elements     X509_SEQUENCE_OF_ANY    SEQUENCE
//
// Examples: CCVIntBlob(1).Encode() is 02 01 01; CCVAnyBlob().Encode() is 04 00;
// CCVWStrBlob(L"A").Encode() is 1E 04 00 41 00 00.
//
// Encode returns the DER bytes, empty when CryptoAPI fails. Decode fills the
// blob from DER bytes and returns false (leaving the blob empty) when CryptoAPI
// fails or the decoded value does not fit the blob. Copying bytes without memory
// gives E_OUTOFMEMORY: as an HRESULT from Assign/Append, as a
// support::hresult_error from the constructors. All buffers are wiped before
// they are freed.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/portable/memory_block.h"

namespace serialization {

class CCVAnyBlob {
 public:
  CCVAnyBlob() noexcept = default;
  CCVAnyBlob(const void* bytes, DWORD size);
  CCVAnyBlob(const CCVAnyBlob&) = default;
  CCVAnyBlob(CCVAnyBlob&&) noexcept = default;
  CCVAnyBlob& operator=(const CCVAnyBlob&) = default;
  CCVAnyBlob& operator=(CCVAnyBlob&&) noexcept = default;
  virtual ~CCVAnyBlob() = default;

  // Becomes a copy of the bytes; S_OK or E_OUTOFMEMORY (the blob is then empty).
  HRESULT Assign(const void* bytes, DWORD size) noexcept;
  void Clear() noexcept { m_bytes.release(); }

  const BYTE* Data() const noexcept { return m_bytes.data(); }
  DWORD Size() const noexcept { return m_bytes.size(); }
  bool Empty() const noexcept { return m_bytes.empty(); }

  // The CryptoAPI structure type of this kind of blob.
  virtual LPCSTR StructType() const noexcept { return X509_OCTET_STRING; }

  // The DER bytes of the blob; empty on failure.
  virtual CMemoryObjectEx Encode() const noexcept;
  // Fills the blob from DER bytes; false (and empty) on failure.
  bool Decode(const BYTE* der, DWORD size) noexcept;
  bool Decode(const memoryblock_T<aloocator_cpp>& der) noexcept {
    return Decode(der.data(), der.size());
  }

 protected:
  // Takes the structure CryptDecodeObject produced for StructType().
  virtual bool TakeDecoded(const void* decoded) noexcept;

  CMemoryObjectEx m_bytes;
};

class CCVIntBlob : public CCVAnyBlob {
 public:
  CCVIntBlob() noexcept = default;
  explicit CCVIntBlob(std::int32_t value);

  LPCSTR StructType() const noexcept override { return X509_MULTI_BYTE_INTEGER; }
  CMemoryObjectEx Encode() const noexcept override;

  // The integer (0 for an empty blob).
  std::int32_t Value() const noexcept;

 protected:
  // Decoded integers are kept as 4 bytes, sign-extended; wider ones fail.
  bool TakeDecoded(const void* decoded) noexcept override;
};

class CCVWStrBlob : public CCVAnyBlob {
 public:
  CCVWStrBlob() noexcept = default;
  // Holds the text's code units and a terminating zero.
  explicit CCVWStrBlob(std::wstring_view text);

  LPCSTR StructType() const noexcept override { return X509_NAME_VALUE; }
  CMemoryObjectEx Encode() const noexcept override;

  // The text up to the first zero code unit.
  std::wstring Value() const;

 protected:
  // Only BMPString values are taken.
  bool TakeDecoded(const void* decoded) noexcept override;
};

// A SEQUENCE of elements that are DER encodings themselves (blobs' Encode
// results or nested sequences), kept as they stand.
class CCVBlobSequence {
 public:
  // Appends a copy of an element's DER bytes; S_OK or E_OUTOFMEMORY.
  HRESULT Append(const BYTE* der, DWORD size) noexcept;
  HRESULT Append(const memoryblock_T<aloocator_cpp>& der) noexcept {
    return Append(der.data(), der.size());
  }
  void Clear() noexcept { m_elements.clear(); }

  std::size_t Count() const noexcept { return m_elements.size(); }
  const CMemoryObjectEx& Element(std::size_t index) const { return m_elements.at(index); }

  CMemoryObjectEx Encode() const noexcept;
  // Replaces the elements with those of the DER sequence; false (and empty) on
  // failure.
  bool Decode(const BYTE* der, DWORD size) noexcept;
  bool Decode(const memoryblock_T<aloocator_cpp>& der) noexcept {
    return Decode(der.data(), der.size());
  }

 private:
  std::vector<CMemoryObjectEx> m_elements;
};

}  // namespace serialization
