#include "ui/pages/tab_button.h"

#include <commctrl.h>

#include <string>

namespace ui {
namespace {

constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverCheckMs = 100;

std::wstring window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool cursor_inside(HWND window) {
  POINT cursor{};
  RECT rect{};
  return ::GetCursorPos(&cursor) && ::GetWindowRect(window, &rect) && ::PtInRect(&rect, cursor);
}

}  // namespace

bool CTransparentBitmapButton::Attach(HWND button, HWND tooltips) {
  if (!SubclassWindow(button))
    return false;
  if (tooltips != nullptr) {
    std::wstring text = window_text(button);
    std::erase(text, L'&');
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V1_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(button);
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = text.data();
    ::SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  return true;
}

void CTransparentBitmapButton::SetHot(bool hot) {
  if (hot == m_hot)
    return;
  m_hot = hot;
  if (hot)
    ::SetTimer(m_hWnd, kHoverTimer, kHoverCheckMs, nullptr);
  else
    ::KillTimer(m_hWnd, kHoverTimer);
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CTransparentBitmapButton::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& handled) {
  handled = FALSE;  // the button tracks its own pressed state
  if (!m_hot && ::GetCapture() != m_hWnd)
    SetHot(true);
  return 0;
}

LRESULT CTransparentBitmapButton::OnTimer(UINT, WPARAM wparam, LPARAM, BOOL& handled) {
  if (wparam != kHoverTimer) {
    handled = FALSE;
    return 0;
  }
  // While the button holds the capture (pressed) it stays hot.
  if (::GetCapture() != m_hWnd && !cursor_inside(m_hWnd))
    SetHot(false);
  return 0;
}

void CTransparentBitmapButton::Draw(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT rect = item.rcItem;
  // Transparent: the page's own background shows through.
  ::FillRect(dc, &rect, ::GetSysColorBrush(COLOR_BTNFACE));
  const bool down = (item.itemState & ODS_SELECTED) != 0;
  if (selected() || down) {
    RECT tab = rect;
    ::FillRect(dc, &tab, ::GetSysColorBrush(COLOR_WINDOW));
    ::DrawEdge(dc, &tab, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
  } else if (m_hot) {
    ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
  }
  RECT content = rect;
  ::InflateRect(&content, -4, -2);
  if (m_bitmap != nullptr) {
    BITMAP info{};
    ::GetObjectW(m_bitmap, sizeof(info), &info);
    const HDC memory = ::CreateCompatibleDC(dc);
    const HGDIOBJ old = ::SelectObject(memory, m_bitmap);
    const int top = content.top + (content.bottom - content.top - info.bmHeight) / 2;
    ::TransparentBlt(dc, content.left, top, info.bmWidth, info.bmHeight, memory, 0, 0, info.bmWidth,
                     info.bmHeight, ::GetPixel(memory, 0, 0));
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    content.left += info.bmWidth + 4;
  }
  const std::wstring text = window_text(item.hwndItem);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc,
                 ::GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  const UINT prefix = (item.itemState & ODS_NOACCEL) ? DT_HIDEPREFIX : 0;
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &content,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | prefix);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus = rect;
    ::InflateRect(&focus, -2, -2);
    ::DrawFocusRect(dc, &focus);
  }
}

void CTabButton::SetPressed(bool pressed) {
  m_pressed = pressed;
  if (m_hWnd != nullptr)
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

}  // namespace ui
