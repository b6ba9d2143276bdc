// The dashboard's pages in the console host: the real DLL's pages shown by the
// console-host stand-in and driven by scripts of real messages, the trace read
// back, the registry and the files the pages changed checked afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/installation_test_support.h"

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

}  // namespace
