#include "ui/pages/hot_key_ctrl.h"

#include "ui/portable/hot_key.h"

namespace ui {

void CHotKeyCtrlEx::SetDisplayText(const std::wstring& text) {
  m_text = text;
  if (m_hWnd != nullptr)
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

WORD CHotKeyCtrlEx::KeyOf(WPARAM virtual_key) noexcept {
  switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
      return 0;
    default:
      return static_cast<WORD>(virtual_key);
  }
}

WORD CHotKeyCtrlEx::CurrentModifiers() noexcept {
  const auto down = [](int key) { return (::GetKeyState(key) & 0x8000) != 0; };
  WORD modifiers = 0;
  if (down(VK_MENU))
    modifiers |= kHotKeyAlt;
  if (down(VK_CONTROL))
    modifiers |= kHotKeyCtrl;
  if (down(VK_SHIFT))
    modifiers |= kHotKeyShift;
  if (down(VK_LWIN) || down(VK_RWIN))
    modifiers |= kHotKeyWin;
  return modifiers;
}

BOOL CHotKeyCtrlEx::ProcessWindowMessage(HWND window,
                                         UINT message,
                                         WPARAM wparam,
                                         LPARAM lparam,
                                         LRESULT& result) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Keys with Alt are hot keys here, not the dialog's mnemonics.
      const auto* msg = reinterpret_cast<const MSG*>(lparam);
      result = DefWindowProc(message, wparam, lparam);
      if (msg != nullptr && (msg->message == WM_SYSKEYDOWN || msg->message == WM_SYSCHAR))
        result |= DLGC_WANTMESSAGE;
      return TRUE;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      // Tab and Shift+Tab still move the focus through the dialog manager; every
      // other key is the hot key's, and the common control's own idea of it is
      // never asked.
      ::PostMessageW(::GetParent(window), kMsgHotKeyChanged, KeyOf(wparam), CurrentModifiers());
      result = 0;
      return TRUE;
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
      result = 0;
      return TRUE;
    case WM_PAINT:
      Paint();
      result = 0;
      return TRUE;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      result = DefWindowProc(message, wparam, lparam);
      ::InvalidateRect(window, nullptr, TRUE);
      return TRUE;
    default:
      return FALSE;
  }
}

void CHotKeyCtrlEx::Paint() {
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(m_hWnd, &paint);
  if (dc == nullptr)
    return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const bool enabled = ::IsWindowEnabled(m_hWnd) != FALSE;
  ::FillRect(dc, &client, ::GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  const HGDIOBJ old_font = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  RECT text_rect = client;
  text_rect.left += 2;
  ::DrawTextW(dc, m_text.c_str(), static_cast<int>(m_text.size()), &text_rect,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
  if (::GetFocus() == m_hWnd) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, m_text.c_str(), static_cast<int>(m_text.size()), &extent);
    ::SetCaretPos(text_rect.left + extent.cx, (client.bottom - extent.cy) / 2);
  }
  if (old_font != nullptr)
    ::SelectObject(dc, old_font);
  ::EndPaint(m_hWnd, &paint);
}

}  // namespace ui
