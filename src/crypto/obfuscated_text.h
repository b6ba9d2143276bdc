// The form in which secrets stay in memory: obfuscated (crypt_blob.h), then
// Base64 text. Only this process on this machine turns the text back:
//
//   std::wstring kept;
//   HRESULT hr = ObfuscateToText(password, kept);
//   _auto_heap_mem<wchar_t> plain;            // wipes itself
//   hr = DeobfuscateFromText(kept, plain);    // plain.get() is zero-terminated
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "crypto/crypt_blob.h"
#include "crypto/crypt_memory.h"
#include "crypto/envelope.h"

namespace crypto {

// text is unchanged on failure.
HRESULT ObfuscateToText(const BYTE* plain, DWORD size, std::wstring& text) noexcept;
// A wide secret: its UTF-16 code units without a terminator.
HRESULT ObfuscateToText(std::wstring_view secret, std::wstring& text) noexcept;

// The same with a key derived once by the caller (envelope.h).
HRESULT ObfuscateToText(const obfuscation_key_t& key,
                        std::wstring_view secret,
                        std::wstring& text) noexcept;
HRESULT DeobfuscateFromText(const obfuscation_key_t& key,
                            std::wstring_view text,
                            _auto_heap_mem<unsigned char>& plain) noexcept;

// plain is unchanged on failure; malformed text fails with NTE_BAD_DATA (or the
// Base64 decoder's error).
HRESULT DeobfuscateFromText(std::wstring_view text, CHeapCryptBlob& plain) noexcept;
// A wide secret, zero-terminated: size() counts the terminator. Bytes that are
// no whole number of code units are bad data.
HRESULT DeobfuscateFromText(std::wstring_view text,
                            _mem_alloc_t<wchar_t, _heap_allocator>& secret) noexcept;

}  // namespace crypto
