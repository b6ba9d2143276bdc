#include "plugin_module.h"

#include <optional>
#include <vector>

#include "output.h"
#include "plugin/CVOnlineIDsLib.h"
#include "support/registry.h"

namespace cvhost {

namespace {

std::optional<CLSID> parse_clsid(const std::wstring& text) {
  // IIDFromString only parses; it never consults the class registry.
  CLSID clsid;
  if (text.size() != 38 || FAILED(::IIDFromString(text.c_str(), &clsid)))
    return std::nullopt;
  return clsid;
}

// An export of the module as a function of the given type.
template <typename F>
F export_of(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

bool same_name(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

plugin_location_t find_plugin(const std::wstring& element) {
  const std::wstring element_path = std::wstring(kPluginsKey) + L"\\" + element;
  const std::string where = "HKEY_LOCAL_MACHINE\\" + utf8(element_path);
  const auto element_key =
      support::try_open_key(HKEY_LOCAL_MACHINE, element_path.c_str(), KEY_READ);
  if (!element_key)
    throw host_error(kExitNotRegistered, "no plug-in is registered for the element \"" +
                                             utf8(element) + "\" (" + where + " does not exist)");

  const std::vector<std::wstring> classes = support::enum_subkey_names(element_key->get());
  if (classes.empty())
    throw host_error(kExitNotRegistered, "no plug-in is registered for the element \"" +
                                             utf8(element) + "\" (" + where + " has no class key)");
  std::wstring chosen = classes.front();
  for (const std::wstring& name : classes) {
    if (same_name(name, CVONLINEIDSLib::kCCVHCPagesClsidText)) {
      chosen = name;
      break;
    }
  }

  plugin_location_t location;
  location.key_path = element_path + L"\\" + chosen;
  const std::string class_where = "HKEY_LOCAL_MACHINE\\" + utf8(location.key_path);
  const auto clsid = parse_clsid(chosen);
  if (!clsid)
    throw host_error(kExitNotRegistered,
                     "the plug-in key " + class_where + " does not name a class identifier");
  location.clsid = *clsid;

  const auto class_key = support::try_open_key(element_key->get(), chosen.c_str(), KEY_QUERY_VALUE);
  std::optional<std::wstring> path;
  if (class_key)
    path = support::try_get_string(class_key->get(), nullptr);
  if (!path || path->empty())
    throw host_error(kExitNotRegistered,
                     "the plug-in key " + class_where + " names no module (default value)");
  location.module_path = support::expand_environment(*path);
  return location;
}

CPluginModule::CPluginModule(const std::wstring& path) {
  m_module = ::LoadLibraryW(path.c_str());
  if (m_module == nullptr) {
    const DWORD error = ::GetLastError();
    throw host_error(kExitModule, "cannot load the plug-in module " + utf8(path) + ": error " +
                                      std::to_string(error) + " " + error_text(error));
  }
  m_get_class_object = export_of<get_class_object_fn>(m_module, "DllGetClassObject");
  if (m_get_class_object == nullptr) {
    const DWORD error = ::GetLastError();
    ::FreeLibrary(m_module);
    m_module = nullptr;
    throw host_error(kExitModule, "the plug-in module " + utf8(path) +
                                      " has no DllGetClassObject: error " + std::to_string(error) +
                                      " " + error_text(error));
  }
}

CPluginModule::~CPluginModule() {
  using can_unload_fn = HRESULT(STDAPICALLTYPE*)();
  const auto can_unload = export_of<can_unload_fn>(m_module, "DllCanUnloadNow");
  if (can_unload != nullptr && can_unload() == S_OK)
    ::FreeLibrary(m_module);
}

com_ptr<IUnknown> CPluginModule::create_object(REFCLSID clsid) const {
  com_ptr<IClassFactory> factory;
  HRESULT hr = m_get_class_object(clsid, IID_IClassFactory, factory.put_void());
  if (FAILED(hr) || !factory)
    throw_class_error(FAILED(hr) ? hr : E_NOINTERFACE, "DllGetClassObject");
  com_ptr<IUnknown> object;
  hr = factory->CreateInstance(nullptr, IID_IUnknown, object.put_void());
  if (FAILED(hr) || !object)
    throw_class_error(FAILED(hr) ? hr : E_NOINTERFACE, "CreateInstance");
  return object;
}

void throw_class_error(HRESULT hr, const std::string& step) {
  throw host_error(kExitClass,
                   "class not available: " + hex(hr) + " " + hresult_text(hr) + " (" + step + ")");
}

}  // namespace cvhost
