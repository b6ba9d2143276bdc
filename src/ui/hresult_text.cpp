#include "ui/hresult_text.h"

#include <cstdio>

namespace ui {

std::wstring HResultText(HRESULT hr) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) {
    std::wstring result(text, length);
    ::LocalFree(text);
    return result;
  }
  if (text != nullptr)
    ::LocalFree(text);
  wchar_t fallback[32];
  std::swprintf(fallback, 32, L"HRESULT 0x%8.8x", static_cast<unsigned>(hr));
  return fallback;
}

}  // namespace ui
