// fakeplugin.dll: a small plug-in for the console host's own tests. It answers
// every interface of the component's class with fixed values, hands out real
// property pages made from a dialog template in memory, and fails on demand
// through environment variables of the host process:
//   FAKEPLUGIN_HRESULT         every call (after doing its work) returns this HRESULT
//   FAKEPLUGIN_CREATE_HRESULT  CreateInstance fails with this HRESULT
//   FAKEPLUGIN_NO_INTERFACE    QueryInterface refuses the interface of this name
//   FAKEPLUGIN_NO_STORAGE      GetStorageData leaves both VARIANTs as they came
// Values are hexadecimal ("0x80004005").
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "plugin/CVOnlineIDsLib.h"

namespace {

using namespace CVONLINEIDSLib;

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

constexpr HRESULT kUnknownProperty = HRESULT_FROM_WIN32(ERROR_UNKNOWN_PROPERTY);
// The backup image: a line feed, the old end-of-file mark and a high byte, so a
// copy through text-mode I/O would show.
constexpr BYTE kBackup[] = {0x0A, 0x1A, 0xFF};

std::optional<std::wstring> environment(const wchar_t* name) {
  wchar_t value[256];
  const DWORD length = ::GetEnvironmentVariableW(name, value, 256);
  if (length == 0 || length >= 256)
    return std::nullopt;
  return std::wstring(value, length);
}

std::optional<HRESULT> environment_hresult(const wchar_t* name) {
  const auto text = environment(name);
  if (!text)
    return std::nullopt;
  return static_cast<HRESULT>(std::wcstoul(text->c_str(), nullptr, 16));
}

// What a call returns: its own result unless FAKEPLUGIN_HRESULT says otherwise.
HRESULT result(HRESULT own) {
  return environment_hresult(L"FAKEPLUGIN_HRESULT").value_or(own);
}

std::wstring hex(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// A page dialog with a static text (1000), a button (1019) and two list views
// (rows 1006, categories 1003), built once and kept for the life of the module (the
// pages read it when their windows are made).
const DLGTEMPLATE* page_template() {
  static const std::vector<WORD> words = [] {
    std::vector<WORD> w;
    auto dword = [&w](DWORD value) {
      w.push_back(LOWORD(value));
      w.push_back(HIWORD(value));
    };
    auto text = [&w](const wchar_t* s) {
      for (; *s; ++s)
        w.push_back(static_cast<WORD>(*s));
      w.push_back(0);
    };
    auto align = [&w] {
      if (w.size() % 2)
        w.push_back(0);  // controls start on a DWORD boundary
    };
    dword(DS_SETFONT | WS_CHILD | WS_CAPTION);
    dword(0);                        // extended style
    w.push_back(4);                  // four controls
    for (WORD v : {0, 0, 200, 130})  // x, y, cx, cy
      w.push_back(v);
    w.push_back(0);  // no menu
    w.push_back(0);  // standard class
    w.push_back(0);  // no caption
    w.push_back(8);  // font size
    text(L"MS Shell Dlg");
    align();
    dword(WS_CHILD | WS_VISIBLE | SS_LEFT);
    dword(0);
    for (WORD v : {10, 10, 180, 20, 1000})  // x, y, cx, cy, id
      w.push_back(v);
    w.push_back(0xFFFF);  // predefined class: static
    w.push_back(0x0082);
    text(L"Page of the test plug-in");
    w.push_back(0);  // no creation data
    align();
    dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    dword(0);
    for (WORD v : {10, 40, 60, 14, 1019})
      w.push_back(v);
    w.push_back(0xFFFF);  // predefined class: button
    w.push_back(0x0080);
    text(L"&Ask");
    w.push_back(0);
    for (const WORD id : {1006, 1003}) {
      align();
      dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL |
            LVS_SHOWSELALWAYS);
      dword(0);
      for (WORD v :
           std::initializer_list<WORD>{static_cast<WORD>(id == 1006 ? 10 : 110), 60, 90, 60, id})
        w.push_back(v);
      text(WC_LISTVIEWW);
      text(L"");
      w.push_back(0);
    }
    return w;
  }();
  return reinterpret_cast<const DLGTEMPLATE*>(words.data());
}

void fill_list(HWND list, std::initializer_list<const wchar_t*> texts) {
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = 80;
  column.pszText = const_cast<wchar_t*>(L"Name");
  ListView_InsertColumn(list, 0, &column);
  int row = 0;
  for (const wchar_t* text : texts) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row++;
    item.pszText = const_cast<wchar_t*>(text);
    ListView_InsertItem(list, &item);
  }
}

void show_text(HWND page, const std::wstring& text) {
  ::SetDlgItemTextW(page, 1000, text.c_str());
}

int g_dragged_row = -1;

// The button asks (a message box), tells the console (WM_USER + 2001 to the root
// window, as the dashboard's own pages do) and offers a menu whose second item
// marks the page changed; the sheet's save and discard notices show in the text,
// and so do what happens in the row list: a double click, a key with its
// modifiers, a row dragged (with the mouse captured) onto a category.
INT_PTR CALLBACK page_procedure(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    fill_list(::GetDlgItem(page, 1006), {L"Bank", L"Mail", L"Shop"});
    fill_list(::GetDlgItem(page, 1003), {L"All", L"Work"});
    return TRUE;
  }
  if (message == WM_LBUTTONUP && g_dragged_row >= 0) {
    ::ReleaseCapture();
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    ::ClientToScreen(page, &point);
    const HWND categories = ::GetDlgItem(page, 1003);
    LVHITTESTINFO hit{};
    hit.pt = point;
    ::ScreenToClient(categories, &hit.pt);
    const int category =
        ::WindowFromPoint(point) == categories ? ListView_HitTest(categories, &hit) : -1;
    show_text(page,
              L"dropped " + std::to_wstring(g_dragged_row) + L" on " + std::to_wstring(category));
    g_dragged_row = -1;
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == 1019 && HIWORD(wparam) == BN_CLICKED) {
    if (::MessageBoxW(page, L"Tell the console?", L"Fake plug-in", MB_YESNO) == IDYES)
      ::SendMessageW(::GetAncestor(page, GA_ROOT), WM_USER + 2001, 1,
                     reinterpret_cast<LPARAM>(L"{DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}"));
    const HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING, 40001, L"&Keep");
    ::AppendMenuW(menu, MF_STRING, 40002, L"&Change");
    RECT button{};
    ::GetWindowRect(::GetDlgItem(page, 1019), &button);
    const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_NONOTIFY, button.left, button.bottom, 0, page, nullptr));
    ::DestroyMenu(menu);
    if (chosen == 40002) {
      ::SetDlgItemTextW(page, 1000, L"changed");
      ::SendMessageW(::GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
    }
    return TRUE;
  }
  if (message == WM_NOTIFY && wparam == 1006) {
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    if (header->code == NM_DBLCLK)
      show_text(page, L"opened " +
                          std::to_wstring(reinterpret_cast<const NMITEMACTIVATE*>(lparam)->iItem));
    if (header->code == LVN_BEGINDRAG) {
      g_dragged_row = reinterpret_cast<const NMLISTVIEW*>(lparam)->iItem;
      ::SetCapture(page);
    }
    if (header->code == LVN_KEYDOWN) {
      const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(lparam)->wVKey;
      show_text(page, L"key " + std::to_wstring(key) + L" ctrl=" +
                          std::to_wstring(::GetKeyState(VK_CONTROL) < 0) + L" alt=" +
                          std::to_wstring(::GetKeyState(VK_MENU) < 0));
    }
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    if (header->hwndFrom == ::GetParent(page) && (header->code == 11 || header->code == 8))
      ::SetDlgItemTextW(page, 1000, header->code == 11 ? L"saved" : L"discarded");
  }
  return FALSE;
}

// The page's first view as the site answered property 14.
std::wstring first_view(ICVHCPageSite* site) {
  VARIANT value;
  ::VariantInit(&value);
  const HRESULT hr = site->GetProperty(kHostPropertyFirstView, &value);
  std::wstring text;
  if (FAILED(hr))
    text = L"hr" + hex(hr);
  else if (value.vt == VT_BSTR)
    text = value.bstrVal ? value.bstrVal : L"";
  else if (value.vt == VT_I4)
    text = L"vt3:" + std::to_wstring(value.lVal);
  else
    text = L"vt" + std::to_wstring(value.vt);
  ::VariantClear(&value);
  return text;
}

class CFakePages final : public ICVHCPages,
                         public ICVHCElementUI,
                         public ICVPSecurityStatus,
                         public ICVHCBackupRestore,
                         public ICVHCPluginInfo,
                         public ICVHCDisableApp {
 public:
  CFakePages() { ::InterlockedIncrement(&g_objects); }
  CFakePages(const CFakePages&) = delete;
  CFakePages& operator=(const CFakePages&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    struct entry_t {
      const IID& iid;
      const wchar_t* name;
      IUnknown* pointer;
    };
    const entry_t table[] = {
        {IID_IUnknown, L"IUnknown", static_cast<ICVHCPages*>(this)},
        {IID_ICVHCPages, L"ICVHCPages", static_cast<ICVHCPages*>(this)},
        {IID_ICVHCElementUI, L"ICVHCElementUI", static_cast<ICVHCElementUI*>(this)},
        {IID_ICVPSecurityStatus, L"ICVPSecurityStatus", static_cast<ICVPSecurityStatus*>(this)},
        {IID_ICVHCBackupRestore, L"ICVHCBackupRestore", static_cast<ICVHCBackupRestore*>(this)},
        {IID_ICVHCPluginInfo, L"ICVHCPluginInfo", static_cast<ICVHCPluginInfo*>(this)},
        {IID_ICVHCDisableApp, L"ICVHCDisableApp", static_cast<ICVHCDisableApp*>(this)},
    };
    const auto refused = environment(L"FAKEPLUGIN_NO_INTERFACE");
    for (const entry_t& entry : table) {
      if (::IsEqualIID(iid, entry.iid) && !(refused && *refused == entry.name)) {
        *object = entry.pointer;
        AddRef();
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&m_references));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&m_references);
    if (left == 0)
      delete this;
    return static_cast<ULONG>(left);
  }

  // ICVHCPages: two pages for the user console, one for the dashboard, none
  // for any other host.
  HRESULT STDMETHODCALLTYPE AddPages(IUnknown* unknown_site) override {
    if (unknown_site == nullptr)
      return E_POINTER;
    auto* const site = static_cast<ICVHCPageSite*>(unknown_site);
    VARIANT kind;
    ::VariantInit(&kind);
    HRESULT hr = site->GetProperty(kHostPropertyKind, &kind);
    if (SUCCEEDED(hr)) {
      const std::wstring host = kind.vt == VT_BSTR && kind.bstrVal ? kind.bstrVal : L"";
      if (host == L"UserConsole") {
        add_page(site, 8, 1, 0, 5, L"Main view=" + first_view(site) + other_property(site),
                 g_module, 119);
        add_page(site, 8, 2, 0, 1, L"Settings", nullptr, 0);
      } else if (host == L"DashBoard") {
        add_page(site, 1, 1, 1, 5, L"Main view=" + first_view(site) + other_property(site),
                 ::GetModuleHandleW(L"kernel32.dll"), 119);
      }
    }
    ::VariantClear(&kind);
    return result(hr);
  }

  // ICVHCElementUI
  HRESULT STDMETHODCALLTYPE GetProperty(LONG id, VARIANT* value) override {
    if (value == nullptr)
      return E_POINTER;
    ::VariantClear(value);
    switch (id) {
      case 1:
        return result(set_text(value, L"Fake plug-in"));
      case 9:
        value->vt = VT_I4;
        value->lVal = 42;
        return result(S_OK);
      default:
        return result(kUnknownProperty);
    }
  }
  HRESULT STDMETHODCALLTYPE SetProperty(LONG, LONG) override { return result(E_NOTIMPL); }

  // ICVPSecurityStatus
  HRESULT STDMETHODCALLTYPE GetStatus(LONG* status, BSTR* text) override {
    if (status == nullptr || text == nullptr)
      return E_POINTER;
    *status = 2;
    *text = ::SysAllocString(L"Fake status");
    return result(*text ? S_OK : E_OUTOFMEMORY);
  }

  // ICVHCBackupRestore
  HRESULT STDMETHODCALLTYPE GetStorageData(VARIANT* names, VARIANT* data) override {
    if (names == nullptr || data == nullptr)
      return E_POINTER;
    if (environment(L"FAKEPLUGIN_NO_STORAGE"))
      return result(S_OK);
    SAFEARRAY* name_array = ::SafeArrayCreateVector(VT_BSTR, 0, 2);
    SAFEARRAY* byte_array = ::SafeArrayCreateVector(VT_UI1, 0, sizeof kBackup);
    if (name_array == nullptr || byte_array == nullptr) {
      if (name_array)
        ::SafeArrayDestroy(name_array);
      if (byte_array)
        ::SafeArrayDestroy(byte_array);
      return E_OUTOFMEMORY;
    }
    const wchar_t* const texts[] = {L"KVX Protected Storage", L"Fake Second"};
    for (LONG i = 0; i < 2; ++i) {
      BSTR name = ::SysAllocString(texts[i]);
      ::SafeArrayPutElement(name_array, &i, name);  // copies the string
      ::SysFreeString(name);
    }
    for (LONG i = 0; i < static_cast<LONG>(sizeof kBackup); ++i)
      ::SafeArrayPutElement(byte_array, &i, const_cast<BYTE*>(&kBackup[i]));
    ::VariantClear(names);
    names->vt = VT_ARRAY | VT_BSTR;
    names->parray = name_array;
    ::VariantClear(data);
    data->vt = VT_ARRAY | VT_UI1;
    data->parray = byte_array;
    return result(S_OK);
  }
  // Takes back exactly the image GetStorageData gives; other byte arrays are
  // E_UNEXPECTED, anything that is not a byte array is ignored.
  HRESULT STDMETHODCALLTYPE SetStorageData(VARIANT* data) override {
    if (data == nullptr)
      return E_POINTER;
    if (data->vt != (VT_ARRAY | VT_UI1))
      return result(S_OK);
    LONG lower = 0;
    LONG upper = -1;
    ::SafeArrayGetLBound(data->parray, 1, &lower);
    ::SafeArrayGetUBound(data->parray, 1, &upper);
    std::vector<BYTE> bytes;
    for (LONG i = lower; i <= upper; ++i) {
      BYTE b = 0;
      ::SafeArrayGetElement(data->parray, &i, &b);
      bytes.push_back(b);
    }
    const bool same =
        std::equal(bytes.begin(), bytes.end(), std::begin(kBackup), std::end(kBackup));
    return result(same ? S_OK : E_UNEXPECTED);
  }

  // ICVHCPluginInfo
  HRESULT STDMETHODCALLTYPE GetInfo(LONG id, VARIANT* value) override {
    if (value == nullptr)
      return E_POINTER;
    if (id != 0)
      return result(kUnknownProperty);
    ::VariantClear(value);
    return result(set_text(value, kCCVHCPagesClsidText));
  }

  // ICVHCDisableApp
  HRESULT STDMETHODCALLTYPE GetStatus(LONG* state) override {
    if (state == nullptr)
      return E_POINTER;
    *state = 2;
    return result(S_OK);
  }
  // The result tells which argument arrived: S_OK for 1, S_FALSE for 0.
  HRESULT STDMETHODCALLTYPE DisableLocal(LONG disable) override {
    return result(disable == 1 ? S_OK : disable == 0 ? S_FALSE : E_INVALIDARG);
  }

 private:
  ~CFakePages() { ::InterlockedDecrement(&g_objects); }

  static HRESULT set_text(VARIANT* value, const wchar_t* text) {
    value->bstrVal = ::SysAllocString(text);
    if (value->bstrVal == nullptr)
      return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
  }

  // How the site answers a property it does not have.
  static std::wstring other_property(ICVHCPageSite* site) {
    VARIANT value;
    ::VariantInit(&value);
    const HRESULT hr = site->GetProperty(99, &value);
    ::VariantClear(&value);
    return L" other=" + hex(hr);
  }

  static void add_page(ICVHCPageSite* site,
                       LONG location,
                       LONG order,
                       LONG flags,
                       LONG kind,
                       std::wstring title,
                       HINSTANCE icon_module,
                       DWORD icon_id) {
    PROPSHEETPAGEW sheet_page{};
    sheet_page.dwSize = sizeof sheet_page;
    sheet_page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    sheet_page.hInstance = g_module;
    sheet_page.pResource = page_template();
    sheet_page.pszTitle = order == 1 ? L"Fake main" : L"Fake settings";
    sheet_page.pfnDlgProc = page_procedure;
    const HPROPSHEETPAGE page = ::CreatePropertySheetPageW(&sheet_page);
    if (page == nullptr)
      return;
    CVHC_PAGE_DESCRIPTOR descriptor{};
    descriptor.cbSize = sizeof descriptor;
    descriptor.hPage = page;
    descriptor.kind = kind;
    descriptor.title = title.c_str();
    descriptor.iconModule = icon_module;
    descriptor.iconId = icon_id;
    if (FAILED(site->AddPage(location, L"KVX", order, flags, &descriptor)))
      ::DestroyPropertySheetPage(page);
    // The title was lent for the call only: spoil it, so a host that kept the
    // pointer shows it.
    std::fill(title.begin(), title.end(), L'#');
  }

  LONG m_references = 1;
};

class CFakeFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IClassFactory))
      return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory is a static object; its references keep the module loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&g_locks));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    return static_cast<ULONG>(::InterlockedDecrement(&g_locks));
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    if (const auto failure = environment_hresult(L"FAKEPLUGIN_CREATE_HRESULT"))
      return *failure;
    CFakePages* pages = new (std::nothrow) CFakePages;
    if (pages == nullptr)
      return E_OUTOFMEMORY;
    const HRESULT hr = pages->QueryInterface(iid, object);
    pages->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ::InterlockedIncrement(&g_locks);
    else
      ::InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

CFakeFactory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr)
    return E_POINTER;
  *object = nullptr;
  if (!::IsEqualCLSID(clsid, CLSID_CCVHCPages))
    return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
