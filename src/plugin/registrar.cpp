#include "plugin/registrar.h"

#include <objbase.h>

#include "support/hresult.h"
#include "tracing/trace.h"

namespace CVHC_SDK {

CRegistrarBase::~CRegistrarBase() = default;

std::wstring clsid_text(REFCLSID clsid) {
  wchar_t text[40];
  if (::StringFromGUID2(clsid, text, 40) == 0)
    THROW_HR(E_OUTOFMEMORY);
  return text;
}

CRegisterComponents::CRegisterComponents() {
  const LONG error = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginsKey, 0, nullptr, 0, KEY_WRITE,
                                       nullptr, &m_key, nullptr);
  if (error != ERROR_SUCCESS) {
    m_key = nullptr;
    m_status = HRESULT_FROM_WIN32(static_cast<DWORD>(error));
  }
}

CRegisterComponents::~CRegisterComponents() {
  if (m_key)
    ::RegCloseKey(m_key);
}

HRESULT CRegisterComponents::PreRegister(REFCLSID, const wchar_t*) {
  return S_OK;
}

HRESULT CRegisterComponents::Register(const wchar_t* element,
                                      REFCLSID clsid,
                                      const wchar_t* modulePath) noexcept {
  tracecore::trace_scope scope("CRegisterComponents::Register");
  if (FAILED(m_status))
    return m_status;
  try {
    THROW_IF_FAILED(PreRegister(clsid, modulePath));
    const std::wstring subkey = std::wstring(element) + L"\\" + clsid_text(clsid);
    HKEY key = nullptr;
    THROW_WIN32_IF_ERROR(
        ::RegCreateKeyExW(m_key, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const std::wstring path = modulePath;
    const LONG error = ::RegSetValueExW(key, nullptr, 0, REG_EXPAND_SZ,
                                        reinterpret_cast<const BYTE*>(path.c_str()),
                                        static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    THROW_WIN32_IF_ERROR(error);
    tracecore::trace_format("registered %ls", subkey.c_str());
    return S_OK;
  }
  CATCH_RETURN();
}

CUnregisterComponents::CUnregisterComponents() {
  const LONG error =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginsKey, 0, KEY_WRITE | KEY_READ, &m_key);
  if (error != ERROR_SUCCESS) {
    m_key = nullptr;
    m_status = HRESULT_FROM_WIN32(static_cast<DWORD>(error));
  }
}

CUnregisterComponents::~CUnregisterComponents() {
  if (m_key)
    ::RegCloseKey(m_key);
}

HRESULT CUnregisterComponents::Unregister(const wchar_t* element, REFCLSID clsid) noexcept {
  tracecore::trace_scope scope("CUnregisterComponents::Unregister");
  try {
    return DeleteKeyChain(element, clsid_text(clsid).c_str());
  }
  CATCH_RETURN();
}

HRESULT CUnregisterComponents::DeleteKeyChain(const wchar_t* element,
                                              const wchar_t* clsidText) noexcept {
  tracecore::trace_scope scope("CUnregisterComponents::DeleteKeyChain");
  if (FAILED(m_status))
    return m_status;
  try {
    // The class key goes, then each parent that became empty, up to the
    // element's first component.
    std::wstring path = std::wstring(element) + L"\\" + clsidText;
    for (;;) {
      HKEY key = nullptr;
      THROW_WIN32_IF_ERROR(::RegOpenKeyExW(m_key, path.c_str(), 0, KEY_READ, &key));
      DWORD subkeys = 0;
      const LONG query = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      ::RegCloseKey(key);
      THROW_WIN32_IF_ERROR(query);
      if (subkeys != 0)
        return S_OK;
      THROW_WIN32_IF_ERROR(::RegDeleteKeyW(m_key, path.c_str()));
      const auto slash = path.find_last_of(L'\\');
      if (slash == std::wstring::npos)
        return S_OK;
      path.resize(slash);
    }
  }
  CATCH_RETURN();
}

}  // namespace CVHC_SDK
