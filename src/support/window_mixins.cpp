#include "support/window_mixins.h"

#include "tracing/trace.h"

namespace support {

// --- CDialogResize -------------------------------------------------------------------

void CDialogResize::DlgResize_Init(HWND dialog, const resize_anchor_t* anchors, std::size_t count) {
  m_dialog = dialog;
  RECT client{};
  ::GetClientRect(dialog, &client);
  m_initial = {client.right - client.left, client.bottom - client.top};
  m_controls.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const HWND control = ::GetDlgItem(dialog, anchors[i].id);
    if (control == nullptr)
      continue;
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    m_controls.push_back({anchors[i].id, anchors[i].flags, rect});
  }
}

void CDialogResize::DlgResize_UpdateLayout(int cx, int cy) {
  if (m_dialog == nullptr)
    return;
  const int dx = cx - m_initial.cx;
  const int dy = cy - m_initial.cy;
  HDWP positions = ::BeginDeferWindowPos(static_cast<int>(m_controls.size()));
  for (const control_t& c : m_controls) {
    RECT r = c.rect;
    if (c.flags & resize_move_x)
      ::OffsetRect(&r, dx, 0);
    if (c.flags & resize_move_y)
      ::OffsetRect(&r, 0, dy);
    if (c.flags & resize_size_x)
      r.right += dx;
    if (c.flags & resize_size_y)
      r.bottom += dy;
    const HWND control = ::GetDlgItem(m_dialog, c.id);
    if (positions != nullptr && control != nullptr)
      positions = ::DeferWindowPos(
          positions, control, nullptr, r.left, r.top, std::max<LONG>(0, r.right - r.left),
          std::max<LONG>(0, r.bottom - r.top), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (positions != nullptr)
    ::EndDeferWindowPos(positions);
}

BOOL CDialogResize::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM lparam, LRESULT&) {
  if (message == WM_SIZE)
    DlgResize_UpdateLayout(LOWORD(lparam), HIWORD(lparam));
  return FALSE;
}

// --- CCustomDraw ---------------------------------------------------------------------

BOOL CCustomDraw::ProcessWindowMessage(HWND,
                                       UINT message,
                                       WPARAM wparam,
                                       LPARAM lparam,
                                       LRESULT& result) {
  if (message != WM_NOTIFY || reinterpret_cast<NMHDR*>(lparam)->code != NM_CUSTOMDRAW)
    return FALSE;
  auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(lparam);
  const int id = static_cast<int>(wparam);
  switch (draw->dwDrawStage) {
    case CDDS_PREPAINT:
      result = OnPrePaint(id, draw);
      break;
    case CDDS_POSTPAINT:
      result = OnPostPaint(id, draw);
      break;
    case CDDS_ITEMPREPAINT:
      result = OnItemPrePaint(id, draw);
      break;
    case CDDS_ITEMPOSTPAINT:
      result = OnItemPostPaint(id, draw);
      break;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      result = OnSubItemPrePaint(id, draw);
      break;
    default:
      result = CDRF_DODEFAULT;
      break;
  }
  return TRUE;
}

// --- COwnerDraw ----------------------------------------------------------------------

BOOL COwnerDraw::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM lparam, LRESULT& result) {
  if (message == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lparam));
    result = TRUE;
    return TRUE;
  }
  if (message == WM_MEASUREITEM) {
    MeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lparam));
    result = TRUE;
    return TRUE;
  }
  return FALSE;
}

// --- CSubclassWindow -----------------------------------------------------------------

CSubclassWindow::~CSubclassWindow() {
  UnsubclassWindow();
}

bool CSubclassWindow::SubclassWindow(HWND window) {
  UnsubclassWindow();
  if (window == nullptr ||
      !::SetWindowSubclass(window, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hWnd = window;
  return true;
}

void CSubclassWindow::UnsubclassWindow() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
    ::RemoveWindowSubclass(m_hWnd, SubclassProc, 0);
  m_hWnd = nullptr;
}

LRESULT CSubclassWindow::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefSubclassProc(m_hWnd, message, wparam, lparam);
}

LRESULT CALLBACK CSubclassWindow::SubclassProc(HWND window,
                                               UINT message,
                                               WPARAM wparam,
                                               LPARAM lparam,
                                               UINT_PTR,
                                               DWORD_PTR data) {
  auto* self = reinterpret_cast<CSubclassWindow*>(data);
  LRESULT result = 0;
  try {
    if (self->ProcessWindowMessage(window, message, wparam, lparam, result))
      return result;
  } catch (...) {
    tracecore::trace_error("CSubclassWindow::SubclassProc", static_cast<long>(E_UNEXPECTED));
    return 0;
  }
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(window, SubclassProc, 0);
    self->m_hWnd = nullptr;
  }
  return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace support
