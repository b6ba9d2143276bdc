#include "support/com.h"

namespace support {

HRESULT query_interface_from_table(void* object, const qi_entry* table, REFIID iid, void** out) {
  if (out == nullptr)
    return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<char*>(object) + table[0].offset;
  } else {
    for (const qi_entry* entry = table; entry->iid != nullptr; ++entry) {
      if (IsEqualIID(iid, *entry->iid)) {
        *out = static_cast<char*>(object) + entry->offset;
        break;
      }
    }
  }
  if (*out == nullptr)
    return E_NOINTERFACE;
  static_cast<IUnknown*>(*out)->AddRef();
  return S_OK;
}

}  // namespace support
