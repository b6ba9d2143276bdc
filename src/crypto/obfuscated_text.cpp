#include "crypto/obfuscated_text.h"

#include <cstring>

#include "crypto/base64.h"
#include "crypto/envelope.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace crypto {

HRESULT ObfuscateToText(const BYTE* plain, DWORD size, std::wstring& text) noexcept {
  tracecore::trace_scope scope("ObfuscateToText");
  try {
    CHeapCryptBlob envelope;
    THROW_IF_FAILED(envelope.Obfuscate(plain, size));
    THROW_IF_FAILED(Base64Encode(envelope.Data(), envelope.Size(), text));
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT ObfuscateToText(std::wstring_view secret, std::wstring& text) noexcept {
  if (secret.size() > MAXDWORD / sizeof(wchar_t))
    return E_INVALIDARG;
  return ObfuscateToText(reinterpret_cast<const BYTE*>(secret.data()),
                         static_cast<DWORD>(secret.size() * sizeof(wchar_t)), text);
}

HRESULT ObfuscateToText(const obfuscation_key_t& key,
                        std::wstring_view secret,
                        std::wstring& text) noexcept {
  try {
    _auto_heap_mem<unsigned char> envelope;
    obfuscate_bytes(key, reinterpret_cast<const unsigned char*>(secret.data()),
                    secret.size() * sizeof(wchar_t), envelope);
    if (envelope.size() > MAXDWORD)
      THROW_HR(E_INVALIDARG);
    THROW_IF_FAILED(Base64Encode(envelope.get(), static_cast<DWORD>(envelope.size()), text));
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT DeobfuscateFromText(const obfuscation_key_t& key,
                            std::wstring_view text,
                            _auto_heap_mem<unsigned char>& plain) noexcept {
  try {
    _auto_heap_mem<unsigned char> envelope;
    THROW_IF_FAILED(Base64Decode(text, envelope));
    deobfuscate_bytes(key, envelope.get(), envelope.size(), plain);
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT DeobfuscateFromText(std::wstring_view text, CHeapCryptBlob& plain) noexcept {
  tracecore::trace_scope scope("DeobfuscateFromText");
  try {
    _auto_heap_mem<unsigned char> envelope;
    THROW_IF_FAILED(Base64Decode(text, envelope));
    THROW_IF_FAILED(plain.Deobfuscate(envelope.get(), static_cast<DWORD>(envelope.size())));
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT DeobfuscateFromText(std::wstring_view text,
                            _mem_alloc_t<wchar_t, _heap_allocator>& secret) noexcept {
  tracecore::trace_scope scope("DeobfuscateFromText");
  try {
    CHeapCryptBlob plain;
    THROW_IF_FAILED(DeobfuscateFromText(text, plain));
    if (plain.Size() % sizeof(wchar_t) != 0) {
      tracecore::trace_text("bad data");
      THROW_HR(NTE_BAD_DATA);
    }
    const std::size_t units = plain.Size() / sizeof(wchar_t);
    _mem_alloc_t<wchar_t, _heap_allocator> result(units + 1);  // zero-filled: terminated
    if (units != 0)
      std::memcpy(result.get(), plain.Data(), plain.Size());
    secret = std::move(result);
    return S_OK;
  }
  CATCH_RETURN();
}

}  // namespace crypto
