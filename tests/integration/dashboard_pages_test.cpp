// The dashboard's pages in the console host: the real DLL's pages shown by the
// console-host stand-in and driven by scripts of real messages, the trace read
// back, the registry and the files the pages changed checked afterwards.
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

class DashboardPages : public ::testing::Test {
 protected:
  // Runs the script on the pages of the host element; the host's output.
  testsupport::program_run_t drive(const std::string& script, const std::wstring& options = L"") {
    const std::wstring file = m_install.folder() + L"script.txt";
    testsupport::write_file(file, script);
    return testsupport::run_host(L"drive \"" + file + L"\" --quiet " + options);
  }
  static bool has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
  }
  bool traced(const std::string& text) {
    for (const auto& line : m_install.new_trace_lines())
      if (line.find(text) != std::string::npos)
        return true;
    return false;
  }

  testsupport::installation_t m_install;
};

TEST_F(DashboardPages, TheMainPageShowsTheTabTheHostAsksFor) {
  ASSERT_TRUE(m_install.registered());
  // The dashboard element gets the main page alone; view 1 is the strength tab.
  auto run = drive("controls\n", L"--element DashBoard --first-view 1");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(run.output, "drive: shown pages=1")) << run.output;
  EXPECT_TRUE(has(run.output, "id=1013 class=Button")) << run.output;
  EXPECT_TRUE(traced("CMainPage::OnInitDialog"));

  // The user console gets both pages; the tab buttons switch the tabs.
  run = drive("tab #1013\ntab #1012\ncontrols\n");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(run.output, "drive: shown pages=2")) << run.output;
  EXPECT_TRUE(has(run.output, "step 1 tab: ok")) << run.output;
  EXPECT_TRUE(has(run.output, "step 2 tab: ok")) << run.output;
}

// A web link built by the DLL: the notification window of the console's main
// page opens it (0x52C, link kind 9) in the browser registered for http.
TEST_F(DashboardPages, AWebLinkOfTheDllReachesTheBrowser) {
  constexpr wchar_t kHttpCommand[] = L"Software\\Classes\\http\\shell\\open\\command";
  constexpr wchar_t kBrowserKey[] = L"Software\\CorvantisStandIns\\browser";
  const std::wstring log = m_install.folder() + L"browser.log";
  testsupport::set_reg_string(HKEY_CURRENT_USER, kBrowserKey, L"Log", log);
  testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr,
                              L"\"" + program_file(L"CVBrowser.exe") + L"\" \"%1\"");
  std::thread poster([] {
    for (int i = 0; i < 200; ++i, ::Sleep(50))
      if (const HWND window = ::FindWindowW(L"CV_LocalAgentDS", nullptr)) {
        ::PostMessageW(window, WM_USER + 300, 9, 0);
        return;
      }
  });
  const auto run = drive("sleep 4000\n", L"--element DashBoard");
  poster.join();
  std::string url;
  for (int i = 0; i < 500 && url.empty(); ++i, ::Sleep(20))
    for (const auto& line : testsupport::read_lines(log))
      if (line.find("fwlink?") != std::string::npos)
        url = line;
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
  EXPECT_TRUE(has(url, "fwlink?g=NEW 9&p=1&v=1.0.0.1&")) << url << run.output;
}

// A user with two saved logons: the agent publishes their templates, the
// protected storage holds their profiles.
class SeededPages : public DashboardPages {
 protected:
  SeededPages()
      : m_templates_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_agent({L"--local-folder", m_templates.path()}) {
    for (const auto& [name, user] : {std::pair{L"Mail", L"alice@example.com"}, {L"Bank", L"alice"}})
      train(name, user);
    m_agent.sync();
    m_install.new_trace_lines();
  }
  void train(const std::wstring& name, const std::wstring& user) {
    testsupport::scoped_environment_t script(
        L"CVUTRAIN_STANDIN_SCRIPT", L"ok;name=" + name + L";address=" + name +
                                        L".example.com;username=" + user + L";password=Pw-" + name);
    EXPECT_EQ(testsupport::run_pumping(L"\"" + program_file(L"CvRunDll.exe") + L"\" \"" +
                                       program_file(L"CvUTrain.dll") +
                                       L"\" dll_function_startmonitor 0x00000000"),
              0u);
  }

  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scoped_environment_t m_templates_env;
  agenttest::agent_process_t m_agent;
};

TEST_F(SeededPages, ALogonDeletedOnTheManageTabIsSavedInThreeSteps) {
  ASSERT_TRUE(m_agent.ready());
  auto run = drive(
      "wait-rows #1006 2 10000\n"
      "rows #1006\n"
      "select #1006 alice\n"
      "box #7\n"
      "keys #1006 Delete\n"
      "wait-rows #1006 2\n"
      "select #1006 alice\n"
      "box #6\n"
      "keys #1006 Delete\n"
      "wait-rows #1006 1\n"
      "rows #1006\n");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(run.output, "count=1\nrow 0: alice@example.com")) << run.output;
  EXPECT_TRUE(has(run.output, "caption=Online IDs")) << run.output;
  std::vector<std::string> saves;
  for (const auto& line : m_install.new_trace_lines())
    for (const char* step : {"Saving changes...", "1. Committed PS.", "2. Updated quick links.",
                             "3. Notified siblings."})
      if (line.find(step) != std::string::npos)
        saves.push_back(step);
  // Declined first: one save only, its steps in order.
  EXPECT_EQ(saves, (std::vector<std::string>{"Saving changes...", "1. Committed PS.",
                                             "2. Updated quick links.", "3. Notified siblings."}));
}

}  // namespace
