// Named settings, values as text. A setting is a string value named after it:
// the user's own under HKEY_CURRENT_USER\Software\Corvantis\Settings, else the
// machine default under HKEY_LOCAL_MACHINE\SOFTWARE\Corvantis\Settings.
// REG_EXPAND_SZ values are answered with their environment references expanded,
// so that machine defaults can name per-user folders.
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <type_traits>

#include "suite/common/standin_faults.h"
#include "suite/common/standin_paths.h"
#include "suite/include/suite_api.h"
#include "support/registry.h"

namespace {

constexpr wchar_t kLibrary[] = L"CvoSet";
constexpr wchar_t kUserSettingsKey[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kMachineSettingsKey[] = L"SOFTWARE\\Corvantis\\Settings";
constexpr DWORD kRequestSize = 12;

// The only settings the dashboard may change; the others belong to the suite's
// installer and its own console.
constexpr const wchar_t* kUserWritable[] = {L"open_security_manager_qa", L"show_training_prompt"};

// The fill-in markers a quick-link launch leaves, one per template id.
constexpr wchar_t kFillinMarkerPrefix[] = L"@QuickLinkFillin::";

bool is_user_writable(const std::wstring& name) {
  const std::size_t prefix = std::size(kFillinMarkerPrefix) - 1;
  if (name.size() > prefix && standin::same_name(name.substr(0, prefix), kFillinMarkerPrefix))
    return true;
  for (const wchar_t* writable : kUserWritable) {
    if (standin::same_name(name, writable))
      return true;
  }
  return false;
}

std::optional<std::wstring> read_setting(HKEY root, const wchar_t* path, const std::wstring& name) {
  const auto key = support::try_open_key(root, path, KEY_QUERY_VALUE);
  if (!key)
    return std::nullopt;
  DWORD type = REG_NONE;
  if (::RegQueryValueExW(key->get(), name.c_str(), nullptr, &type, nullptr, nullptr) !=
      ERROR_SUCCESS)
    return std::nullopt;
  auto text = support::try_get_string(key->get(), name.c_str());
  if (text && type == REG_EXPAND_SZ)
    return support::expand_environment(*text);
  return text;
}

std::wstring setting_name(BSTR name) {
  return name ? std::wstring(name) : std::wstring();
}

}  // namespace

extern "C" HRESULT WINAPI api_settings_query(SETTINGS_QUERY_REQUEST* request) {
  return standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, L"api_settings_query"))
      return fault;
    if (!request || request->size != kRequestSize || !request->result)
      return E_INVALIDARG;
    const std::wstring name = setting_name(request->name);
    if (name.empty())
      return E_INVALIDARG;
    auto value = read_setting(HKEY_CURRENT_USER, kUserSettingsKey, name);
    if (!value)
      value = read_setting(HKEY_LOCAL_MACHINE, kMachineSettingsKey, name);
    if (!value)
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    BSTR result = ::SysAllocStringLen(value->data(), static_cast<UINT>(value->size()));
    if (!result)
      return E_OUTOFMEMORY;
    *request->result = result;
    return S_OK;
  });
}

extern "C" HRESULT WINAPI api_settings_set(SETTINGS_SET_REQUEST* request) {
  return standin::guarded_call([&]() -> HRESULT {
    if (const HRESULT fault = standin::injected_fault(kLibrary, L"api_settings_set"))
      return fault;
    if (!request || request->size != kRequestSize)
      return E_INVALIDARG;
    const std::wstring name = setting_name(request->name);
    if (name.empty())
      return E_INVALIDARG;
    if (const auto failure = standin::fault_value(kLibrary, L"Fail_set_" + name);
        failure && *failure)
      return static_cast<HRESULT>(*failure);
    if (!is_user_writable(name))
      return E_ACCESSDENIED;
    // A null BSTR is the empty text.
    const std::wstring value = setting_name(request->value);
    HKEY created = nullptr;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, 0,
                                       KEY_SET_VALUE, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(status);
    const support::unique_hkey key(created);
    status = ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
  });
}

static_assert(std::is_same_v<decltype(&api_settings_query), api_settings_query_fn>);
static_assert(std::is_same_v<decltype(&api_settings_set), api_settings_set_fn>);
