// The ID-card component, "CVUserAuth.CVIDCardInfo": the object answers
// IUnknown and the refresh interface. Its eleventh method reads IDCard_SS and
// records what it read under the stand-in's key: "LastStatus" (REG_DWORD, the
// value or 0xFFFFFFFF when there is none) and "RefreshCount" (one more per
// call), then sets the event "Local\CVUserAuth_Refreshed" for whoever waits.
//
// Faults (HKCU\Software\CorvantisStandIns\CVUserAuth): "Fail_CreateInstance"
// (the class factory), "Fail_QueryInterface" (asking for the refresh interface),
// "Fail_Refresh" (the method). DllUnregisterServer makes it unregistered again.
#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <string>

#include "suite/common/standin_faults.h"
#include "suite/include/suite_api.h"
#include "support/registry.h"
#include "support/unique_any.h"

namespace {

constexpr wchar_t kLibrary[] = L"CVUserAuth";
constexpr wchar_t kClsidText[] = L"{B27878E5-6198-4F55-A9D9-3BF62669EBC4}";
constexpr CLSID kClsid = {0xB27878E5,
                          0x6198,
                          0x4F55,
                          {0xA9, 0xD9, 0x3B, 0xF6, 0x26, 0x69, 0xEB, 0xC4}};
constexpr wchar_t kStatusKey[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";
constexpr wchar_t kRefreshedEvent[] = L"Local\\CVUserAuth_Refreshed";

HMODULE g_module = nullptr;
LONG g_objects = 0;

std::wstring fault_key() {
  return std::wstring(CV_STANDIN_FAULT_KEY) + L"\\" + kLibrary;
}

void record_refresh() {
  DWORD status = 0xFFFFFFFF;
  if (auto key = support::try_open_key(HKEY_CURRENT_USER, kStatusKey, KEY_READ))
    status = support::try_get_dword(key->get(), L"IDCard_SS").value_or(0xFFFFFFFF);
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, fault_key().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &raw, nullptr) == ERROR_SUCCESS) {
    const support::unique_hkey key(raw);
    const DWORD count = support::try_get_dword(key.get(), L"RefreshCount").value_or(0) + 1;
    ::RegSetValueExW(key.get(), L"LastStatus", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&status),
                     sizeof status);
    ::RegSetValueExW(key.get(), L"RefreshCount", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&count), sizeof count);
  }
  if (HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, kRefreshedEvent)) {
    ::SetEvent(event);
    ::CloseHandle(event);
  }
}

// The refresh interface: seven methods this stand-in does not offer, then the
// refresh in the eleventh place.
struct IIdCardRefresh : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
  virtual HRESULT STDMETHODCALLTYPE Refresh() = 0;
};

class CIdCardInfo final : public IIdCardRefresh {
 public:
  CIdCardInfo() { ::InterlockedIncrement(&g_objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (::IsEqualIID(iid, IID_ICVIDCardRefresh)) {
      if (const HRESULT hr = standin::injected_fault(kLibrary, L"QueryInterface"); FAILED(hr))
        return hr;
    } else if (!::IsEqualIID(iid, IID_IUnknown)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IIdCardRefresh*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = ::InterlockedDecrement(&m_refs);
    if (refs == 0)
      delete this;
    return static_cast<ULONG>(refs);
  }

  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Refresh() override {
    return standin::guarded_call([] {
      if (const HRESULT hr = standin::injected_fault(kLibrary, L"Refresh"); FAILED(hr))
        return hr;
      record_refresh();
      return S_OK;
    });
  }

 private:
  ~CIdCardInfo() { ::InterlockedDecrement(&g_objects); }
  LONG m_refs = 1;
};

class CFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static object
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    return standin::guarded_call([&] {
      if (const HRESULT hr = standin::injected_fault(kLibrary, L"CreateInstance"); FAILED(hr))
        return hr;
      CIdCardInfo* card = new CIdCardInfo;
      const HRESULT hr = card->QueryInterface(iid, object);
      card->Release();
      return hr;
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ::InterlockedIncrement(&g_objects) : ::InterlockedDecrement(&g_objects);
    return S_OK;
  }
};

CFactory g_factory;

LSTATUS set_string(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY raw = nullptr;
  LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS)
    return status;
  const support::unique_hkey key(raw);
  return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr)
    return E_POINTER;
  *object = nullptr;
  if (!::IsEqualCLSID(clsid, kClsid))
    return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH)
    return E_FAIL;
  const std::wstring clsid_key = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring progid_key = CV_IDCARD_PROGID;
  LSTATUS status = ERROR_SUCCESS;
  for (const LSTATUS s :
       {set_string(progid_key + L"\\CLSID", nullptr, kClsidText),
        set_string(clsid_key, nullptr, L"ID card information"),
        set_string(clsid_key + L"\\ProgID", nullptr, CV_IDCARD_PROGID),
        set_string(clsid_key + L"\\InprocServer32", nullptr, path),
        set_string(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Both")}) {
    if (s != ERROR_SUCCESS)
      status = s;
  }
  return HRESULT_FROM_WIN32(status);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, CV_IDCARD_PROGID);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
  return S_OK;
}
