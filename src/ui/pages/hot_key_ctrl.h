// A hot-key control ("msctls_hotkey32") that also takes the Windows key: each
// key pressed in it is posted to the parent as kMsgHotKeyChanged with the key
// (0 for a key that is itself a modifier) and the modifier bits of the keys
// held down then (ui::kHotKey*). The control shows the text its owner gives
// it, since the common control has no name for the Windows key.
#pragma once

#include <windows.h>

#include <string>

#include "support/window_mixins.h"

namespace ui {

// wParam the key, lParam the modifiers.
inline constexpr UINT kMsgHotKeyChanged = WM_USER + 20;

class CHotKeyCtrlEx : public support::CSubclassWindow {
 public:
  // The text shown in the control.
  void SetDisplayText(const std::wstring& text);
  const std::wstring& DisplayText() const noexcept { return m_text; }

  // The key of a key-down message (0 for the modifier keys) and the
  // modifiers from the key states now.
  static WORD KeyOf(WPARAM virtual_key) noexcept;
  static WORD CurrentModifiers() noexcept;

  BOOL ProcessWindowMessage(HWND window,
                            UINT message,
                            WPARAM wparam,
                            LPARAM lparam,
                            LRESULT& result) override;

 private:
  void Paint();
  std::wstring m_text;
};

}  // namespace ui
