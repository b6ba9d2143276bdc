// Training libraries that answer oddly, for the loader's checks of what comes
// back. The environment variable FILLIN_FAKE picks the answer of
// dll_function_modifyprofile:
//   garbage   bytes that are no profile record
//   empty     success without a record
//   oversize  a size larger than the block returned
// Built twice: with all three entry points, and without
// dll_function_createmanifest (fake_training_partial.def).
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

}  // namespace

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
  *profile = nullptr;
  *size = 0;
  const std::wstring m = mode();
  if (m == L"garbage" || m == L"oversize") {
    *profile = static_cast<BYTE*>(::CoTaskMemAlloc(13));
    std::memcpy(*profile, "garbage bytes", 13);
    *size = m == L"garbage" ? 13 : 4096;
  }
  return S_OK;
}
