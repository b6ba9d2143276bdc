// Machine policy and the secret check.
// Policies are REG_DWORD values named after the policy under
// HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Corvantis\Dashboard; a REG_DWORD
// "Status_<policy>" there replaces the status reported for that record.
// A user's secret store exists when its protected store file does
// (standin::protected_store_file).
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>

#include "suite/common/standin_faults.h"
#include "suite/common/standin_paths.h"
#include "suite/include/suite_api.h"
#include "support/registry.h"

namespace {

constexpr wchar_t kLibrary[] = L"CVFPApi";
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Corvantis\\Dashboard";
constexpr DWORD kNameCapacity = sizeof(CVFP_POLICY_RECORD::name) / sizeof(WCHAR);

void fill_record(HKEY policies, CVFP_POLICY_RECORD& record) {
  record.value = 0;
  const auto length =
      static_cast<size_t>(std::find(record.name, record.name + kNameCapacity, L'\0') - record.name);
  if (length == 0 || length == kNameCapacity) {
    record.status = E_INVALIDARG;
    return;
  }
  const std::wstring name(record.name, length);
  std::optional<DWORD> value;
  std::optional<DWORD> status;
  if (policies) {
    value = support::try_get_dword(policies, name.c_str());
    status = support::try_get_dword(policies, (L"Status_" + name).c_str());
  }
  record.value = value.value_or(0);
  record.status = status ? static_cast<HRESULT>(*status)
                         : (value ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

}  // namespace

extern "C" HRESULT WINAPI CVFPGetPolicySettings(DWORD count, CVFP_POLICY_RECORD* records) {
  return standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, L"CVFPGetPolicySettings"))
      return fault;
    if (count == 0 || !records)
      return E_INVALIDARG;
    const auto policies = support::try_open_key(HKEY_LOCAL_MACHINE, kPolicyKey, KEY_QUERY_VALUE);
    for (DWORD index = 0; index < count; ++index)
      fill_record(policies ? policies->get() : nullptr, records[index]);
    return S_OK;
  });
}

// The account is the user whose store is asked for; only the calling user's own
// stores are visible here, so any other account has none. The kind is not looked at.
extern "C" BOOL WINAPI CVFPDoesSecretExist(LPCWSTR account, DWORD kind, LPCWSTR store) {
  bool exists = false;
  const HRESULT hr = standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, L"CVFPDoesSecretExist"))
      return fault;
    if (const auto forced = standin::fault_value(kLibrary, L"SecretExists")) {
      exists = *forced != 0;
      return S_OK;
    }
    if (!store)
      return E_INVALIDARG;
    if (account && *account) {
      const auto caller = standin::current_account();
      if (!caller || !standin::same_name(*caller, account))
        return S_OK;
    }
    const auto file = standin::protected_store_file(store);
    if (!file)
      return S_OK;
    const DWORD attributes = ::GetFileAttributesW(file->c_str());
    exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return S_OK;
  });
  if (hr != S_OK) {
    ::SetLastError(static_cast<DWORD>(hr));
    return FALSE;
  }
  ::SetLastError(ERROR_SUCCESS);
  return exists ? TRUE : FALSE;
}

static_assert(std::is_same_v<decltype(&CVFPGetPolicySettings), CVFPGetPolicySettings_fn>);
static_assert(std::is_same_v<decltype(&CVFPDoesSecretExist), CVFPDoesSecretExist_fn>);
