// The plug-in object: the one class the module hands out. It holds no state;
// every call reads what it needs and returns.
#pragma once

#include "plugin/CVOnlineIDsLib.h"

namespace plugin {

class CCVHCPages final : public CVONLINEIDSLib::ICVHCPages,
                         public CVONLINEIDSLib::ICVHCElementUI,
                         public CVONLINEIDSLib::ICVPSecurityStatus,
                         public CVONLINEIDSLib::ICVHCBackupRestore,
                         public CVONLINEIDSLib::ICVHCPluginInfo,
                         public CVONLINEIDSLib::ICVHCDisableApp {
 public:
  CCVHCPages();
  CCVHCPages(const CCVHCPages&) = delete;
  CCVHCPages& operator=(const CCVHCPages&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ICVHCPages
  HRESULT STDMETHODCALLTYPE AddPages(IUnknown* site) override;
  // ICVHCElementUI
  HRESULT STDMETHODCALLTYPE GetProperty(LONG id, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetProperty(LONG id, LONG value) override;
  // ICVPSecurityStatus
  HRESULT STDMETHODCALLTYPE GetStatus(LONG* status, BSTR* text) override;
  // ICVHCBackupRestore
  HRESULT STDMETHODCALLTYPE GetStorageData(VARIANT* names, VARIANT* data) override;
  HRESULT STDMETHODCALLTYPE SetStorageData(VARIANT* data) override;
  // ICVHCPluginInfo
  HRESULT STDMETHODCALLTYPE GetInfo(LONG id, VARIANT* value) override;
  // ICVHCDisableApp
  HRESULT STDMETHODCALLTYPE GetStatus(LONG* state) override;
  HRESULT STDMETHODCALLTYPE DisableLocal(LONG disable) override;

 private:
  ~CCVHCPages();
  volatile LONG m_refs = 1;
};

// The class factory of CCVHCPages.
HRESULT GetPluginClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept;

}  // namespace plugin
