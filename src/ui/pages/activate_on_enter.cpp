#include "ui/pages/activate_on_enter.h"

#include <commctrl.h>

namespace ui {

bool TakesEnterForSelection(HWND list, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  const auto* key = reinterpret_cast<const MSG*>(lparam);
  if (key == nullptr || key->message != WM_KEYDOWN || key->wParam != VK_RETURN ||
      ListView_GetNextItem(list, -1, LVNI_SELECTED) < 0)
    return false;
  result = ::DefSubclassProc(list, WM_GETDLGCODE, wparam, lparam) | DLGC_WANTMESSAGE;
  return true;
}

BOOL CActivateOnEnter::ProcessWindowMessage(HWND window,
                                            UINT message,
                                            WPARAM wparam,
                                            LPARAM lparam,
                                            LRESULT& result) {
  if (message == WM_GETDLGCODE)
    return TakesEnterForSelection(window, wparam, lparam, result) ? TRUE : FALSE;
  if (message != WM_KEYDOWN || wparam != VK_RETURN)
    return FALSE;
  const int item = ListView_GetNextItem(window, -1, LVNI_SELECTED);
  if (item < 0)
    return FALSE;
  // The list's own Enter is not asked: list views differ in what they send for
  // it (Wine's stops at NM_RETURN), and the item must be activated once.
  NMITEMACTIVATE activate{};
  activate.hdr.hwndFrom = window;
  activate.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(window));
  activate.hdr.code = LVN_ITEMACTIVATE;
  activate.iItem = item;
  ::SendMessageW(::GetParent(window), WM_NOTIFY, activate.hdr.idFrom,
                 reinterpret_cast<LPARAM>(&activate));
  result = 0;
  return TRUE;
}

}  // namespace ui
