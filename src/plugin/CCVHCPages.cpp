#include "plugin/CCVHCPages.h"

#include <cwchar>
#include <string>

#include "plugin/branding.h"
#include "plugin/module.h"
#include "plugin/pages.h"
#include "plugin/registrar.h"
#include "plugin/settings.h"
#include "store/backup_storage.h"
#include "support/com.h"
#include "support/registry.h"
#include "tracing/trace.h"

using namespace CVONLINEIDSLib;

namespace plugin {
namespace {

constexpr HRESULT kUnknownProperty = HRESULT_FROM_WIN32(ERROR_UNKNOWN_PROPERTY);  // 0x80070648
constexpr UINT kIconId = 119;
constexpr UINT kTextNotAvailable = 119;
constexpr UINT kTextWeak = 120;
constexpr UINT kTextGood = 121;
constexpr UINT kTitleMainPage = 122;
constexpr UINT kTitleSettingsPage = 124;
constexpr wchar_t kPageGroup[] = L"KVX";

BSTR new_bstr(const std::wstring& text) {
  return support::unique_bstr::from(text).release();
}

// Leading decimal digits of property 14; 0 when the host has none.
int first_view_from(const VARIANT& value) {
  if (value.vt != VT_BSTR || value.bstrVal == nullptr || value.bstrVal[0] == L'\0')
    return 0;
  return static_cast<int>(std::wcstol(value.bstrVal, nullptr, 10));
}

struct page_placement_t {
  LONG location;
  LONG order;
  LONG flags;
};

// Hands one page to the host; a page the host refuses is destroyed.
void add_page(ICVHCPageSite* site,
              CPluginPage* page,
              const char* name,
              const page_placement_t& at,
              LONG kind,
              UINT titleId,
              bool withIcon) {
  tracecore::trace_format("%s: pPage=0x%X", name,
                          static_cast<unsigned>(reinterpret_cast<UINT_PTR>(page)));
  if (page == nullptr)
    return;
  const std::wstring title = CBranding::LoadBrandedString(titleId);
  CVHC_PAGE_DESCRIPTOR descriptor{};
  descriptor.cbSize = sizeof(descriptor);
  const PROPSHEETPAGEW& sheetPage = page->SheetPage();
  if (sheetPage.pResource == nullptr) {
    // No dialog to show (the language library is missing): traced, not added.
    delete page;
    return;
  }
  descriptor.hPage = ::CreatePropertySheetPageW(&sheetPage);
  if (descriptor.hPage == nullptr) {
    tracecore::trace_lasterror("CreatePropertySheetPageW");
    delete page;
    return;
  }
  descriptor.kind = kind;
  descriptor.title = title.c_str();
  descriptor.iconModule = withIcon ? module().instance() : nullptr;
  descriptor.iconId = withIcon ? kIconId : 0;
  const HRESULT hr = site->AddPage(at.location, kPageGroup, at.order, at.flags, &descriptor);
  if (FAILED(hr)) {
    tracecore::trace_error("AddPage", hr);
    ::DestroyPropertySheetPage(descriptor.hPage);
  }
}

}  // namespace

CCVHCPages::CCVHCPages() {
  module().Lock();
  tracecore::trace_scope scope("CCVHCPages::FinalConstruct");
}

CCVHCPages::~CCVHCPages() {
  tracecore::trace_scope scope("CCVHCPages::FinalRelease");
  module().Unlock();
}

HRESULT STDMETHODCALLTYPE CCVHCPages::QueryInterface(REFIID iid, void** object) {
  static const support::qi_entry table[] = {
      QI_ENTRY(CCVHCPages, ICVHCPages, IID_ICVHCPages),
      QI_ENTRY(CCVHCPages, ICVHCElementUI, IID_ICVHCElementUI),
      QI_ENTRY(CCVHCPages, ICVPSecurityStatus, IID_ICVPSecurityStatus),
      QI_ENTRY(CCVHCPages, ICVHCBackupRestore, IID_ICVHCBackupRestore),
      QI_ENTRY(CCVHCPages, ICVHCPluginInfo, IID_ICVHCPluginInfo),
      QI_ENTRY(CCVHCPages, ICVHCDisableApp, IID_ICVHCDisableApp),
      {nullptr, 0}};
  return support::query_interface_from_table(this, table, iid, object);
}

ULONG STDMETHODCALLTYPE CCVHCPages::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE CCVHCPages::Release() {
  const LONG refs = ::InterlockedDecrement(&m_refs);
  if (refs == 0)
    delete this;
  return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE CCVHCPages::AddPages(IUnknown* site) {
  tracecore::trace_scope scope("CCVHCPages::AddPages");
  try {
    if (site == nullptr)
      THROW_HR(E_POINTER);
    // The pointer handed over is the site itself (slots 3 and 4 follow IUnknown's).
    ICVHCPageSite* const pageSite = static_cast<ICVHCPageSite*>(site);
    support::unique_variant kind;
    THROW_IF_FAILED(pageSite->GetProperty(kHostPropertyKind, kind.get()));
    const std::wstring host =
        kind->vt == VT_BSTR && kind->bstrVal ? std::wstring(kind->bstrVal) : std::wstring();
    const bool user_console = host == L"UserConsole";
    if (!user_console && host != L"DashBoard") {
      tracecore::trace_format("host kind '%ls': no pages", host.c_str());
      return S_OK;
    }
    support::unique_variant view;
    const HRESULT result = pageSite->GetProperty(kHostPropertyFirstView, view.get());
    const int first_view = SUCCEEDED(result) ? first_view_from(*view.get()) : 0;
    if (user_console) {
      add_page(pageSite, CreateMainPage(first_view), "CMainPage", {8, 1, 0}, 5, kTitleMainPage,
               true);
      add_page(pageSite, CreateSettingsPage(), "CSettingsPage", {8, 2, 0}, 1, kTitleSettingsPage,
               false);
    } else {
      add_page(pageSite, CreateMainPage(first_view), "CMainPage", {1, 1, 1}, 5, kTitleMainPage,
               true);
    }
    if (FAILED(result))
      tracecore::trace_error("GetProperty(14)", result);
    return result;
  }
  CATCH_RETURN();
}

HRESULT STDMETHODCALLTYPE CCVHCPages::GetProperty(LONG id, VARIANT* value) {
  tracecore::trace_scope scope("CCVHCPages::GetProperty");
  try {
    if (value == nullptr)
      THROW_HR(E_POINTER);
    ::VariantClear(value);
    std::wstring text;
    switch (id) {
      case 1:
        text = CBranding::LoadBrandedString(131);
        break;
      case 2:
        text = module().ModulePath() + L"," + std::to_wstring(kIconId);
        break;
      case 3:
        text = CBranding::LoadBrandedString(115);
        break;
      case 4:
        text = CBranding::LoadBrandedString(132);
        break;
      default:
        THROW_HR(kUnknownProperty);
    }
    value->bstrVal = new_bstr(text);
    value->vt = VT_BSTR;
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT STDMETHODCALLTYPE CCVHCPages::SetProperty(LONG, LONG) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CCVHCPages::GetStatus(LONG* status, BSTR* text) {
  tracecore::trace_scope scope("CCVHCPages::GetStatus");
  try {
    if (status == nullptr || text == nullptr)
      THROW_HR(E_POINTER);
    *status = 0;
    *text = nullptr;
    DWORD policy = 0;
    if (FAILED(GetGPOSettings(&policy)))
      policy = 0;
    if (policy == 3 || read_disable_status() == 2) {
      tracecore::trace_format("switched off (policy %u)", static_cast<unsigned>(policy));
      *text = new_bstr(CBranding::LoadBrandedString(kTextNotAvailable));
      return E_NOTIMPL;
    }
    DWORD rating = 0;
    if (const auto key = support::try_open_key(HKEY_CURRENT_USER, kIdCardKey, KEY_READ))
      rating = support::try_get_dword(key->get(), L"IDCard_SS").value_or(0);
    UINT text_id = kTextGood;
    if (rating == 0) {
      *status = 0;
      text_id = kTextNotAvailable;
    } else if (rating == 1) {
      *status = 2;
      text_id = kTextWeak;
    } else {
      *status = 1;
    }
    tracecore::trace_format("IDCard_SS = %u, status = %d", static_cast<unsigned>(rating),
                            static_cast<int>(*status));
    *text = new_bstr(CBranding::LoadBrandedString(text_id));
    return S_OK;
  }
  CATCH_RETURN();
}

HRESULT STDMETHODCALLTYPE CCVHCPages::GetStorageData(VARIANT* names, VARIANT* data) {
  tracecore::trace_scope scope("CCVHCPages::GetStorageData");
  return backup::GetStorageData(names, data);
}

HRESULT STDMETHODCALLTYPE CCVHCPages::SetStorageData(VARIANT* data) {
  tracecore::trace_scope scope("CCVHCPages::SetStorageData");
  const HRESULT hr = backup::SetStorageData(data);
  if (FAILED(hr))
    tracecore::trace_error("SetStorageData", hr);
  return hr;
}

HRESULT STDMETHODCALLTYPE CCVHCPages::GetInfo(LONG id, VARIANT* value) {
  tracecore::trace_scope scope("CCVHCPages::GetInfo");
  HRESULT hr = S_OK;
  try {
    if (value == nullptr)
      THROW_HR(E_POINTER);
    if (id == 0) {
      ::VariantClear(value);
      value->bstrVal = new_bstr(CVHC_SDK::clsid_text(CLSID_CCVHCPages));
      value->vt = VT_BSTR;
    } else {
      hr = kUnknownProperty;
    }
    tracecore::trace_format("%d = %ls[%d]", static_cast<int>(id),
                            value->vt == VT_BSTR && value->bstrVal ? value->bstrVal : L"",
                            static_cast<int>(value->vt));
    if (FAILED(hr))
      tracecore::trace_error("GetInfo", hr);
    return hr;
  }
  CATCH_RETURN();
}

HRESULT STDMETHODCALLTYPE CCVHCPages::GetStatus(LONG* state) {
  tracecore::trace_scope scope("CCVHCPages::GetStatus");
  if (state == nullptr)
    return E_POINTER;
  DWORD policy = 0;
  GetGPOSettings(&policy);
  *state = static_cast<LONG>(policy);
  if (*state != 1 && *state != 3)
    *state = static_cast<LONG>(read_disable_status());
  tracecore::trace_format("state = %d", static_cast<int>(*state));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CCVHCPages::DisableLocal(LONG disable) {
  tracecore::trace_scope scope("CCVHCPages::DisableLocal");
  try {
    HKEY key = nullptr;
    LONG error = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOnlineIdsKey, 0, KEY_WRITE, &key);
    if (error != ERROR_SUCCESS)
      error = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOnlineIdsKey, 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
      const support::unique_hkey online_ids(key);
      const DWORD value = disable ? 2 : 0;
      error = ::RegSetValueExW(key, L"DisableStatus", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof value);
      if (error != ERROR_SUCCESS)
        tracecore::trace_error("DisableStatus", HRESULT_FROM_WIN32(static_cast<DWORD>(error)));
    } else {
      tracecore::trace_error(kOnlineIdsKey, HRESULT_FROM_WIN32(static_cast<DWORD>(error)));
    }
    HRESULT hr;
    if (disable) {
      if (const auto card = support::try_open_key(HKEY_CURRENT_USER, kIdCardKey, KEY_WRITE))
        ::RegDeleteValueW(card->get(), L"IDCard_SS");
      CVHC_SDK::CUnregisterComponents unregistrar;
      hr = unregistrar.Unregister(L"UserConsole", CLSID_CCVHCPages);
    } else {
      CVHC_SDK::CRegisterComponents registrar;
      hr = registrar.Register(L"UserConsole", CLSID_CCVHCPages, module().ModulePath().c_str());
    }
    if (FAILED(hr))
      tracecore::trace_error("DisableLocal", hr);
    return hr;
  }
  CATCH_RETURN();
}

}  // namespace plugin
