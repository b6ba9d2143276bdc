// The dashboard's main page: two tabs (logons, password strength) switched by
// tab buttons, connected to the process's notification window, whose
// notifications it relays to the tabs.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/pages/tab_button.h"
#include "ui/pages/tab_dialog.h"
#include "ui/property_page.h"

namespace ui {

enum class main_tab { manage, strength };

// The tabs the page shows; made on first use.
std::unique_ptr<CTabDialogBase> MakeTab(main_tab tab);

class CMainPage : public CPropertyPageImpl<CMainPage> {
 public:
  enum { IDD = 200 };
  enum : int { kIdManageButton = 1012, kIdStrengthButton = 1013, kIdOtherButton = 1014 };

  // Shows the password strength tab first for view 1, else the logons.
  explicit CMainPage(int first_view) : m_firstView(first_view) {}

  BEGIN_MSG_MAP(CMainPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_ACTIVATE, OnActivate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(kMsgReload, OnReload)
    MESSAGE_HANDLER(kMsgPageNotify, OnPageNotify)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(WM_HELP, OnHelp)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    NOTIFY_CODE_HANDLER(PSN_SETACTIVE, OnSetActive)
  END_MSG_MAP()

  HWND current_tab() const noexcept { return m_hWndCurrent; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnActivate(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnReload(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnPageNotify(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnHelp(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnCommand(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSetActive(int, NMHDR*, BOOL&);

  void SwitchTo(main_tab tab);
  RECT TabArea() const;
  CTabDialogBase* tab(main_tab which) const {
    return (which == main_tab::manage ? m_manage : m_strength).get();
  }
  CTabButton& button(main_tab which) {
    return which == main_tab::manage ? m_manageButton : m_strengthButton;
  }
  // Sends to every tab that exists.
  void SendToTabs(UINT message, WPARAM wparam, LPARAM lparam);

  int m_firstView;
  HWND m_hWndNotify = nullptr;
  std::unique_ptr<CTabDialogBase> m_manage;
  std::unique_ptr<CTabDialogBase> m_strength;
  HWND m_hWndCurrent = nullptr;
  main_tab m_current = main_tab::manage;
  CTabButton m_manageButton;
  CTabButton m_strengthButton;
  CTabButton m_otherButton;
  HWND m_tooltips = nullptr;
};

}  // namespace ui
