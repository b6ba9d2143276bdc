#include <windows.h>

#include "store/blobs.h"

#include <cstring>
#include <new>

#include "crypto/der_codec.h"
#include "support/hresult.h"

namespace serialization {

namespace {

// The DER bytes of a structure; empty on any failure.
CMemoryObjectEx encode_object(LPCSTR struct_type, const void* structure) noexcept {
  CMemoryObjectEx der;
  try {
    const DWORD size = crypto::der_encode(struct_type, structure,
                                          [&](DWORD needed) { return der.allocate(needed); });
    if (size == 0)
      der.release();
    else if (size != der.size())
      der.set(der.data(), size);
  } catch (...) {
    der.release();
  }
  return der;
}

// The minimal DER INTEGER of little-endian two's-complement bytes. Used only when
// the system's encoder fails: 64-bit Wine's crypt32 drops every 0xFF byte of -1
// and then reads far outside the buffer (an access violation it reports as a
// failure), so -1 could not be stored there at all.
CMemoryObjectEx encode_integer_directly(const BYTE* bytes, DWORD size) noexcept {
  CMemoryObjectEx der;
  const bool negative = (bytes[size - 1] & 0x80) != 0;
  const BYTE sign = negative ? 0xFF : 0x00;
  // Drop high bytes that only repeat the sign of the byte below them.
  DWORD used = size;
  while (used > 1 && bytes[used - 1] == sign && ((bytes[used - 2] & 0x80) != 0) == negative)
    --used;
  if (used > 126)
    return der;
  try {
    BYTE* out = der.allocate(used + 2);
    out[0] = 0x02;
    out[1] = static_cast<BYTE>(used);
    for (DWORD i = 0; i < used; ++i)
      out[2 + i] = bytes[used - 1 - i];
  } catch (...) {
    der.release();
  }
  return der;
}

// Size-then-fill use of CryptDecodeObject: the decoded structure (with the data
// it points to) in decoded.
bool decode_object(LPCSTR struct_type,
                   const BYTE* der,
                   DWORD size,
                   CMemoryObjectEx& decoded) noexcept {
  // Bytes from outside (a restored backup) get their framing checked there.
  try {
    return crypto::der_decode(struct_type, der, size,
                              [&](DWORD needed) { return decoded.allocate(needed); }) != 0;
  } catch (...) {
    return false;
  }
}

void throw_if_failed(HRESULT hr) {
  if (FAILED(hr))
    ::support::throw_hresult(hr, "blob copy");
}

}  // namespace

// ---- CCVAnyBlob ----

CCVAnyBlob::CCVAnyBlob(const void* bytes, DWORD size) {
  throw_if_failed(Assign(bytes, size));
}

HRESULT CCVAnyBlob::Assign(const void* bytes, DWORD size) noexcept {
  try {
    m_bytes.set(bytes, size);
    return S_OK;
  } catch (const std::bad_alloc&) {
    m_bytes.release();
    return E_OUTOFMEMORY;
  }
}

CMemoryObjectEx CCVAnyBlob::Encode() const noexcept {
  CRYPT_DATA_BLOB blob{Size(), const_cast<BYTE*>(Data())};
  return encode_object(X509_OCTET_STRING, &blob);
}

bool CCVAnyBlob::Decode(const BYTE* der, DWORD size) noexcept {
  m_bytes.release();
  CMemoryObjectEx decoded;
  if (decode_object(StructType(), der, size, decoded) && TakeDecoded(decoded.data()))
    return true;
  m_bytes.release();
  return false;
}

bool CCVAnyBlob::TakeDecoded(const void* decoded) noexcept {
  const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(decoded);
  return SUCCEEDED(Assign(blob->pbData, blob->cbData));
}

// ---- CCVIntBlob ----

CCVIntBlob::CCVIntBlob(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  const BYTE bytes[4] = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8),
                         static_cast<BYTE>(bits >> 16), static_cast<BYTE>(bits >> 24)};
  throw_if_failed(Assign(bytes, sizeof bytes));
}

CMemoryObjectEx CCVIntBlob::Encode() const noexcept {
  // An empty blob stands for 0.
  static const BYTE zero[4] = {};
  CRYPT_INTEGER_BLOB blob{Empty() ? DWORD{4} : Size(), const_cast<BYTE*>(Empty() ? zero : Data())};
  CMemoryObjectEx der = encode_object(X509_MULTI_BYTE_INTEGER, &blob);
  if (der.empty() && !Empty())
    der = encode_integer_directly(Data(), Size());
  return der;
}

std::int32_t CCVIntBlob::Value() const noexcept {
  std::uint32_t bits = 0;
  const DWORD size = Size();
  for (DWORD i = 0; i < size && i < 4; ++i)
    bits |= std::uint32_t{Data()[i]} << (8 * i);
  // Fewer than four bytes: the last one carries the sign.
  if (size > 0 && size < 4 && (Data()[size - 1] & 0x80))
    bits |= ~std::uint32_t{0} << (8 * size);
  return static_cast<std::int32_t>(bits);
}

bool CCVIntBlob::TakeDecoded(const void* decoded) noexcept {
  const auto* blob = static_cast<const CRYPT_INTEGER_BLOB*>(decoded);
  const DWORD size = blob->cbData;
  if (size == 0 || blob->pbData == nullptr)
    return false;
  const BYTE sign = (blob->pbData[(size < 4 ? size : 4) - 1] & 0x80) ? 0xFF : 0x00;
  // Bytes beyond the fourth may only repeat the sign.
  for (DWORD i = 4; i < size; ++i)
    if (blob->pbData[i] != sign)
      return false;
  BYTE bytes[4] = {sign, sign, sign, sign};
  std::memcpy(bytes, blob->pbData, size < 4 ? size : 4);
  return SUCCEEDED(Assign(bytes, sizeof bytes));
}

// ---- CCVWStrBlob ----

CCVWStrBlob::CCVWStrBlob(std::wstring_view text) {
  if (text.size() >= MAXDWORD / sizeof(wchar_t) - 1)
    ::support::throw_hresult(E_OUTOFMEMORY, "blob copy");
  const auto size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  try {
    BYTE* out = m_bytes.allocate(size);
    if (!text.empty())
      std::memcpy(out, text.data(), text.size() * sizeof(wchar_t));
    std::memset(out + text.size() * sizeof(wchar_t), 0, sizeof(wchar_t));
  } catch (const std::bad_alloc&) {
    ::support::throw_hresult(E_OUTOFMEMORY, "blob copy");
  }
}

CMemoryObjectEx CCVWStrBlob::Encode() const noexcept {
  // The length handed over covers every code unit held, terminator included;
  // an empty blob is the empty string.
  static const wchar_t empty[1] = {};
  CERT_NAME_VALUE value{};
  value.dwValueType = CERT_RDN_UNICODE_STRING;
  value.Value.cbData = Size() & ~DWORD{1};
  value.Value.pbData = const_cast<BYTE*>(Empty() ? reinterpret_cast<const BYTE*>(empty) : Data());
  return encode_object(X509_NAME_VALUE, &value);
}

std::wstring CCVWStrBlob::Value() const {
  const DWORD units = Size() / sizeof(wchar_t);
  std::wstring text(units, L'\0');
  if (units)
    std::memcpy(text.data(), Data(), units * sizeof(wchar_t));
  text.resize(std::wcslen(text.c_str()));
  return text;
}

bool CCVWStrBlob::TakeDecoded(const void* decoded) noexcept {
  const auto* value = static_cast<const CERT_NAME_VALUE*>(decoded);
  if (value->dwValueType != CERT_RDN_BMP_STRING)
    return false;
  return SUCCEEDED(Assign(value->Value.pbData, value->Value.cbData));
}

// ---- CCVBlobSequence ----

HRESULT CCVBlobSequence::Append(const BYTE* der, DWORD size) noexcept {
  // An empty element is what a failed encoding gives: refuse it rather than
  // build a sequence that does not decode.
  if (der == nullptr || size == 0)
    return E_INVALIDARG;
  try {
    m_elements.emplace_back(der, size);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

CMemoryObjectEx CCVBlobSequence::Encode() const noexcept {
  try {
    std::vector<CRYPT_DER_BLOB> values;
    values.reserve(m_elements.size());
    for (const auto& element : m_elements)
      values.push_back(CRYPT_DER_BLOB{element.size(), const_cast<BYTE*>(element.data())});
    CRYPT_SEQUENCE_OF_ANY sequence{static_cast<DWORD>(values.size()), values.data()};
    return encode_object(X509_SEQUENCE_OF_ANY, &sequence);
  } catch (...) {
    return CMemoryObjectEx();
  }
}

bool CCVBlobSequence::Decode(const BYTE* der, DWORD size) noexcept {
  m_elements.clear();
  CMemoryObjectEx decoded;
  if (!decode_object(X509_SEQUENCE_OF_ANY, der, size, decoded))
    return false;
  const auto* sequence = reinterpret_cast<const CRYPT_SEQUENCE_OF_ANY*>(decoded.data());
  try {
    m_elements.reserve(sequence->cValue);
    for (DWORD i = 0; i < sequence->cValue; ++i)
      m_elements.emplace_back(sequence->rgValue[i].pbData, sequence->rgValue[i].cbData);
    return true;
  } catch (...) {
    m_elements.clear();
    return false;
  }
}

}  // namespace serialization
