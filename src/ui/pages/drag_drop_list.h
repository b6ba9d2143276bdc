// A list view whose rows can be dragged onto an item of another list view of
// the same thread (the manage tab's categories). The drag image follows the
// cursor; a drop on an item sends the list's parent WM_USER + 201 with the drop
// record; a drop anywhere else, Escape or a lost capture ends the drag without
// effect. Enter on a selected row stays with the list (NM_RETURN to its parent)
// instead of pressing the dialog's default button.
//
//   ui::CDragDropList rows;
//   rows.SubclassWindow(GetDlgItem(1006));
//   // LVN_BEGINDRAG: rows.BeginDrag(item, point_in_list);
//   // WM_USER + 201: const auto* drop = reinterpret_cast<ui::drop_record_t*>(lParam);
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "support/window_mixins.h"

namespace ui {

inline constexpr UINT kMsgRowDropped = WM_USER + 201;

// lParam of kMsgRowDropped: the dragged row, the item it was dropped on and
// the list view holding that item.
struct drop_record_t {
  int source = -1;
  int target = -1;
  HWND target_list = nullptr;
};

class CDragDropList : public support::CSubclassWindow {
 public:
  ~CDragDropList() override;

  // Starts dragging `item` (the list's LVN_BEGINDRAG); false when no drag
  // image could be made.
  bool BeginDrag(int item, POINT in_list);
  bool Dragging() const noexcept { return m_item >= 0; }
  // True while a drag runs or its drop is being reported to the parent (from
  // inside the list's own message).
  bool InUse() const noexcept { return Dragging() || m_reporting; }
  // Ends a drag without effect.
  void CancelDrag();

  BOOL ProcessWindowMessage(HWND window,
                            UINT message,
                            WPARAM wparam,
                            LPARAM lparam,
                            LRESULT& result) override;

 private:
  // Where a drop at the screen point lands: a same-thread list view other than
  // this one, at one of its items.
  bool DropTarget(POINT screen, drop_record_t& drop) const;
  void EndDrag();

  HIMAGELIST m_image = nullptr;
  int m_item = -1;
  bool m_reporting = false;
};

}  // namespace ui
