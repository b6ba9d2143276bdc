// Takes a subclass off its window for a burst of messages its owner sends the
// window (a list filled with thousands of rows) and puts it back when the scope
// ends. Under Wine every message to a window subclassed with SetWindowSubclass
// looks the subclass up among the window's properties, a round trip to the
// window server each time.
//
//   {
//     const ui::CSubclassPause pause(m_listKeys, !m_listKeys.Dragging());
//     ...  // LVM_INSERTITEM for every row
//   }      // subclassed again
#pragma once

#include <windows.h>

#include "support/window_mixins.h"

namespace ui {

class CSubclassPause {
 public:
  // Nothing happens unless `allowed` and the subclass is on a window.
  CSubclassPause(support::CSubclassWindow& subclass, bool allowed) noexcept
      : m_subclass(subclass), m_window(allowed ? subclass.m_hWnd : nullptr) {
    if (m_window != nullptr)
      m_subclass.UnsubclassWindow();
  }
  ~CSubclassPause() {
    if (m_window != nullptr)
      m_subclass.SubclassWindow(m_window);
  }
  CSubclassPause(const CSubclassPause&) = delete;
  CSubclassPause& operator=(const CSubclassPause&) = delete;

 private:
  support::CSubclassWindow& m_subclass;
  HWND m_window;
};

}  // namespace ui
