// The tabs of the main page: modeless child dialogs of the resource module
// that the page creates on first use and talks to with messages:
//   WM_USER + 301 (kMsgReload)          reload everything shown;
//   WM_USER + 108 (kMsgPageNotify)      wParam 2001-2005 relayed from the
//                                       notification window, lParam with it;
//   WM_USER + 2010 (kMsgTabActivate)    the page's WM_ACTIVATE parameters;
//   WM_NOTIFY {page, 101, 2}            may the tab be left? 0 keeps it.
#pragma once

#include <windows.h>

#include <string>

#include "agent/notification_window.h"
#include "support/dialog_base.h"
#include "ui/property_page.h"

namespace ui {

// The notification window's own messages, as the page passes them on.
inline constexpr UINT kMsgReload = agent::kMsgSecretRestored;
using agent::kMsgPageNotify;
inline constexpr UINT kMsgTabActivate = WM_USER + 2010;
inline constexpr UINT_PTR kLeaveRequestId = 101;
inline constexpr UINT kLeaveRequestCode = 2;

class CTabDialogBase : public support::CDialogBase {
 public:
  // `resources`: the module of the tab's dialogs, menus and texts; null for the
  // language library.
  explicit CTabDialogBase(HINSTANCE resources) noexcept : m_resources(resources) {}
  // Set before the tab is created: where the tab's requests go.
  void SetNotificationWindow(HWND window) noexcept { m_hWndNotify = window; }
  // The tab as a child dialog of the page; null on failure.
  HWND CreateTab(HWND page) { return CreateFrom(Resources(), DialogId(), page); }

 protected:
  HINSTANCE Resources() const noexcept {
    return m_resources != nullptr ? m_resources : resource_module();
  }
  // A text of the tab's resources; empty when there is none.
  std::wstring Text(UINT id) const { return support::resource_string(Resources(), id); }
  virtual UINT DialogId() const = 0;
  // LVN_DELETEALLITEMS of a tab's list: the rows belong to the tab, which
  // releases them itself, so a list emptied at once sends no notice per item.
  LRESULT OnOwnRowsDeleted(int, NMHDR*, BOOL&) { return TRUE; }

  // The notification window, else the page's root window.
  HWND NotificationWindow() const {
    return m_hWndNotify != nullptr ? m_hWndNotify : ::GetAncestor(m_hWnd, GA_ROOT);
  }
  HWND m_hWndNotify = nullptr;

 private:
  HINSTANCE m_resources;
};

template <typename T>
class CTabDialogImpl : public CTabDialogBase {
 public:
  using CTabDialogBase::CTabDialogBase;

 protected:
  UINT DialogId() const override { return T::IDD; }
};

}  // namespace ui
