// The dashboard's pages in the console host: the real DLL's pages shown by the
// console-host stand-in and driven by scripts of real messages, the trace read
// back, the registry and the files the pages changed checked afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/seeded_pages.h"
#include "tests/support/installation_test_support.h"

namespace {

using pagestest::has;
using testsupport::program_file;

class DashboardPages : public ::testing::Test {
 protected:
  // Runs the script on the pages of the host element; the host's output.
  testsupport::program_run_t drive(const std::string& script, const std::wstring& options = L"") {
    return pagestest::drive_host(m_install, script, options);
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

// The layout problems of one `controls` dump: a visible control outside the
// page, a button whose text is wider than the button, siblings that overlap
// (one holding the other, as a group box does, is no overlap).
std::vector<std::string> layout_problems(const std::string& output, const std::string& step) {
  std::vector<std::string> problems;
  std::istringstream lines(output.substr(output.find(step)));
  std::string line;
  std::getline(lines, line);
  const auto value = [](const std::string& text, const std::string& name) {
    const auto at = text.find(" " + name + "=");
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + name.size() + 2);
  };
  const int page_w = std::atoi(line.c_str() + line.find("page=") + 5);
  const int page_h = std::atoi(line.c_str() + line.find('x', line.find("page=")) + 1);
  struct control_t {
    std::string line;
    int parent;
    RECT rect;
  };
  std::vector<control_t> controls;
  std::vector<int> parents;  // by depth: the last control seen at that depth
  while (std::getline(lines, line) && line.rfind("control depth=", 0) == 0) {
    const int depth = value(line, "depth");
    parents.resize(static_cast<std::size_t>(depth));
    const int parent = depth > 1 ? parents[static_cast<std::size_t>(depth - 2)] : -1;
    const RECT r{value(line, "x"), value(line, "y"), value(line, "x") + value(line, "w"),
                 value(line, "y") + value(line, "h")};
    parents.back() = static_cast<int>(controls.size());
    controls.push_back({line, parent, r});
    if (value(line, "visible") == 0)
      continue;
    if (r.left < 0 || r.top < 0 || r.right > page_w || r.bottom > page_h)
      problems.push_back("outside the page: " + line);
    if (line.find("class=Button") != std::string::npos && value(line, "textw") > r.right - r.left)
      problems.push_back("text clipped: " + line);
  }
  if (controls.size() < 3)
    problems.push_back("hardly any controls: " + output);
  for (std::size_t i = 0; i < controls.size(); ++i)
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      const control_t& a = controls[i];
      const control_t& b = controls[j];
      RECT both{};
      if (a.parent != b.parent || value(a.line, "visible") == 0 || value(b.line, "visible") == 0 ||
          !::IntersectRect(&both, &a.rect, &b.rect) || ::EqualRect(&both, &a.rect) ||
          ::EqualRect(&both, &b.rect))
        continue;
      problems.push_back("overlap: " + a.line + " / " + b.line);
    }
  return problems;
}

// At 144 DPI (dialog units half as large again) every page and tab keeps its
// controls inside, apart and with room for their texts.
TEST_F(DashboardPages, AtHighDpiNoControlLeavesItsPageOrHidesItsText) {
  constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";
  testsupport::set_reg_dword(HKEY_CURRENT_USER, kDesktop, L"LogPixels", 144);
  const auto run = drive("controls\ntab #1013\ncontrols\npage @1\ncontrols\n");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
  ASSERT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(run.output, "dpi=144")) << run.output;
  for (const char* step : {"step 1 controls", "step 3 controls", "step 5 controls"})
    EXPECT_EQ(layout_problems(run.output, step), std::vector<std::string>{}) << step;
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

// A user with two saved logons (Mail and Bank, one account each).
using SeededPages = pagestest::SeededPages;

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

// The strength tab rates the seeded passwords; an account's details (by
// double-click or the Details button) show the password as one asterisk per
// character, never its text, and the advice only for a weak one.
TEST_F(SeededPages, TheStrengthTabRatesAndDetailsHideThePassword) {
  ASSERT_TRUE(m_agent.ready());
  const auto run = drive(
      "tab #1013\n"
      "wait-rows #1000 2 10000\n"
      "rows #1000\n"
      "box #1\n"
      "dblclick #1000 \"Mail (alice@example.com)\"\n"
      "box #1\n"
      "select #1000 \"Bank (alice)\"\n"
      "click #1021\n");
  ASSERT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(has(run.output,
                  "row 0: Bank (alice) | Strong | Strong | Strong | Strong | Strong\n"
                  "row 1: Mail (alice@example.com) | Strong |"))
      << run.output;
  EXPECT_TRUE(has(run.output,
                  "box: step 4 pressed=1 caption=Password details text=Logon: Mail "
                  "User name alice@example.com Password: ******* Length:"))
      << run.output;
  EXPECT_TRUE(has(run.output, "box: step 6 pressed=1 caption=Password details text=Logon: Bank"))
      << run.output;
  EXPECT_FALSE(has(run.output, "Pw-")) << run.output;
  EXPECT_FALSE(has(run.output, "weak")) << run.output;
}

}  // namespace
