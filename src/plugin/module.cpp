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

namespace {

std::wstring satellite_path(const std::wstring& module_path, unsigned language) {
  const auto slash = module_path.find_last_of(L'\\');
  if (slash == std::wstring::npos)
    return std::wstring();
  wchar_t folder[16];
  std::swprintf(folder, 16, L"%04x", language);
  return module_path.substr(0, slash + 1) + folder + L"\\" + module_path.substr(slash + 1) +
         L".mui";
}

constexpr unsigned kEnglish = 0x0409;

}  // namespace

void CCVOnlineIDsModule::LoadSatellite() noexcept {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExW(&version) || version.dwMajorVersion >= 6)
    return;
  try {
    const std::wstring satellite = satellite_path(ModulePath(), ::GetUserDefaultUILanguage());
    if (satellite.empty())
      return;
    m_satellite = ::LoadLibraryExW(satellite.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m_satellite == nullptr)
      tracecore::trace_lasterror(satellite.c_str());
  } catch (...) {
    // Without the satellite the texts come from the branding library alone.
    tracecore::trace_error("LoadSatellite", E_OUTOFMEMORY);
  }
}

HINSTANCE CCVOnlineIDsModule::LoadLanguageLibrary() const noexcept {
  try {
    const std::wstring path = ModulePath();
    for (const unsigned language :
         {static_cast<unsigned>(::GetUserDefaultUILanguage()), kEnglish}) {
      const std::wstring satellite = satellite_path(path, language);
      if (satellite.empty() || ::GetFileAttributesW(satellite.c_str()) == INVALID_FILE_ATTRIBUTES)
        continue;
      if (HINSTANCE loaded = ::LoadLibraryExW(satellite.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
        return loaded;
      tracecore::trace_lasterror(satellite.c_str());
    }
  } catch (...) {
    tracecore::trace_error("LoadLanguageLibrary", E_OUTOFMEMORY);
  }
  return nullptr;
}

BOOL CALLBACK CCVOnlineIDsModule::LoadLanguageOnce(INIT_ONCE*, void* self, void**) {
  auto* module = static_cast<const CCVOnlineIDsModule*>(self);
  if (module->m_satellite == nullptr && module->m_instance != nullptr)
    module->m_satellite = module->LoadLanguageLibrary();
  return TRUE;
}

HINSTANCE CCVOnlineIDsModule::resources() const noexcept {
  ::InitOnceExecuteOnce(&m_languageOnce, &CCVOnlineIDsModule::LoadLanguageOnce,
                        const_cast<CCVOnlineIDsModule*>(this), nullptr);
  return m_satellite ? m_satellite : m_instance;
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
