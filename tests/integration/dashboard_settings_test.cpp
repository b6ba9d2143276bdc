// The settings page and the keyboard through the console host: the real DLL's
// pages driven by scripts of real messages in `cvhost drive`, a second console
// hearing the first one's settings broadcast, a tab that refuses to be left,
// and every action of the pages reached with keys alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/installation_test_support.h"
#include "tests/unit/agent/agent_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace {

using testsupport::program_file;

constexpr wchar_t kSettingsKey[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kHotKeySetting[] = L"open_security_manager_qa";
constexpr wchar_t kPromptSetting[] = L"show_training_prompt";

// A setting the settings library holds for the user; empty when none.
std::wstring setting(const wchar_t* name) {
  std::wstring value(64, L'\0');
  DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, value.data(),
                     &size) != ERROR_SUCCESS)
    return {};
  value.resize(size / sizeof(wchar_t) - 1);
  return value;
}

bool has(const std::string& output, const std::string& text) {
  return output.find(text) != std::string::npos;
}

// The line of a dump that follows the step's own line and contains text.
std::string dump_line(const std::string& output, const std::string& step, const std::string& text) {
  const auto from = output.find(step);
  const auto at = from == std::string::npos ? from : output.find(text, from);
  if (at == std::string::npos)
    return {};
  const auto start = output.rfind('\n', at) + 1;
  return output.substr(start, output.find('\n', at) - start);
}

class DashboardSettings : public ::testing::Test {
 protected:
  DashboardSettings() { forget_settings(); }
  ~DashboardSettings() override { forget_settings(); }
  static void forget_settings() {
    for (const wchar_t* name : {kHotKeySetting, kPromptSetting})
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name);
  }

  testsupport::program_run_t drive(const std::string& script, const std::wstring& name = L"s") {
    const std::wstring file = m_install.folder() + name + L".txt";
    testsupport::write_file(file, script);
    return testsupport::run_host(L"drive \"" + file + L"\" --quiet");
  }
  std::vector<std::string> traced(const std::string& text) {
    std::vector<std::string> found;
    for (const auto& line : m_install.new_trace_lines())
      if (has(line, text))
        found.push_back(line);
    return found;
  }

  testsupport::installation_t m_install;
};

// Ends the search at the hot-key link (1035) of a console when it shows the text.
BOOL CALLBACK find_shown(HWND window, LPARAM wanted) {
  const auto* text = reinterpret_cast<const wchar_t*>(wanted);
  wchar_t own[128] = {};
  ::GetWindowTextW(window, own, 128);
  return ::GetDlgCtrlID(window) == 1035 && std::wstring(own).find(text) != std::wstring::npos
             ? FALSE
             : TRUE;
}

bool console_shows(const wchar_t* text) {
  for (int i = 0; i < 400; ++i, ::Sleep(50))
    if (const HWND sheet = ::FindWindowW(nullptr, L"Security Console"))
      if (!::EnumChildWindows(sheet, find_shown, reinterpret_cast<LPARAM>(text)))
        return true;
  return false;
}

// A hot key typed on the settings page is saved by Apply, and a console open at
// the same time shows it on its logons tab once the change is announced.
TEST_F(DashboardSettings, AHotKeyAppliedReachesAnotherConsole) {
  ASSERT_TRUE(m_install.registered());
  testsupport::program_run_t other;
  std::thread second([&] { other = drive("wait-text #1035 Shift+Alt+F5 30000\n", L"other"); });
  const bool shown = console_shows(L"Ctrl+Win+H");
  const auto run = drive(
      "page @1\n"
      "click #1019\n"
      "keys #1024 Alt+Shift+F5\n"
      "wait-text #1022 \"Shift + Alt + F5\"\n"
      "controls\n"
      "apply\n"
      "controls\n");
  second.join();
  EXPECT_TRUE(shown);
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(dump_line(run.output, "step 5 controls", "id=1020 "), "enabled=1")) << run.output;
  EXPECT_TRUE(has(run.output, "step 6 apply: ok apply=disabled")) << run.output;
  EXPECT_TRUE(has(dump_line(run.output, "step 7 controls", "id=1020 "), "enabled=0")) << run.output;
  EXPECT_EQ(setting(kHotKeySetting), L"Shift+Alt+116");
  EXPECT_EQ(other.exit_code, 0u) << other.output;
  EXPECT_EQ(traced("open_security_manager_qa = Shift+Alt+116").size(), 1u);  // saved once
}

// A user with two saved logons (one account each): the agent publishes their
// templates, the protected storage holds their profiles.
class SeededKeyboard : public DashboardSettings {
 protected:
  SeededKeyboard()
      : m_templates_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_agent({L"--local-folder", m_templates.path()}) {
    for (const auto& [name, user] :
         {std::pair{L"Mail", L"alice@example.com"}, {L"Bank", L"alice"}}) {
      testsupport::scoped_environment_t script(
          L"CVUTRAIN_STANDIN_SCRIPT", L"ok;name=" + std::wstring(name) + L";address=" + name +
                                          L".example.com;username=" + user + L";password=Pw-1");
      EXPECT_EQ(testsupport::run_pumping(L"\"" + program_file(L"CvRunDll.exe") + L"\" \"" +
                                         program_file(L"CvUTrain.dll") +
                                         L"\" dll_function_startmonitor 0x00000000"),
                0u);
    }
    m_agent.sync();
    m_install.new_trace_lines();
  }

  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scoped_environment_t m_templates_env;
  agenttest::agent_process_t m_agent;
};

// Every action of the main page, its tabs and the settings page with keys
// alone: the tab order follows the layout into the tabs, mnemonics reach the
// labelled controls, Space presses buttons, arrows move in lists, the menu
// keys and Delete act on the selected item. Boxes and menus are answered with
// Cancel, No or no command, so only the settings change. A tab that refuses to
// be left keeps the page on it.
TEST_F(SeededKeyboard, EveryActionIsReachedWithKeysAloneAndAVetoKeepsTheTab) {
  ASSERT_TRUE(m_agent.ready());
  const auto run = drive(
      "wait-rows #1006 2 10000\n"                   // 1
      "focus-order\n"                               // 2
      "answer-notify #1003 2 0\n"                   // 3: the logons tab refuses
      "keys #1012 Alt+S\n"                          // 4: to be left
      "answer-notify #1003 2 1\n"                   // 5: and then lets go
      "keys focus Alt+S\n"                          // 6: the strength tab
      "wait-rows #1000 2\n"                         // 7
      "keys #1000 Down\n"                           // 8
      "box #1\n"                                    // 9
      "keys focus Alt+D\n"                          // 10: details of the account
      "box #1\n"                                    // 11
      "keys #1000 Return\n"                         // 12: Enter on the row, too
      "keys focus Alt+L\n"                          // 13: back to the logons
      "keys focus Alt+C\n"                          // 14: the categories by their label
      "box #2 Work\n"                               // 15
      "keys focus Alt+T\n"                          // 16: add a category, cancelled
      "menu 0\n"                                    // 17
      "keys #1003 Shift+F10\n"                      // 18: the category menu
      "keys focus Alt+O Down\n"                     // 19: the logons, first row
      "menu 0\n"                                    // 20
      "keys focus Shift+F10\n"                      // 21: the row menu
      "box #7\n"                                    // 22
      "keys focus Delete\n"                         // 23: delete, declined
      "box #2\n"                                    // 24
      "keys focus Insert\n"                         // 25: add an account, cancelled
      "keys focus Alt+B\n"                          // 26: a request to the console
      "keys focus Alt+Q Space Tab Tab Tab Right\n"  // 27: view; the settings page
      "keys focus Tab Space Ctrl+Shift+K Tab\n"     // 28: Change, a new hot key
      "keys focus Alt+T Alt+V\n"                    // 29: the prompt, saved
      "keys focus Alt+R\n");                        // 30: the defaults, not saved
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  for (const char* seen :
       {"tab-stop 0: id=1012 class=Button text=&Logons\ntab-stop 1: id=1013", "tab-stop 2: id=1003",
        "tab-stop 3: id=1008", "tab-stop 4: id=1006", "tab-stop 5: id=1005", "tab-stop 6: id=1019",
        "tab-stop 7: id=1035", "box: step 9 pressed=1 caption=Password details",
        "box: step 11 pressed=1 caption=Password", "step 14 keys: ok focus id=1003",
        "box: step 15 pressed=2 caption=Add Category", "menu: step 17 chosen=0 items=&Rename",
        "menu: step 20 chosen=0 items=&Open", "box: step 22 pressed=7",
        "box: step 24 pressed=2 caption=Add account", "drive: request 0xBD1 wparam=1",
        "step 27 keys: ok focus id=12320", "step 29 keys: ok focus id=1019"})
    EXPECT_TRUE(has(run.output, seen)) << seen << "\n" << run.output;
  EXPECT_EQ(traced("the tab stays").size(), 1u);
  EXPECT_EQ(setting(kHotKeySetting), L"Ctrl+Shift+75");
  EXPECT_EQ(setting(kPromptSetting), L"-1");
}

}  // namespace
