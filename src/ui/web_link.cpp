#include "ui/web_link.h"

#include <windows.h>

#include <vector>

#include "plugin/module.h"
#include "plugin/settings.h"
#include "tracing/trace.h"

namespace ui {
namespace {

bool setting_true(const wchar_t* name) {
  bool value = false;
  return SUCCEEDED(plugin::read_setting_boolean(name, value)) && value;
}

std::wstring setting_text(const wchar_t* name) {
  std::wstring value;
  return SUCCEEDED(plugin::read_setting_string(name, value)) ? value : std::wstring();
}

std::array<std::uint16_t, 4> module_file_version() {
  std::array<std::uint16_t, 4> version{};
  const std::wstring path = plugin::module().ModulePath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0)
    return version;
  std::vector<BYTE> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (::GetFileVersionInfoW(path.c_str(), 0, size, info.data()) &&
      ::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
      fixed != nullptr && length >= sizeof *fixed) {
    version = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
  }
  return version;
}

std::wstring locale_text(LCID locale, LCTYPE type) {
  wchar_t text[16] = L"";
  return ::GetLocaleInfoW(locale, type, text, 16) > 0 ? text : L"";
}

// RtlGetVersion: GetVersionEx answers what the manifest allows, this the truth.
void system_version(web_link_values_t& values) {
  using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{sizeof info};
  const auto get = reinterpret_cast<rtl_get_version_fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (get != nullptr && get(&info) == 0) {
    values.os_major = info.dwMajorVersion;
    values.os_minor = info.dwMinorVersion;
    values.os_build = info.dwBuildNumber;
  }
}

}  // namespace

web_link_values_t CurrentWebLinkValues(std::uint32_t kind) {
  static const bool oem_dell = setting_true(L"is_oemDell");
  static const bool oem_hp = setting_true(L"is_oemHP");
  web_link_values_t values;
  values.kind = kind;
  values.personal_mode = setting_true(L"is_personalmode");
  values.personal_build_version = setting_text(L"personal_build_version");
  values.file_version = module_file_version();
  values.oem_dell = oem_dell;
  values.oem_hp = oem_hp;
  values.installed_apps = setting_text(L"dashboard_installed_apps");
  values.sensor_active = setting_true(L"is_sensorstateactive");
  const LCID locale = web_link_locale(::GetUserDefaultUILanguage());
  values.language = locale_text(locale, LOCALE_SISO639LANGNAME);
  values.country = locale_text(locale, LOCALE_SISO3166CTRYNAME);
  system_version(values);
  return values;
}

std::wstring BuildWebLink(std::uint32_t kind) {
  tracecore::trace_scope scope("BuildWebLink");
  try {
    return build_web_link(CurrentWebLinkValues(kind));
  } catch (...) {
    tracecore::trace_error("BuildWebLink", E_OUTOFMEMORY);
    return std::wstring();
  }
}

}  // namespace ui
