#include "plugin/module.h"

#include <cstdio>

#include "plugin/CVOnlineIDsLib.h"
#include "tracing/trace.h"

namespace plugin {

HRESULT CCVOnlineIDsModule::GetGITPtr(IGlobalInterfaceTable** table) const noexcept {
  if (table == nullptr)
    return E_POINTER;
  *table = nullptr;
  return ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IGlobalInterfaceTable, reinterpret_cast<void**>(table));
}

void CCVOnlineIDsModule::AddCommonRGSReplacements(std::wstring& script) const {
  const std::wstring placeholder = L"%APPID%";
  const std::wstring appid = CVONLINEIDSLib::kCCVHCPagesClsidText;
  for (std::size_t at = 0; (at = script.find(placeholder, at)) != std::wstring::npos;
       at += appid.size())
    script.replace(at, placeholder.size(), appid);
}

std::wstring CCVOnlineIDsModule::ModulePath() const {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(m_instance, path, MAX_PATH);
  return std::wstring(path, length);
}

void CCVOnlineIDsModule::LoadSatellite() noexcept {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExW(&version) || version.dwMajorVersion >= 6)
    return;
  try {
    // <module folder>\<language id>\<module file name>.mui
    const std::wstring module_path = ModulePath();
    const auto slash = module_path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
      return;
    wchar_t language[16];
    std::swprintf(language, 16, L"%04x", static_cast<unsigned>(::GetUserDefaultUILanguage()));
    const std::wstring satellite = module_path.substr(0, slash + 1) + language + L"\\" +
                                   module_path.substr(slash + 1) + L".mui";
    m_satellite = ::LoadLibraryExW(satellite.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m_satellite == nullptr)
      tracecore::trace_lasterror(satellite.c_str());
  } catch (...) {
    // Without the satellite the texts come from the branding library alone.
    tracecore::trace_error("LoadSatellite", E_OUTOFMEMORY);
  }
}

void CCVOnlineIDsModule::FreeSatellite() noexcept {
  if (m_satellite)
    ::FreeLibrary(m_satellite);
  m_satellite = nullptr;
}

CCVOnlineIDsModule& module() noexcept {
  static CCVOnlineIDsModule instance;
  return instance;
}

}  // namespace plugin
