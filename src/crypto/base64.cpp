#include "crypto/base64.h"

#include <wincrypt.h>

#include "crypto/portable/base64_codec.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace crypto {
namespace {

DWORD checked_size(std::size_t size) {
  if (size > MAXDWORD)
    THROW_HR(E_OUTOFMEMORY);
  return static_cast<DWORD>(size);
}

void throw_if_codec_failed(std::uint32_t error) {
  if (error != kBase64Ok)
    ::support::throw_hresult(HRESULT_FROM_WIN32(error), "base64 codec");
}

std::wstring encode(const base64_api_t& api, const BYTE* data, DWORD size) {
  if (size == 0)
    return std::wstring();
  if (api.binary_to_string == nullptr) {
    std::size_t chars = 0;
    base64_encode(data, size, nullptr, &chars);
    std::wstring text(chars, L'\0');
    throw_if_codec_failed(base64_encode(data, size, text.data(), &chars));
    text.resize(chars);
    return text;
  }
  DWORD chars = 0;
  THROW_LAST_ERROR_IF(!api.binary_to_string(data, size, CRYPT_STRING_BASE64, nullptr, &chars));
  _mem_alloc_t<wchar_t, _heap_allocator> buffer(chars);
  THROW_LAST_ERROR_IF(!api.binary_to_string(data, size, CRYPT_STRING_BASE64, buffer.get(), &chars));
  std::wstring text;
  text.reserve(chars);
  for (DWORD i = 0; i < chars && i < buffer.size() && buffer[i] != L'\0'; ++i) {
    if (buffer[i] != L'\r' && buffer[i] != L'\n')
      text.push_back(buffer[i]);
  }
  return text;
}

_auto_heap_mem<unsigned char> decode(const base64_api_t& api, std::wstring_view text) {
  _auto_heap_mem<unsigned char> bytes;
  if (text.empty())
    return bytes;
  if (api.string_to_binary == nullptr) {
    std::size_t size = 0;
    throw_if_codec_failed(base64_decode(text.data(), text.size(), nullptr, &size));
    bytes.allocate(size);
    throw_if_codec_failed(base64_decode(text.data(), text.size(), bytes.get(), &size));
    bytes.shrink(size);
    return bytes;
  }
  const DWORD length = checked_size(text.size());
  DWORD size = 0;
  THROW_LAST_ERROR_IF(!api.string_to_binary(text.data(), length, CRYPT_STRING_BASE64, nullptr,
                                            &size, nullptr, nullptr));
  bytes.allocate(size);
  THROW_LAST_ERROR_IF(!api.string_to_binary(text.data(), length, CRYPT_STRING_BASE64, bytes.get(),
                                            &size, nullptr, nullptr));
  bytes.shrink(size);
  return bytes;
}

template <typename Fn>
Fn lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                : nullptr;
}

}  // namespace

const base64_api_t& process_base64() noexcept {
  // Loaded for good: a module must not free libraries while it is unloaded.
  static const base64_api_t api = [] {
    const HMODULE crypt32 = ::LoadLibraryW(L"Crypt32.dll");
    base64_api_t found{};
    found.binary_to_string =
        lookup<decltype(found.binary_to_string)>(crypt32, "CryptBinaryToStringW");
    found.string_to_binary =
        lookup<decltype(found.string_to_binary)>(crypt32, "CryptStringToBinaryW");
    return found;
  }();
  return api;
}

HRESULT Base64Encode(const base64_api_t& api,
                     const BYTE* data,
                     DWORD size,
                     std::wstring& text) noexcept {
  tracecore::trace_scope scope("Base64Encode");
  try {
    if (data == nullptr && size != 0)
      THROW_HR(E_POINTER);
    text = encode(api, data, size);
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT Base64Encode(const BYTE* data, DWORD size, std::wstring& text) noexcept {
  return Base64Encode(process_base64(), data, size, text);
}

HRESULT Base64Decode(const base64_api_t& api,
                     std::wstring_view text,
                     _auto_heap_mem<unsigned char>& bytes) noexcept {
  tracecore::trace_scope scope("Base64Decode");
  try {
    bytes = decode(api, text);
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT Base64Decode(std::wstring_view text, _auto_heap_mem<unsigned char>& bytes) noexcept {
  return Base64Decode(process_base64(), text, bytes);
}

}  // namespace crypto
