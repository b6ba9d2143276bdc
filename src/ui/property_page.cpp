#include "ui/property_page.h"

#include "plugin/module.h"
#include "tracing/trace.h"

namespace ui {

HINSTANCE resource_module() noexcept {
  return plugin::module().resources();
}

const PROPSHEETPAGEW& CPropertyPageBase::SheetPage() {
  m_page = PROPSHEETPAGEW{};
  m_page.dwSize = sizeof(m_page);
  m_page.dwFlags = PSP_DLGINDIRECT | PSP_USECALLBACK;
  m_page.hInstance = support::code_module();
  m_page.pResource = support::dialog_template(resource_module(), m_dialogId);
  if (m_page.pResource == nullptr)
    tracecore::trace_format("no dialog %u in the resource module", m_dialogId);
  m_page.pfnDlgProc = &support::CDialogBase::PageDialogProc;
  m_page.lParam = reinterpret_cast<LPARAM>(static_cast<support::CDialogBase*>(this));
  m_page.pfnCallback = &CPropertyPageBase::PageCallback;
  return m_page;
}

void CPropertyPageBase::NotifySheetChanged(bool changed) {
  const HWND sheet = ::GetParent(m_hWnd);
  if (sheet != nullptr)
    ::SendMessageW(sheet, changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(m_hWnd),
                   0);
}

UINT CALLBACK CPropertyPageBase::PageCallback(HWND, UINT message, PROPSHEETPAGEW* page) {
  // The sheet hands its own copy of the page data; lParam is still the object.
  if (message == PSPCB_RELEASE && page != nullptr)
    delete static_cast<CPropertyPageBase*>(reinterpret_cast<support::CDialogBase*>(page->lParam));
  return 1;
}

}  // namespace ui
