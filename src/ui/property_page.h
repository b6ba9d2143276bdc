// A property page handed to the console host: a dialog of the resource module
// whose object owns itself once the sheet has its page; the sheet's release
// callback deletes it.
//
//   class CSettingsPage : public ui::CPropertyPageImpl<CSettingsPage> {
//    public:
//     enum { IDD = 107 };
//     BEGIN_MSG_MAP(CSettingsPage) ... END_MSG_MAP()
//   };
//   plugin::CPluginPage* page = new CSettingsPage(...);
//   HPROPSHEETPAGE handle = ::CreatePropertySheetPageW(&page->SheetPage());
#pragma once

#include <windows.h>
#include <prsht.h>

#include "plugin/pages.h"
#include "support/dialog_base.h"

namespace ui {

// The module holding the dialogs, menus and texts of the user interface.
HINSTANCE resource_module() noexcept;

class CPropertyPageBase : public support::CDialogBase, public plugin::CPluginPage {
 public:
  // The page data: the dialog template from the resource module, this object
  // as the page's parameter, and the release callback. The template must
  // exist: without it the page data has no dialog (and CreatePropertySheetPage
  // fails).
  const PROPSHEETPAGEW& SheetPage() override;

 protected:
  explicit CPropertyPageBase(UINT dialog_id) : m_dialogId(dialog_id) {}
  // Tells the sheet that the page has changes to apply (PSM_CHANGED) or none
  // (PSM_UNCHANGED).
  void NotifySheetChanged(bool changed);

 private:
  static UINT CALLBACK PageCallback(HWND, UINT message, PROPSHEETPAGEW* page);
  UINT m_dialogId;
  PROPSHEETPAGEW m_page{};
};

template <typename T>
class CPropertyPageImpl : public CPropertyPageBase {
 protected:
  CPropertyPageImpl() : CPropertyPageBase(T::IDD) {}
};

}  // namespace ui
