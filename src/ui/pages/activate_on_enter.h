// A list view in a dialog that takes Enter for itself while an item is
// selected: the key activates the selected item as a double-click does
// (LVN_ITEMACTIVATE to the list's parent) instead of pressing the dialog's
// default button, which in the console would close the sheet.
//
//   ui::CActivateOnEnter keys;
//   keys.SubclassWindow(GetDlgItem(1000));
//   // LVN_ITEMACTIVATE from 1000: open the item
#pragma once

#include <windows.h>

#include "support/window_mixins.h"

namespace ui {

// For a list view's WM_GETDLGCODE (`wparam`, `lparam` as it came): true, with
// `result` the code to answer, when the key asked about is an Enter the list
// takes because an item is selected, so the dialog's default button is not
// pressed; false leaves the message to the list.
bool TakesEnterForSelection(HWND list, WPARAM wparam, LPARAM lparam, LRESULT& result);

class CActivateOnEnter : public support::CSubclassWindow {
 public:
  BOOL ProcessWindowMessage(HWND window,
                            UINT message,
                            WPARAM wparam,
                            LPARAM lparam,
                            LRESULT& result) override;
};

}  // namespace ui
