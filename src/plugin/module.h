// The component module: counts the live objects of the component.
#pragma once

#include <objbase.h>
#include <windows.h>

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

  HINSTANCE instance() const noexcept { return m_instance; }
  void set_instance(HINSTANCE instance) noexcept { m_instance = instance; }

 private:
  volatile LONG m_lockCount = 0;
  HINSTANCE m_instance = nullptr;
};

CCVOnlineIDsModule& module() noexcept;

}  // namespace plugin
