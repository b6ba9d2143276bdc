// The settings page the console shows beside the main page: the hot key that
// opens the console's quick access and whether the training prompt is shown,
// both named settings of the suite. Saved settings are announced to every
// application with the registered settings-changed message.
#pragma once

#include <windows.h>

#include "ui/html_help.h"
#include "ui/pages/hot_key_ctrl.h"
#include "ui/portable/hot_key.h"
#include "ui/property_page.h"

namespace ui {

class CSettingsPage : public CPropertyPageImpl<CSettingsPage> {
 public:
  enum { IDD = 203 };
  // Controls of the page's dialog.
  enum : int {
    kIdChange = 1019,    // starts changing the hot key
    kIdSave = 1020,      // saves now; enabled while something changed
    kIdDefaults = 1021,  // the default hot key and training prompt
    kIdHotKeyText = 1022,
    kIdPrompt = 1023,
    kIdHotKey = 1024,
  };
  // What the sheet tells its pages (WM_NOTIFY from the sheet).
  static constexpr UINT kNotifySave = 11;
  static constexpr UINT kNotifyReload = 8;

  CSettingsPage() = default;

  BEGIN_MSG_MAP(CSettingsPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnCtlColorDlg)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(kMsgHotKeyChanged, OnHotkeyChanged)
    MESSAGE_HANDLER(WM_HELP, OnHelp)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    COMMAND_HANDLER(kIdChange, BN_CLICKED, OnChange)
    COMMAND_HANDLER(kIdSave, BN_CLICKED, OnSave)
    COMMAND_HANDLER(kIdDefaults, BN_CLICKED, OnDefaults)
    COMMAND_HANDLER(kIdPrompt, BN_CLICKED, OnPrompt)
  END_MSG_MAP()

  // Writes both settings, makes them the saved values and announces them.
  HRESULT SaveData();
  // Enables the save button and tells the sheet whether there are changes.
  void SetModified(bool changed);

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnCtlColorDlg(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnCtlColorStatic(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnHotkeyChanged(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnHelp(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnNotify(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnChange(WORD, WORD, HWND, BOOL&);
  LRESULT OnSave(WORD, WORD, HWND, BOOL&);
  LRESULT OnDefaults(WORD, WORD, HWND, BOOL&);
  LRESULT OnPrompt(WORD, WORD, HWND, BOOL&);

  // Reads both settings (and the prompt's default) and makes them the saved values.
  void Load();
  // Shows the current values.
  void ShowValues();
  // Shows the hot-key control (taking the focus) or the hot key's text.
  void SetEditing(bool editing);
  void UpdateModified() { SetModified(m_hotKey != m_savedHotKey || m_prompt != m_savedPrompt); }

  CHotKeyCtrlEx m_hotKeyCtrl;
  CHTMLHelp m_help;
  hot_key_t m_hotKey = kDefaultHotKey;
  hot_key_t m_savedHotKey = kDefaultHotKey;
  bool m_prompt = true;
  bool m_savedPrompt = true;
  bool m_promptDefault = true;
  bool m_editing = false;
};

// The displayed name of a virtual key (the keyboard's name of its scan code).
std::wstring key_display_name(std::uint16_t key);

}  // namespace ui
