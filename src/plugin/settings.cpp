#include "plugin/settings.h"

#include <cstdio>
#include <cwchar>

#include "plugin/module.h"
#include "plugin/portable/setting_text.h"
#include "support/com.h"
#include "support/fault_guard.h"
#include "support/registry.h"
#include "support/suite_folder.h"
#include "tracing/trace.h"

namespace plugin {
namespace {

std::wstring module_folder() {
  const std::wstring folder = module().ModulePath();
  const auto slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

void* entry(HMODULE module, const char* name) {
  return module ? reinterpret_cast<void*>(::GetProcAddress(module, name)) : nullptr;
}

// Frees the library when the module unloads.
struct settings_library_t {
  settings_api_t api;
  ~settings_library_t() {
    if (api.module)
      ::FreeLibrary(api.module);
  }
};

// Calls into the settings library; whatever it throws becomes an HRESULT, and a
// fault inside it E_UNEXPECTED.
template <typename Call>
HRESULT guarded(Call&& call) noexcept {
  return support::call_with_fault_guard("CvoSet.dll", [&]() -> HRESULT {
    try {
      return call();
    } catch (const support::hresult_error& e) {
      return e.code();
    } catch (...) {
      return E_UNEXPECTED;
    }
  });
}

}  // namespace

std::wstring suite_bin_dir(bool want64) {
  std::wstring folder = support::suite_bin_folder();
  if (want64 && !folder.empty())
    folder += L"x64\\";
  return folder;
}

const settings_api_t& settings_api() {
  static const settings_library_t library = [] {
    tracecore::trace_scope scope("CSettingsApi::Load");
    settings_library_t loaded;
    // Each place is tried by full path only: an empty folder would make the
    // loader search the process's DLL path instead.
    for (const std::wstring& folder : {suite_bin_dir(), module_folder()}) {
      if (folder.empty()) {
        tracecore::trace_text("CvoSet.dll: no folder to load it from");
        continue;
      }
      const std::wstring path = folder + L"CvoSet.dll";
      loaded.api.module = ::LoadLibraryW(path.c_str());
      if (loaded.api.module != nullptr)
        break;
      tracecore::trace_lasterror(path.c_str());
    }
    loaded.api.query =
        reinterpret_cast<api_settings_query_fn>(entry(loaded.api.module, "api_settings_query"));
    loaded.api.set =
        reinterpret_cast<api_settings_set_fn>(entry(loaded.api.module, "api_settings_set"));
    return loaded;
  }();
  return library.api;
}

HRESULT read_setting_string(const settings_api_t& api,
                            const wchar_t* name,
                            std::wstring& value) noexcept {
  if (api.query == nullptr)
    return E_NOTIMPL;
  return guarded([&]() -> HRESULT {
    support::unique_bstr bstr_name = support::unique_bstr::from(name, std::wcslen(name));
    support::unique_bstr result;
    SETTINGS_QUERY_REQUEST request{12, bstr_name.get(), result.put()};
    const HRESULT hr = api.query(&request);
    if (FAILED(hr))
      return hr;
    value = result.str();
    return hr;
  });
}

HRESULT read_setting_string(const wchar_t* name, std::wstring& value) noexcept {
  return read_setting_string(settings_api(), name, value);
}

HRESULT read_setting_integer(const wchar_t* name, std::int32_t& value) noexcept {
  std::wstring text;
  const HRESULT hr = read_setting_string(settings_api(), name, text);
  if (SUCCEEDED(hr))
    value = parse_setting_integer(text);
  return hr;
}

HRESULT read_setting_boolean(const settings_api_t& api, const wchar_t* name, bool& value) noexcept {
  std::wstring text;
  HRESULT hr = read_setting_string(api, name, text);
  if (FAILED(hr))
    return hr;
  const auto parsed = parse_setting_boolean(text);
  value = parsed.value_or(false);
  return parsed ? S_OK : E_INVALIDARG;
}

HRESULT read_setting_boolean(const wchar_t* name, bool& value) noexcept {
  return read_setting_boolean(settings_api(), name, value);
}

HRESULT write_setting(const settings_api_t& api,
                      const wchar_t* name,
                      const std::wstring& value) noexcept {
  HRESULT hr = E_NOTIMPL;
  if (api.set != nullptr) {
    hr = guarded([&]() -> HRESULT {
      support::unique_bstr bstr_name = support::unique_bstr::from(name, std::wcslen(name));
      support::unique_bstr bstr_value = support::unique_bstr::from(value);
      SETTINGS_SET_REQUEST request{12, bstr_name.get(), bstr_value.get()};
      return api.set(&request);
    });
  }
  if (FAILED(hr)) {
    char text[300];
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      std::snprintf(text, sizeof text, "INSTALLATION: cannot set '%ls'", name);
      tracecore::trace_error(text, 0);
    } else {
      std::snprintf(text, sizeof text, "cannot set '%ls'", name);
      tracecore::trace_error(text, hr);
    }
  }
  return hr;
}

HRESULT write_setting(const wchar_t* name, const std::wstring& value) noexcept {
  return write_setting(settings_api(), name, value);
}

HRESULT write_setting_boolean(const wchar_t* name, bool value) noexcept {
  return write_setting(name, setting_text_of(value));
}

HRESULT GetGPOSettings(DWORD* value) noexcept {
  tracecore::trace_scope scope("GetGPOSettings");
  HRESULT hr = S_OK;
  try {
    const std::wstring folder = suite_bin_dir();
    if (folder.empty())
      THROW_HR(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));  // never by bare name
    const std::wstring path = folder + L"CVFPApi.dll";
    const support::unique_hmodule library(::LoadLibraryW(path.c_str()));
    THROW_LAST_ERROR_IF(!library);
    const auto get_policy = reinterpret_cast<CVFPGetPolicySettings_fn>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "CVFPGetPolicySettings")));
    THROW_LAST_ERROR_IF(get_policy == nullptr);
    CVFP_POLICY_RECORD record{};
    std::wcsncpy(record.name, L"EnableOnlineIds", 31);
    hr = get_policy(1, &record);
    if (SUCCEEDED(hr) && FAILED(record.status))
      hr = record.status;
    if (SUCCEEDED(hr)) {
      hr = S_OK;
      if (value != nullptr)
        *value = record.value;
    }
  } catch (const support::hresult_error& e) {
    hr = e.code();
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr))
    tracecore::trace_error("", hr);
  return hr;
}

DWORD read_disable_status() noexcept {
  const auto key = support::try_open_key(HKEY_LOCAL_MACHINE, kOnlineIdsKey, KEY_READ);
  if (!key)
    return 0;
  return support::try_get_dword(key->get(), L"DisableStatus").value_or(0);
}

}  // namespace plugin
