// The settings page in a real modeless property sheet, its dialog from the
// language library: keys pressed in its hot-key control, the sheet's save and
// reload notices, the settings library's stored values and the broadcast.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/notification_window.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "ui/pages/settings_page.h"

namespace ui {
namespace {

constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";
int g_broadcasts = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  g_broadcasts += message == agent::RegisteredMessages().settings_changed;
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void pump(DWORD milliseconds) {
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start <= milliseconds;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      ::DispatchMessageW(&msg);
    ::Sleep(10);
  }
}

bool traced(const std::string& text) {
  for (const auto& line : testsupport::new_trace_lines())
    if (line.find(text) != std::string::npos)
      return true;
  return false;
}

class SettingsPage : public ::testing::Test {
 protected:
  SettingsPage() {
    WNDCLASSW window_class{0, &CountingProc};
    window_class.lpszClassName = L"BroadcastCounter";
    ::RegisterClassW(&window_class);
    m_counter = ::CreateWindowExW(0, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, nullptr, nullptr);
    g_broadcasts = 0;
    testsupport::new_trace_lines();
  }
  ~SettingsPage() override {
    ::DestroyWindow(m_sheet);
    ::DestroyWindow(m_counter);
    ::FreeLibrary(m_resources);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettings);
    BYTE keys[256] = {};
    ::SetKeyboardState(keys);
  }
  void open(const std::wstring& stored_hot_key) {
    set(L"open_security_manager_qa", stored_hot_key);
    PROPSHEETPAGEW data = plugin::CreateSettingsPage()->SheetPage();
    data.pResource = support::dialog_template(m_resources, CSettingsPage::IDD);
    HPROPSHEETPAGE page = ::CreatePropertySheetPageW(&data);
    PROPSHEETHEADERW header{sizeof(header), PSH_MODELESS};
    header.nPages = 1;
    header.phpage = &page;
    m_sheet = reinterpret_cast<HWND>(::PropertySheetW(&header));
    m_page = PropSheet_GetCurrentPageHwnd(m_sheet);
  }
  std::wstring shown() const {
    wchar_t text[64] = {};
    ::GetDlgItemTextW(m_page, CSettingsPage::kIdHotKeyText, text, 64);
    return text +
           std::wstring(::IsDlgButtonChecked(m_page, CSettingsPage::kIdPrompt) ? L" [x]" : L"") +
           (::IsWindowEnabled(::GetDlgItem(m_page, CSettingsPage::kIdSave)) ? L" save" : L"");
  }
  void click(int id) { ::SendMessageW(::GetDlgItem(m_page, id), BM_CLICK, 0, 0); }
  // A key pressed in the hot-key control while the given keys are held down.
  void press(BYTE held1, BYTE held2, WPARAM key) {
    BYTE keys[256] = {};
    keys[held1] = keys[held2] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(::GetDlgItem(m_page, CSettingsPage::kIdHotKey), WM_KEYDOWN, key, 1);
    pump(0);
  }
  void sheet_notice(UINT code) {
    NMHDR header{m_sheet, 0, code};
    ::SendMessageW(m_page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    pump(300);  // the broadcast is posted
  }
  void set(const wchar_t* name, const std::wstring& value) {
    testsupport::set_reg_string(HKEY_CURRENT_USER, kSettings, name, value);
  }
  std::wstring stored() const {
    std::wstring texts;
    for (const wchar_t* name : {L"open_security_manager_qa", L"show_training_prompt"}) {
      wchar_t value[64] = {};
      DWORD size = sizeof(value);
      ::RegGetValueW(HKEY_CURRENT_USER, kSettings, name, RRF_RT_REG_SZ, nullptr, value, &size);
      texts += value + std::wstring(L" ");
    }
    return texts;
  }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  HMODULE m_resources = ::LoadLibraryExW(testsupport::program_file(L"CVOnlineIDs.dll.mui").c_str(),
                                         nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HWND m_counter = nullptr, m_sheet = nullptr, m_page = nullptr;
};

TEST_F(SettingsPage, KeysPressedAreShownAndTheSheetsNoticeSavesBothAndBroadcastsOnce) {
  open(L"Ctrl+Win+72");
  EXPECT_EQ(shown(), L"Ctrl + Win + H [x]");  // no prompt stored: shown
  click(CSettingsPage::kIdChange);
  press(VK_CONTROL, VK_LWIN, VK_LWIN);  // modifiers alone keep the key
  EXPECT_EQ(shown(), L"Ctrl + Win + H [x]");
  press(VK_MENU, VK_SHIFT, VK_F5);
  click(CSettingsPage::kIdPrompt);
  EXPECT_EQ(shown(), L"Shift + Alt + F5 save");
  EXPECT_TRUE(traced("bChanged=1"));

  sheet_notice(CSettingsPage::kNotifySave);
  EXPECT_EQ(stored(), L"Shift+Alt+116 -1 ");
  EXPECT_EQ(shown(), L"Shift + Alt + F5");
  EXPECT_EQ(g_broadcasts, 1);
  EXPECT_TRUE(traced("CSettingsPage::SaveData"));
  click(CSettingsPage::kIdPrompt);
  click(CSettingsPage::kIdSave);  // the page's own save
  pump(300);
  EXPECT_EQ(stored(), L"Shift+Alt+116 1 ");
  EXPECT_EQ(g_broadcasts, 2);
}

TEST_F(SettingsPage, StoredTextThatIsNoHotKeyShowsTheDefaultAndReloadTakesStoredValues) {
  set(L"show_training_prompt", L"-1");
  open(L"Ctrl+Win+H");
  EXPECT_EQ(shown(), L"Ctrl + Win + H");
  EXPECT_TRUE(traced("hot key 'Ctrl+Win+H' not understood, using Ctrl+Win+72"));
  set(L"open_security_manager_qa", L"Alt+112");
  sheet_notice(CSettingsPage::kNotifyReload);
  EXPECT_EQ(shown(), L"Alt + F1");
  click(CSettingsPage::kIdDefaults);
  EXPECT_EQ(shown(), L"Ctrl + Win + H [x] save");
  EXPECT_EQ(g_broadcasts, 0);
}

}  // namespace
}  // namespace ui
