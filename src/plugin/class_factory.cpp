// The class factory of the plug-in object.
#include "plugin/CCVHCPages.h"
#include "plugin/module.h"
#include "support/com.h"
#include "tracing/trace.h"

namespace plugin {
namespace {

class CPagesClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
      return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = ::InterlockedDecrement(&m_refs);
    if (refs == 0)
      delete this;
    return static_cast<ULONG>(refs);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    try {
      CCVHCPages* pages = new CCVHCPages();
      const HRESULT hr = pages->QueryInterface(iid, object);
      pages->Release();
      return hr;
    }
    CATCH_RETURN();
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      module().Lock();
    else
      module().Unlock();
    return S_OK;
  }

 private:
  volatile LONG m_refs = 1;
};

}  // namespace

HRESULT GetPluginClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept {
  if (object == nullptr)
    return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CVONLINEIDSLib::CLSID_CCVHCPages))
    return CLASS_E_CLASSNOTAVAILABLE;
  try {
    CPagesClassFactory* factory = new CPagesClassFactory();
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
  }
  CATCH_RETURN();
}

}  // namespace plugin
