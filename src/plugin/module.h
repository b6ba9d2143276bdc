// The component module: counts the live objects of the component.
#pragma once

#include <objbase.h>

#include <windows.h>
#include <string>

namespace plugin {

class CCVOnlineIDsModule {
 public:
  CCVOnlineIDsModule() = default;
  virtual ~CCVOnlineIDsModule() = default;
  CCVOnlineIDsModule(const CCVOnlineIDsModule&) = delete;
  CCVOnlineIDsModule& operator=(const CCVOnlineIDsModule&) = delete;

  virtual LONG Lock() noexcept { return ::InterlockedIncrement(&m_lockCount); }
  virtual LONG Unlock() noexcept { return ::InterlockedDecrement(&m_lockCount); }
  virtual LONG GetLockCount() const noexcept { return m_lockCount; }
  // The system's global interface table; the caller releases it.
  virtual HRESULT GetGITPtr(IGlobalInterfaceTable** table) const noexcept;

  // Replacements of the registry scripts: "APPID" names the class id.
  virtual void AddCommonRGSReplacements(std::wstring& script) const;

  HINSTANCE instance() const noexcept { return m_instance; }
  // The full file name of the module.
  std::wstring ModulePath() const;
  void set_instance(HINSTANCE instance) noexcept { m_instance = instance; }

  // The language resource satellite "<module folder>\<language id>\<module
  // file name>.mui". Before Windows 6 the module loads it at attach; from
  // Windows 6 on the system would load it itself, but only for a module that
  // carries the system's language configuration, which this one doesn't: so
  // resources() loads it on first use, outside the loader lock, for the
  // user's UI language or else English (0409). Freed at detach.
  void LoadSatellite() noexcept;
  void FreeSatellite() noexcept;
  // The satellite, else the module itself.
  HINSTANCE resources() const noexcept;

 private:
  HINSTANCE LoadLanguageLibrary() const noexcept;
  static BOOL CALLBACK LoadLanguageOnce(INIT_ONCE*, void* self, void**);

  volatile LONG m_lockCount = 0;
  HINSTANCE m_instance = nullptr;
  mutable HINSTANCE m_satellite = nullptr;
  mutable INIT_ONCE m_languageOnce = INIT_ONCE_STATIC_INIT;
};

CCVOnlineIDsModule& module() noexcept;

}  // namespace plugin
