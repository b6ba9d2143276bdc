// Base64 text of bytes and back, through Crypt32's conversions looked up at run
// time, or through the built-in codec when Crypt32 does not offer them:
//
//   std::wstring text;
//   HRESULT hr = Base64Encode(bytes, size, text);        // "abc" -> L"YWJj"
//   _auto_heap_mem<unsigned char> decoded;
//   hr = Base64Decode(text, decoded);
//
// The text is one line either way: the line breaks Crypt32 puts into its text
// are removed, so both encoders give the same text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "crypto/crypt_memory.h"

namespace crypto {

// The two Crypt32 conversions; a null function selects the built-in codec.
struct base64_api_t {
  BOOL(WINAPI* binary_to_string)(const BYTE*, DWORD, DWORD, LPWSTR, DWORD*);
  BOOL(WINAPI* string_to_binary)(LPCWSTR, DWORD, DWORD, BYTE*, DWORD*, DWORD*, DWORD*);
};

// The conversions Base64Encode and Base64Decode use without an api: Crypt32's,
// looked up once for the process (the library then stays loaded), or the
// built-in ones when it lacks them.
const base64_api_t& process_base64() noexcept;

// text is unchanged on failure.
HRESULT Base64Encode(const BYTE* data, DWORD size, std::wstring& text) noexcept;
HRESULT Base64Encode(const base64_api_t& api,
                     const BYTE* data,
                     DWORD size,
                     std::wstring& text) noexcept;

// bytes is unchanged on failure; a character outside the alphabet is
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
HRESULT Base64Decode(std::wstring_view text, _auto_heap_mem<unsigned char>& bytes) noexcept;
HRESULT Base64Decode(const base64_api_t& api,
                     std::wstring_view text,
                     _auto_heap_mem<unsigned char>& bytes) noexcept;

}  // namespace crypto
