// The console host's plug-in keys: under HKLM "SOFTWARE\Corvantis\CVHC\Plugins",
// "<element>\<class id>" with the module path as its default value.
#pragma once

#include <windows.h>

#include <string>

namespace CVHC_SDK {

inline constexpr wchar_t kPluginsKey[] = L"SOFTWARE\\Corvantis\\CVHC\\Plugins";

class CRegistrarBase {
 public:
  virtual ~CRegistrarBase();
  CRegistrarBase(const CRegistrarBase&) = delete;
  CRegistrarBase& operator=(const CRegistrarBase&) = delete;
  HRESULT status() const noexcept { return m_status; }

 protected:
  CRegistrarBase() = default;
  HKEY m_key = nullptr;
  HRESULT m_status = S_OK;
};

class CRegisterComponents : public CRegistrarBase {
 public:
  CRegisterComponents();
  ~CRegisterComponents() override;
  virtual HRESULT PreRegister(REFCLSID clsid, const wchar_t* modulePath);
  HRESULT Register(const wchar_t* element, REFCLSID clsid, const wchar_t* modulePath) noexcept;
};

class CUnregisterComponents : public CRegistrarBase {
 public:
  CUnregisterComponents();
  ~CUnregisterComponents() override;
  virtual HRESULT Unregister(const wchar_t* element, REFCLSID clsid) noexcept;
  virtual HRESULT DeleteKeyChain(const wchar_t* element, const wchar_t* clsidText) noexcept;
};

// The class id in registry form: braces, upper-case hexadecimal.
std::wstring clsid_text(REFCLSID clsid);

}  // namespace CVHC_SDK
