// Finding a plug-in through the host's plug-in keys, loading its module and
// creating its object.
#pragma once

#include <windows.h>

#include <string>

#include "com_values.h"

namespace cvhost {

// Where the plug-in keys live (HKEY_LOCAL_MACHINE, the 32-bit view).
inline constexpr wchar_t kPluginsKey[] = L"SOFTWARE\\Corvantis\\CVHC\\Plugins";

struct plugin_location_t {
  std::wstring key_path;     // the class key, below HKEY_LOCAL_MACHINE
  std::wstring module_path;  // expanded
  CLSID clsid = CLSID_NULL;
};

// The plug-in registered for a host element. Of several class keys, the one of
// the component's class is taken when present, else the first. Throws
// host_error (kExitNotRegistered) when there is none usable.
plugin_location_t find_plugin(const std::wstring& element);

// A loaded plug-in module. At the end it is unloaded only when it says it may
// be (DllCanUnloadNow); otherwise it stays for the life of the process, as in
// the console.
class CPluginModule {
 public:
  // Throws host_error (kExitModule) when the module cannot be loaded or does not
  // export DllGetClassObject.
  explicit CPluginModule(const std::wstring& path);
  CPluginModule(const CPluginModule&) = delete;
  CPluginModule& operator=(const CPluginModule&) = delete;
  ~CPluginModule();

  HMODULE handle() const noexcept { return m_module; }

  // Creates the object of the class through its class factory. Throws host_error
  // (kExitClass) on failure.
  com_ptr<IUnknown> create_object(REFCLSID clsid) const;

 private:
  using get_class_object_fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

  HMODULE m_module = nullptr;
  get_class_object_fn m_get_class_object = nullptr;
};

// Throws host_error (kExitClass) with "class not available: ..." on failure.
[[noreturn]] void throw_class_error(HRESULT hr, const std::string& step);

template <typename T>
com_ptr<T> query_interface(const com_ptr<IUnknown>& object, REFIID iid, const char* name) {
  com_ptr<T> result;
  const HRESULT hr = object.query(iid, result);
  if (FAILED(hr) || !result)
    throw_class_error(FAILED(hr) ? hr : E_NOINTERFACE, std::string("interface ") + name);
  return result;
}

}  // namespace cvhost
