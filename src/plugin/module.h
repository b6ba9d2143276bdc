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

  // The language resource satellite, which the system loads itself from
  // Windows 6 on; before that the module loads it (and frees it at detach).
  void LoadSatellite() noexcept;
  void FreeSatellite() noexcept;
  HINSTANCE resources() const noexcept { return m_satellite ? m_satellite : m_instance; }

 private:
  volatile LONG m_lockCount = 0;
  HINSTANCE m_instance = nullptr;
  HINSTANCE m_satellite = nullptr;
};

CCVOnlineIDsModule& module() noexcept;

}  // namespace plugin
