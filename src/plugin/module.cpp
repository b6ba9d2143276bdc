#include "plugin/module.h"

namespace plugin {

HRESULT CCVOnlineIDsModule::GetGITPtr(IGlobalInterfaceTable** table) const noexcept {
  if (table == nullptr)
    return E_POINTER;
  *table = nullptr;
  return ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IGlobalInterfaceTable, reinterpret_cast<void**>(table));
}

CCVOnlineIDsModule& module() noexcept {
  static CCVOnlineIDsModule instance;
  return instance;
}

}  // namespace plugin
