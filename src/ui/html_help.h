// Help: the help file shown by the suite's help viewer when it is installed,
// else by the system's HTML help control, opened at a topic's page.
//
//   ui::CHTMLHelp help;
//   help.HtmlHelp(ui::GetHelpLink(ui::help_manage_logons));
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ui {

enum help_topic : int {
  help_password_manager = 0,
  help_manage_logons = 1,
  help_password_strength = 2,
  help_using_quicklinks = 3,
  help_feedback_icon_settings = 4,
  help_shieldkit_icon_settings = 5,
};

// The topic's name ("manage_logons"), or null for an unknown id.
const wchar_t* help_topic_name(int topic) noexcept;

// The page of the topic inside the help file: the value named after the topic
// under HKLM "SOFTWARE\Corvantis\Help\HelpLinks"; empty when not configured.
std::wstring GetHelpLink(int topic);

class CHTMLHelp {
 public:
  CHTMLHelp() = default;
  ~CHTMLHelp();
  CHTMLHelp(const CHTMLHelp&) = delete;
  CHTMLHelp& operator=(const CHTMLHelp&) = delete;

  // Decides once how help is shown: the viewer "CVHHView.exe" of the suite's
  // binary folder when it exists, else "hhctrl.ocx"; the help file is the
  // setting "helpindexfilename_main_pro".
  void Load();
  // Opens the help file at the topic's page (its start page for an empty
  // topic): the viewer's start result, or the help window. 0 without a help file.
  INT_PTR HtmlHelp(const std::wstring& topic);

  int viewer_state() const noexcept { return m_viewerState; }

 private:
  using help_function_t = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  HMODULE m_hInstance = nullptr;
  help_function_t m_pfHelpFunc = nullptr;
  std::wstring m_helpFile;
  int m_viewerState = -1;  // negative: not loaded; 0: the help control; 1: the viewer
  std::wstring m_viewer;
};

}  // namespace ui
