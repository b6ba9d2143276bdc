// Fill-in libraries that answer oddly, for the loader's checks of what comes
// back. The environment variable FILLIN_FAKE picks the answer:
//   garbage   bytes that are no profile list (get_profiles)
//   oversize  a size larger than the block returned (get_profiles)
//   empty     success without a buffer (get_profiles) or without a text (update_profiles)
// Built twice: with all seven entry points, and without
// dll_function_kvichangepassword (fake_fillin_partial.def).
#include <windows.h>

#include <objbase.h>

#include <cstring>
#include <string>

#include "suite/include/fillin_api.h"

namespace {

std::wstring mode() {
  wchar_t value[32] = L"";
  ::GetEnvironmentVariableW(L"FILLIN_FAKE", value, 32);
  return value;
}

BYTE* task_bytes(const char* text, std::size_t size) {
  auto* block = static_cast<BYTE*>(::CoTaskMemAlloc(size));
  std::memcpy(block, text, size);
  return block;
}

}  // namespace

extern "C" HRESULT WINAPI dll_function_get_profiles(LPCWSTR,
                                                    LPCWSTR,
                                                    BYTE** profiles,
                                                    DWORD* size) {
  *profiles = nullptr;
  *size = 0;
  const std::wstring m = mode();
  if (m == L"garbage") {
    *profiles = task_bytes("garbage bytes", 13);
    *size = 13;
  } else if (m == L"oversize") {
    *profiles = task_bytes("four", 4);
    *size = 4096;
  }
  return S_OK;
}

extern "C" HRESULT WINAPI
dll_function_update_profiles(LPCWSTR, LPCWSTR, const BYTE*, DWORD, LPWSTR* text) {
  *text = nullptr;
  return S_OK;
}

extern "C" HRESULT WINAPI dll_function_brrrfromps(HWND) {
  return S_OK;
}

extern "C" HRESULT WINAPI dll_function_fillinwindow(HWND, LPCWSTR, LPCWSTR, LONG) {
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI dll_function_createprofile(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR*) {
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI
dll_function_modifyprofile(LPCWSTR, LPCWSTR, const BYTE*, DWORD, LPWSTR*) {
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI
dll_function_kvichangepassword(LPCWSTR, LPCWSTR, LONG, LPCWSTR, LPCWSTR, LPWSTR*) {
  return E_NOTIMPL;
}
