// CPageSite: the host's page site. The plug-in asks it for the host's
// properties and hands it its property pages.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "com_values.h"
#include "plugin/CVOnlineIDsLib.h"
#include "support/unique_any.h"

namespace cvhost {

using unique_page = support::
    unique_any<HPROPSHEETPAGE, decltype(&::DestroyPropertySheetPage), ::DestroyPropertySheetPage>;

// One page the site accepted, with a copy of what came with it.
struct received_page_t {
  LONG location = 0;
  std::wstring group;
  LONG order = 0;
  LONG flags = 0;
  DWORD size = 0;
  LONG kind = 0;
  std::optional<std::wstring> title;  // nullopt when the plug-in gave none
  HINSTANCE icon_module = nullptr;
  DWORD icon_id = 0;
  unique_page page;
};

// How the site answers; filled from the command line.
struct site_settings_t {
  std::optional<std::wstring> kind;  // property 3; nullopt: E_FAIL
  bool first_view_missing = false;   // property 14 fails with E_INVALIDARG
  bool first_view_is_number = false;
  std::wstring first_view_text;
  LONG first_view_number = 0;
  std::set<LONG> refused_orders;
  bool quiet = false;  // no "addpage:" line per page received
};

class CPageSite final : public CVONLINEIDSLib::ICVHCPageSite {
 public:
  static com_ptr<CPageSite> create(site_settings_t settings);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ICVHCPageSite
  HRESULT STDMETHODCALLTYPE AddPage(LONG location,
                                    LPCWSTR group,
                                    LONG order,
                                    LONG flags,
                                    CVONLINEIDSLib::CVHC_PAGE_DESCRIPTOR* page) override;
  HRESULT STDMETHODCALLTYPE GetProperty(LONG id, VARIANT* value) override;

  // The pages accepted so far, in the order they came; the site owns them until
  // they are taken out.
  std::vector<received_page_t>& pages() noexcept { return m_pages; }

 private:
  explicit CPageSite(site_settings_t settings);
  ~CPageSite() = default;

  HRESULT add_page(LONG location,
                   LPCWSTR group,
                   LONG order,
                   LONG flags,
                   const CVONLINEIDSLib::CVHC_PAGE_DESCRIPTOR* page);
  HRESULT get_property(LONG id, VARIANT* value) const;

  LONG m_references = 1;
  const site_settings_t m_settings;
  std::vector<received_page_t> m_pages;
};

}  // namespace cvhost
