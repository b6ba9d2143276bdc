#include "suite/common/standin_faults.h"

#include <algorithm>

#include "suite/include/suite_api.h"
#include "support/registry.h"

namespace standin {

namespace {

// How often a running stall looks whether its value is still there.
constexpr DWORD kStallSliceMs = 20;

std::wstring fault_key(const wchar_t* library) {
  return std::wstring(CV_STANDIN_FAULT_KEY) + L"\\" + library;
}

void stall(const wchar_t* library, const std::wstring& name, DWORD milliseconds) {
  const ULONGLONG end = ::GetTickCount64() + milliseconds;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end)
      return;
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(end - now, kStallSliceMs)));
    const auto still = fault_value(library, name);
    if (!still || *still == 0)
      return;
  }
}

}  // namespace

std::optional<DWORD> fault_value(const wchar_t* library, const std::wstring& name) {
  const auto key =
      support::try_open_key(HKEY_CURRENT_USER, fault_key(library).c_str(), KEY_QUERY_VALUE);
  if (!key)
    return std::nullopt;
  return support::try_get_dword(key->get(), name.c_str());
}

HRESULT injected_fault(const wchar_t* library, const wchar_t* entry_point) {
  if (const auto crash = fault_value(library, std::wstring(L"Crash_") + entry_point);
      crash && *crash)
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  const std::wstring stall_name = std::wstring(L"Stall_") + entry_point;
  if (const auto milliseconds = fault_value(library, stall_name); milliseconds && *milliseconds)
    stall(library, stall_name, *milliseconds);
  const auto failure = fault_value(library, std::wstring(L"Fail_") + entry_point);
  return failure ? static_cast<HRESULT>(*failure) : S_OK;
}

}  // namespace standin
