// The module's entry points. The tracer is one of the module's static objects:
// it is built before DllMain sees the attach and destroyed after the detach.
#include <windows.h>

#include "plugin/module.h"
#include "tracing/trace.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: {
      tracecore::trace_scope scope("DllMain::ProcessAttach");
      plugin::module().set_instance(instance);
      ::DisableThreadLibraryCalls(instance);
      break;
    }
    case DLL_PROCESS_DETACH: {
      tracecore::trace_scope scope("DllMain::ProcessDetach");
      tracecore::trace_format("live objects: %d",
                              static_cast<int>(plugin::module().GetLockCount()));
      break;
    }
    default:
      break;
  }
  return TRUE;
}

// The plug-in object arrives with the plug-in frame; until then the module
// serves no class and registers nothing.
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* object) {
  tracecore::trace_scope scope("DllGetClassObject");
  if (object == nullptr)
    return E_POINTER;
  *object = nullptr;
  tracecore::trace_error("no class object available", CLASS_E_CLASSNOTAVAILABLE);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  tracecore::trace_scope scope("DllRegisterServer");
  tracecore::trace_error("registration not available", E_NOTIMPL);
  return E_NOTIMPL;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  tracecore::trace_scope scope("DllUnregisterServer");
  tracecore::trace_error("unregistration not available", E_NOTIMPL);
  return E_NOTIMPL;
}
