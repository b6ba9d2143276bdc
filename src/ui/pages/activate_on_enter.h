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

class CActivateOnEnter : public support::CSubclassWindow {
 public:
  BOOL ProcessWindowMessage(HWND window,
                            UINT message,
                            WPARAM wparam,
                            LPARAM lparam,
                            LRESULT& result) override;
};

}  // namespace ui
