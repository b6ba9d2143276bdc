// The component's class and interfaces, and the console host's page site.
// Shared by the component and the console host.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <prsht.h>

namespace CVONLINEIDSLib {

// {DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}
inline constexpr CLSID CLSID_CCVHCPages = {0xDFE62CBF,
                                           0x66E7,
                                           0x4101,
                                           {0x92, 0x6B, 0x16, 0xEC, 0x9D, 0xB5, 0xCA, 0x4F}};
// {035D7619-4816-4CB9-8329-9468A2566264}
inline constexpr IID IID_ICVHCPages = {0x035D7619,
                                       0x4816,
                                       0x4CB9,
                                       {0x83, 0x29, 0x94, 0x68, 0xA2, 0x56, 0x62, 0x64}};
// {C303EA61-5A4D-48C1-9E42-DD9E2B8D3244}
inline constexpr IID IID_ICVHCElementUI = {0xC303EA61,
                                           0x5A4D,
                                           0x48C1,
                                           {0x9E, 0x42, 0xDD, 0x9E, 0x2B, 0x8D, 0x32, 0x44}};
// {FD80733F-2182-4C25-8E11-32C4A038D487}
inline constexpr IID IID_ICVPSecurityStatus = {0xFD80733F,
                                               0x2182,
                                               0x4C25,
                                               {0x8E, 0x11, 0x32, 0xC4, 0xA0, 0x38, 0xD4, 0x87}};
// {92EF77F3-732E-439F-AAD5-902BC8A62BC0}
inline constexpr IID IID_ICVHCBackupRestore = {0x92EF77F3,
                                               0x732E,
                                               0x439F,
                                               {0xAA, 0xD5, 0x90, 0x2B, 0xC8, 0xA6, 0x2B, 0xC0}};
// {6C3A49B2-A885-4C30-BBC9-6A539BF62986}
inline constexpr IID IID_ICVHCPluginInfo = {0x6C3A49B2,
                                            0xA885,
                                            0x4C30,
                                            {0xBB, 0xC9, 0x6A, 0x53, 0x9B, 0xF6, 0x29, 0x86}};
// {605989F7-DD75-4051-A8C3-4A9AA2DC0CA3}
inline constexpr IID IID_ICVHCDisableApp = {0x605989F7,
                                            0xDD75,
                                            0x4051,
                                            {0xA8, 0xC3, 0x4A, 0x9A, 0xA2, 0xDC, 0x0C, 0xA3}};

// Registry form of the class identifier, as the plug-in keys carry it.
inline constexpr wchar_t kCCVHCPagesClsidText[] = L"{DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}";

// Handed to the host with every page: eleven 32-bit fields (44 bytes) in the
// 32-bit component. The 64-bit twin keeps the order; its handle and pointer fields
// take their natural width, so cbSize there is the twin's own size.
struct CVHC_PAGE_DESCRIPTOR {
  DWORD cbSize;          // sizeof: 44 in the 32-bit component
  HPROPSHEETPAGE hPage;  // from CreatePropertySheetPageW
  LONG kind;             // 5 main page, 1 settings page
  LPCWSTR title;         // valid during the AddPage call
  DWORD reserved1;
  DWORD reserved2;
  HINSTANCE iconModule;  // module holding the icon, or null
  DWORD iconId;          // icon resource identifier, or 0
  DWORD reserved3;
  DWORD reserved4;
  DWORD reserved5;
};

#if !defined(_WIN64)
static_assert(sizeof(CVHC_PAGE_DESCRIPTOR) == 44, "the console reads eleven 32-bit fields");
#endif

// Host properties asked by the component.
enum : LONG {
  kHostPropertyKind = 3,       // BSTR: "UserConsole" or "DashBoard"
  kHostPropertyFirstView = 14  // BSTR: decimal number of the first view
};

// The host's page site: AddPages receives it as an IUnknown pointer whose slots 3
// and 4 are these two operations. It has no interface identifier of its own, so
// the component calls it through the pointer it is given, never through
// QueryInterface.
struct ICVHCPageSite : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE
  AddPage(LONG location, LPCWSTR group, LONG order, LONG flags, CVHC_PAGE_DESCRIPTOR* page) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(LONG id, VARIANT* value) = 0;
};

struct ICVHCPages : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddPages(IUnknown* site) = 0;
};

struct ICVHCElementUI : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperty(LONG id, VARIANT* value) = 0;
  // Not implemented by the component.
  virtual HRESULT STDMETHODCALLTYPE SetProperty(LONG id, LONG value) = 0;
};

struct ICVPSecurityStatus : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStatus(LONG* status, BSTR* text) = 0;
};

struct ICVHCBackupRestore : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStorageData(VARIANT* names, VARIANT* data) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStorageData(VARIANT* data) = 0;
};

struct ICVHCPluginInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetInfo(LONG id, VARIANT* value) = 0;
};

struct ICVHCDisableApp : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStatus(LONG* state) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableLocal(LONG disable) = 0;
};

}  // namespace CVONLINEIDSLib
