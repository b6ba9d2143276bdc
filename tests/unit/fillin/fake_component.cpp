// Fill-in and training libraries that answer oddly, for the loaders' checks of
// what comes back. Built as the fill-in component, and with FAKE_TRAINING as
// the training component; each with every entry point (fake_*.def) and
// without one (fake_*_partial.def). The environment variable FILLIN_FAKE picks
// the answer of dll_function_get_profiles and of the training component's
// dll_function_modifyprofile:
//   garbage   bytes that are no profile list or record
//   oversize  a size larger than the block returned
//   empty     success without a buffer
// dll_function_update_profiles succeeds without a text; the entry points the
// loader only resolves answer E_NOTIMPL.
#include <windows.h>

#include <objbase.h>

#include <cstring>
#include <string>

#include "suite/include/fillin_api.h"

namespace {

// The answer FILLIN_FAKE asks for, as a block and a size.
HRESULT odd_answer(BYTE** bytes, DWORD* size) {
  wchar_t value[32] = L"";
  ::GetEnvironmentVariableW(L"FILLIN_FAKE", value, 32);
  const std::wstring mode = value;
  *bytes = nullptr;
  *size = 0;
  if (mode == L"garbage" || mode == L"oversize") {
    *bytes = static_cast<BYTE*>(::CoTaskMemAlloc(13));
    std::memcpy(*bytes, "garbage bytes", 13);
    *size = mode == L"garbage" ? 13 : 4096;
  }
  return S_OK;
}

}  // namespace

#ifndef FAKE_TRAINING

extern "C" HRESULT WINAPI dll_function_get_profiles(LPCWSTR, LPCWSTR, BYTE** bytes, DWORD* size) {
  return odd_answer(bytes, size);
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

#else

extern "C" HRESULT WINAPI dll_function_startmonitor(int, const LPCWSTR*) {
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI dll_function_createmanifest(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR*, LPWSTR*) {
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI dll_function_modifyprofile(HWND,
                                                     DWORD,
                                                     LPCWSTR,
                                                     LPCWSTR,
                                                     DWORD,
                                                     LPCWSTR,
                                                     const BYTE*,
                                                     DWORD,
                                                     DWORD,
                                                     BYTE** profile,
                                                     DWORD* size) {
  return odd_answer(profile, size);
}

#endif
