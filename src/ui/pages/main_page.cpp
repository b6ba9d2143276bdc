#include "ui/pages/main_page.h"

#include <commctrl.h>

#include "agent/notification_window.h"
#include "tracing/trace.h"
#include "ui/html_help.h"

namespace ui {

LRESULT CMainPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CMainPage::OnInitDialog");
  tracecore::trace_text("CMainPage::OnInitDialog");
  m_hWndNotify = agent::CNotificationWindow::Instance().AddWindow(m_hWnd, true);

  m_tooltips = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd,
                                 nullptr, support::code_module(), nullptr);
  m_manageButton.Attach(GetDlgItem(kIdManageButton), m_tooltips);
  m_strengthButton.Attach(GetDlgItem(kIdStrengthButton), m_tooltips);
  m_otherButton.Attach(GetDlgItem(kIdOtherButton), m_tooltips);

  SwitchTo(m_firstView == 1 ? main_tab::strength : main_tab::manage);
  return TRUE;
}

LRESULT CMainPage::OnActivate(UINT, WPARAM wparam, LPARAM lparam, BOOL&) {
  if (m_hWndCurrent != nullptr && ::IsWindow(m_hWndCurrent))
    ::PostMessageW(m_hWndCurrent, kMsgTabActivate, wparam, lparam);
  return 0;
}

LRESULT CMainPage::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
  agent::CNotificationWindow::Instance().DestroyNotificationWindow();
  m_hWndNotify = nullptr;
  handled = FALSE;
  return 0;
}

LRESULT CMainPage::OnEraseBackground(UINT, WPARAM wparam, LPARAM, BOOL&) {
  const HDC dc = reinterpret_cast<HDC>(wparam);
  const int saved = ::SaveDC(dc);
  // The children paint themselves: only what lies outside them is filled.
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(child))
      continue;
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    ::ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
  }
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  ::RestoreDC(dc, saved);
  return 1;
}

LRESULT CMainPage::OnSize(UINT, WPARAM, LPARAM, BOOL&) {
  if (m_hWndCurrent != nullptr) {
    const RECT area = TabArea();
    ::SetWindowPos(m_hWndCurrent, nullptr, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

LRESULT CMainPage::OnReload(UINT message, WPARAM wparam, LPARAM lparam, BOOL&) {
  SendToTabs(message, wparam, lparam);
  return 0;
}

LRESULT CMainPage::OnPageNotify(UINT message, WPARAM wparam, LPARAM lparam, BOOL&) {
  if (wparam >= agent::kNotifyStorageUpdated && wparam <= agent::kNotifySettingsChanged)
    SendToTabs(message, wparam, lparam);
  return 0;
}

LRESULT CMainPage::OnDrawItem(UINT, WPARAM wparam, LPARAM lparam, BOOL& handled) {
  const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  switch (wparam) {
    case kIdManageButton:
      m_manageButton.Draw(item);
      return TRUE;
    case kIdStrengthButton:
      m_strengthButton.Draw(item);
      return TRUE;
    case kIdOtherButton:
      m_otherButton.Draw(item);
      return TRUE;
    default:
      handled = FALSE;
      return 0;
  }
}

LRESULT CMainPage::OnHelp(UINT, WPARAM, LPARAM, BOOL&) {
  static CHTMLHelp help;
  help.HtmlHelp(
      GetHelpLink(m_current == main_tab::strength ? help_password_strength : help_manage_logons));
  return TRUE;
}

LRESULT CMainPage::OnCommand(UINT, WPARAM wparam, LPARAM lparam, BOOL&) {
  const WORD id = LOWORD(wparam);
  const WORD code = HIWORD(wparam);
  if (id == kIdManageButton || id == kIdStrengthButton) {
    if (code == BN_CLICKED)
      SwitchTo(id == kIdManageButton ? main_tab::manage : main_tab::strength);
    return 0;
  }
  if (id == kIdOtherButton)
    return 0;
  if (const HWND parent = ::GetParent(m_hWnd))
    return ::SendMessageW(parent, WM_COMMAND, wparam, lparam);
  return 0;
}

LRESULT CMainPage::OnSetActive(int, NMHDR*, BOOL&) {
  agent::CNotificationWindow::Instance().SetActiveHostPage(m_hWnd);
  return 0;
}

RECT CMainPage::TabArea() const {
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  RECT button{};
  if (const HWND first = GetDlgItem(kIdManageButton)) {
    ::GetWindowRect(first, &button);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&button), 2);
    client.top = std::min(client.bottom, button.bottom);
  }
  return client;
}

void CMainPage::SwitchTo(main_tab which) {
  if (m_hWndCurrent != nullptr && which == m_current)
    return;
  if (m_hWndCurrent != nullptr) {
    NMHDR leave{m_hWnd, kLeaveRequestId, kLeaveRequestCode};
    if (::SendMessageW(m_hWndCurrent, WM_NOTIFY, kLeaveRequestId,
                       reinterpret_cast<LPARAM>(&leave)) == 0) {
      tracecore::trace_text("the tab stays");
      return;
    }
  }
  std::unique_ptr<CTabDialogBase>& slot = which == main_tab::manage ? m_manage : m_strength;
  if (!slot) {
    std::unique_ptr<CTabDialogBase> made = MakeTab(which);
    if (!made)
      return;
    made->SetNotificationWindow(m_hWndNotify);
    if (made->CreateTab(m_hWnd) == nullptr) {
      tracecore::trace_lasterror("CreateTab");
      return;
    }
    slot = std::move(made);
  }
  const RECT area = TabArea();
  // After the buttons in the tab order.
  ::SetWindowPos(slot->m_hWnd, GetDlgItem(kIdOtherButton), area.left, area.top,
                 area.right - area.left, area.bottom - area.top, SWP_NOACTIVATE);
  ::EnableWindow(slot->m_hWnd, TRUE);
  ::ShowWindow(slot->m_hWnd, SW_SHOW);
  if (m_hWndCurrent != nullptr && m_hWndCurrent != slot->m_hWnd)
    ::ShowWindow(m_hWndCurrent, SW_HIDE);
  m_manageButton.SetPressed(which == main_tab::manage);
  m_strengthButton.SetPressed(which == main_tab::strength);
  m_otherButton.SetPressed(false);
  m_current = which;
  m_hWndCurrent = slot->m_hWnd;
  tracecore::trace_format("current tab = 0x%08X", support::handle_value(m_hWndCurrent));
}

void CMainPage::SendToTabs(UINT message, WPARAM wparam, LPARAM lparam) {
  for (const auto* tab : {m_manage.get(), m_strength.get()})
    if (tab != nullptr && tab->IsWindow())
      ::SendMessageW(tab->m_hWnd, message, wparam, lparam);
}

}  // namespace ui
