// Size-then-fill use of CryptEncodeObject and CryptDecodeObject under the
// encoding of every DER structure the component writes or reads. The caller
// keeps its own buffer type: `allocate(size)` hands out `size` writable bytes
// (and may throw). Both return the bytes used, 0 on failure.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "crypto/portable/der_check.h"

namespace crypto {

inline constexpr DWORD kDerEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

template <typename Allocate>
DWORD der_encode(LPCSTR type, const void* value, Allocate&& allocate) {
  DWORD size = 0;
  if (!::CryptEncodeObject(kDerEncoding, type, value, nullptr, &size) || size == 0)
    return 0;
  BYTE* const out = allocate(size);
  if (!::CryptEncodeObject(kDerEncoding, type, value, out, &size))
    return 0;
  return size;  // the second call may need less than the first asked for
}

// The structure of `der` as the decoder lays it out. Bytes from outside are
// checked for exact DER framing first: some decoders read past a truncated last
// element.
template <typename Allocate>
DWORD der_decode(LPCSTR type, const BYTE* der, DWORD size, Allocate&& allocate) {
  if (der == nullptr || size == 0 || !is_single_der_element(der, size))
    return 0;
  DWORD needed = 0;
  if (!::CryptDecodeObject(kDerEncoding, type, der, size, 0, nullptr, &needed) || needed == 0)
    return 0;
  BYTE* const out = allocate(needed);
  if (!::CryptDecodeObject(kDerEncoding, type, der, size, 0, out, &needed))
    return 0;
  return needed;
}

}  // namespace crypto
