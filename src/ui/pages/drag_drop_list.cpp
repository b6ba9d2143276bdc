#include "ui/pages/drag_drop_list.h"

#include <cwchar>

#include "tracing/trace.h"
#include "ui/pages/activate_on_enter.h"

namespace ui {

CDragDropList::~CDragDropList() {
  EndDrag();
}

bool CDragDropList::BeginDrag(int item, POINT in_list) {
  EndDrag();
  if (m_hWnd == nullptr || item < 0)
    return false;
  POINT origin{};
  m_image = reinterpret_cast<HIMAGELIST>(::SendMessageW(
      m_hWnd, LVM_CREATEDRAGIMAGE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&origin)));
  if (m_image == nullptr) {
    tracecore::trace_text("no drag image");
    return false;
  }
  m_item = item;
  ::ImageList_BeginDrag(m_image, 0, in_list.x - origin.x, in_list.y - origin.y);
  POINT screen = in_list;
  ::ClientToScreen(m_hWnd, &screen);
  ::ImageList_DragEnter(nullptr, screen.x, screen.y);
  ::SetCapture(m_hWnd);
  return true;
}

void CDragDropList::EndDrag() {
  if (m_image == nullptr)
    return;
  ::ImageList_DragLeave(nullptr);
  ::ImageList_EndDrag();
  ::ImageList_Destroy(m_image);
  m_image = nullptr;
  m_item = -1;
  if (m_hWnd != nullptr && ::GetCapture() == m_hWnd)
    ::ReleaseCapture();
}

void CDragDropList::CancelDrag() {
  EndDrag();
}

bool CDragDropList::DropTarget(POINT screen, drop_record_t& drop) const {
  const HWND target = ::WindowFromPoint(screen);
  if (target == nullptr || target == m_hWnd ||
      ::GetWindowThreadProcessId(target, nullptr) != ::GetCurrentThreadId())
    return false;
  wchar_t class_name[32] = {};
  ::GetClassNameW(target, class_name, 32);
  if (std::wcscmp(class_name, WC_LISTVIEWW) != 0)
    return false;
  LVHITTESTINFO hit{};
  hit.pt = screen;
  ::ScreenToClient(target, &hit.pt);
  const int item =
      static_cast<int>(::SendMessageW(target, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (item < 0 || (hit.flags & LVHT_ONITEM) == 0)
    return false;
  drop.source = m_item;
  drop.target = item;
  drop.target_list = target;
  return true;
}

BOOL CDragDropList::ProcessWindowMessage(HWND window,
                                         UINT message,
                                         WPARAM wparam,
                                         LPARAM lparam,
                                         LRESULT& result) {
  // Enter on a selected row is the list's own (its NM_RETURN opens the row),
  // not the dialog's default button.
  if (message == WM_GETDLGCODE)
    return TakesEnterForSelection(window, wparam, lparam, result) ? TRUE : FALSE;
  if (!Dragging())
    return FALSE;
  switch (message) {
    case WM_MOUSEMOVE: {
      POINT screen{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      ::ClientToScreen(window, &screen);
      ::ImageList_DragMove(screen.x, screen.y);
      result = 0;
      return TRUE;
    }
    case WM_LBUTTONUP: {
      POINT screen{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      ::ClientToScreen(window, &screen);
      drop_record_t drop;
      const bool dropped = DropTarget(screen, drop);
      EndDrag();
      if (dropped) {
        m_reporting = true;
        ::SendMessageW(::GetParent(window), kMsgRowDropped, 0, reinterpret_cast<LPARAM>(&drop));
        m_reporting = false;
      }
      result = 0;
      return TRUE;
    }
    case WM_KEYDOWN:
      if (wparam != VK_ESCAPE)
        return FALSE;
      EndDrag();
      result = 0;
      return TRUE;
    case WM_CAPTURECHANGED:
    case WM_CANCELMODE:
      if (message == WM_CAPTURECHANGED && reinterpret_cast<HWND>(lparam) == window)
        return FALSE;
      EndDrag();
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
