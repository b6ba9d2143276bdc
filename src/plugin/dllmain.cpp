// The module's entry points. The tracer is one of the module's static objects:
// it is built before DllMain sees the attach and destroyed after the detach.
#include <windows.h>

#include "plugin/CCVHCPages.h"
#include "plugin/cleanup_list.h"
#include "plugin/module.h"
#include "plugin/registrar.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace {

// Host elements the plug-in registers for, in registration order.
const wchar_t* const kHostElements[] = {L"UserConsole", L"UIElements\\AppControl",
                                        L"UIElements\\BackupRestore", L"DashBoard"};

struct cleanup_item_t {
  const wchar_t* root;
  const wchar_t* path;
  unsigned flags;
  const wchar_t* value_name;  // null: no value name column
};

const cleanup_item_t kCleanupItems[] = {
    {L"HKU", L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard", 8, nullptr},
    {L"HKU", L"SOFTWARE\\Corvantis\\Applications\\DashBoard", 1, L"LastQLCategory"},
    {L"HKU", L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories", 4108, nullptr},
    {L"HKU", L"SOFTWARE\\Corvantis\\Applications\\KVAppSettings", 5, L"OpenSecurityManager"},
    {L"HKU", L"SOFTWARE\\Corvantis\\Applications\\KVAppSettings", 5, L"ShowTrainingPrompt"},
    {L"HK", L"SOFTWARE\\Corvantis\\Applications\\DashBoard", 8, nullptr},
    {L"FILE", L"Corvantis\\KVX\\Templates\\*", 4097, nullptr},
    {L"FILE", L"Corvantis\\KVX\\CVIconCache\\*", 4097, nullptr},
    {L"FILE", L"Corvantis\\KVX\\*", 4097, nullptr},
    {L"FILE", L"Corvantis\\*", 4097, nullptr},
    {L"DIR", L"Corvantis", 4096, nullptr},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // Nothing may escape into the loader: a failure here is traced and the module
  // stays loaded (without its satellite, which only holds resources).
  try {
    switch (reason) {
      case DLL_PROCESS_ATTACH: {
        tracecore::trace_scope scope("DllMain::ProcessAttach");
        plugin::module().set_instance(instance);
        ::DisableThreadLibraryCalls(instance);
        plugin::module().LoadSatellite();
        break;
      }
      case DLL_PROCESS_DETACH: {
        tracecore::trace_scope scope("DllMain::ProcessDetach");
        tracecore::trace_format("live objects: %d",
                                static_cast<int>(plugin::module().GetLockCount()));
        plugin::module().FreeSatellite();
        break;
      }
      default:
        break;
    }
  } catch (...) {
    tracecore::trace_error("DllMain", ::support::result_from_caught_exception());
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  tracecore::trace_scope scope("DllGetClassObject");
  const HRESULT hr = plugin::GetPluginClassObject(clsid, iid, object);
  if (FAILED(hr))
    tracecore::trace_error("DllGetClassObject", hr);
  return hr;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  tracecore::trace_scope scope("DllRegisterServer");
  try {
    CVHC_SDK::CRegisterComponents registrar;
    const std::wstring path = plugin::module().ModulePath();
    for (const wchar_t* element : kHostElements) {
      const HRESULT hr =
          registrar.Register(element, CVONLINEIDSLib::CLSID_CCVHCPages, path.c_str());
      if (FAILED(hr)) {
        tracecore::trace_error(element, hr);
        return hr;
      }
    }
    return S_OK;
  }
  CATCH_RETURN();
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  tracecore::trace_scope scope("DllUnregisterServer");
  try {
    for (const cleanup_item_t& item : kCleanupItems) {
      try {
        plugin::AddCleanupLine(
            item.root, item.path, item.flags,
            item.value_name ? std::optional<std::wstring>(item.value_name) : std::nullopt);
      } catch (...) {
        // Traced where it failed. The uninstaller's list is a courtesy:
        // unregistering goes on without it.
      }
    }
    CVHC_SDK::CUnregisterComponents unregistrar;
    HRESULT hr = S_OK;
    for (const wchar_t* element :
         {L"DashBoard", L"UIElements\\BackupRestore", L"UIElements\\AppControl", L"UserConsole"})
      hr = unregistrar.Unregister(element, CVONLINEIDSLib::CLSID_CCVHCPages);
    return hr;
  }
  CATCH_RETURN();
}
