// Fault injection for the stand-in libraries. Each library has its own key,
// HKEY_CURRENT_USER\Software\CorvantisStandIns\<library base name>, and reads there:
//   "Stall_<entry point>" REG_DWORD  milliseconds to wait before doing anything; the
//                                    wait ends early once the value is removed or 0
//   "Fail_<entry point>"  REG_DWORD  a non-zero value is returned as the HRESULT
//   "Crash_<entry point>" REG_DWORD  non-zero: the call raises an access violation, as
//                                    a broken library would
// plus values of its own (docs/suite-stand-ins.md). The product never reads them.
#pragma once

#include <windows.h>

#include <new>
#include <optional>
#include <string>

namespace standin {

// A REG_DWORD under the library's fault key; nullopt when the key or value is
// missing or of another type.
std::optional<DWORD> fault_value(const wchar_t* library, const std::wstring& name);

// Raises the access violation of "Crash_", runs the stall of an entry point, then
// answers its "Fail_" value: S_OK when the call should go on, else the HRESULT to
// return.
HRESULT injected_fault(const wchar_t* library, const wchar_t* entry_point);

// The boundary of an exported function: exceptions never leave the library.
template <typename F>
HRESULT guarded_call(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace standin
