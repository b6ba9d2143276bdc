// Named settings of the suite's settings library, machine policy, and the
// component's own registry values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "suite/include/suite_api.h"

namespace plugin {

// The settings library's entry points; either may be null.
struct settings_api_t {
  HMODULE module = nullptr;
  api_settings_query_fn query = nullptr;
  api_settings_set_fn set = nullptr;
};

// Loaded once per process from the suite's binary folder (then from beside
// this module) and kept until the module unloads.
const settings_api_t& settings_api();

// The suite's binary folder (support::suite_bin_folder), with "x64\" appended when
// the 64-bit binaries are wanted; empty when there is no absolute folder.
std::wstring suite_bin_dir(bool want64 = false);

// Readers return S_OK with the value, or the failure (E_NOTIMPL without the
// library, E_INVALIDARG for a boolean stored as 0 or as no number).
HRESULT read_setting_string(const settings_api_t& api,
                            const wchar_t* name,
                            std::wstring& value) noexcept;
HRESULT read_setting_string(const wchar_t* name, std::wstring& value) noexcept;
HRESULT read_setting_integer(const wchar_t* name, std::int32_t& value) noexcept;
HRESULT read_setting_boolean(const wchar_t* name, bool& value) noexcept;
HRESULT read_setting_boolean(const settings_api_t& api, const wchar_t* name, bool& value) noexcept;

// Writers trace their failure and return it.
HRESULT write_setting(const settings_api_t& api,
                      const wchar_t* name,
                      const std::wstring& value) noexcept;
HRESULT write_setting(const wchar_t* name, const std::wstring& value) noexcept;
HRESULT write_setting_boolean(const wchar_t* name, bool value) noexcept;

// The policy "EnableOnlineIds" through the suite's platform library.
HRESULT GetGPOSettings(DWORD* value) noexcept;

// "DisableStatus" of HKLM\SOFTWARE\Corvantis\Applications\OnlineIds; 0 when absent.
DWORD read_disable_status() noexcept;

inline constexpr wchar_t kOnlineIdsKey[] = L"SOFTWARE\\Corvantis\\Applications\\OnlineIds";
inline constexpr wchar_t kIdCardKey[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";

}  // namespace plugin
