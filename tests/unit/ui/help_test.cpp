// Help through the viewer stand-in and through the system's help control, the
// topics' help links and the text of an HRESULT.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "plugin/branding.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "ui/hresult_text.h"
#include "ui/html_help.h"

namespace ui {
namespace {

using testsupport::program_file;

constexpr wchar_t kUserSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kHelpLinks[] = L"SOFTWARE\\Corvantis\\Help\\HelpLinks";

bool traced(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos)
      return true;
  return false;
}

class Help : public ::testing::Test {
 protected:
  Help() : m_log_env(L"CVHHVIEW_STANDIN_LOG", m_log.path() + L"viewer.log") {
    testsupport::set_reg_string(HKEY_CURRENT_USER, kUserSettings, L"helpindexfilename_main_pro",
                                L"C:\\help\\Dashboard.chm");
    testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kHelpLinks, L"manage_logons",
                                L"html/manage.htm");
    testsupport::new_trace_lines();
  }
  ~Help() override {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kUserSettings, L"helpindexfilename_main_pro");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvantis\\Help");
  }

  // The viewer's log once it has a line (the viewer runs on its own).
  std::string viewer_log() {
    for (int i = 0; i < 200; ++i) {
      std::ifstream in((m_log.path() + L"viewer.log").c_str());
      std::string line;
      if (std::getline(in, line))
        return line;
      ::Sleep(50);
    }
    return "<no log>";
  }

  testsupport::scratch_folder_t m_log;
  testsupport::scoped_environment_t m_log_env;
};

TEST_F(Help, TheViewerGetsTheFileAndTheTopicsPage) {
  const testsupport::scoped_component_folder_t components(program_file(L""));
  CHTMLHelp help;
  EXPECT_GT(help.HtmlHelp(GetHelpLink(help_manage_logons)), 32);
  EXPECT_EQ(help.viewer_state(), 1);
  EXPECT_EQ(viewer_log(), "C:\\help\\Dashboard.chm::/html/manage.htm");
  EXPECT_TRUE(traced(testsupport::new_trace_lines(),
                     "sCommand = C:\\help\\Dashboard.chm::/html/manage.htm"));
}

TEST_F(Help, WithoutTheViewerTheHelpControlIsAsked) {
  const testsupport::scoped_component_folder_t components(m_log.path());  // no viewer there
  CHTMLHelp help;
  EXPECT_EQ(GetHelpLink(help_password_strength), L"");
  help.HtmlHelp(GetHelpLink(help_password_strength));
  EXPECT_EQ(help.viewer_state(), 0);
  const auto lines = testsupport::new_trace_lines();
  EXPECT_TRUE(
      traced(lines, "external viewer = " + std::string(m_log.path().begin(), m_log.path().end()) +
                        "CVHHView.exe"));
  EXPECT_TRUE(traced(lines, "sCommand = C:\\help\\Dashboard.chm"))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(traced(lines, "hWnd = 0x"));  // the control's HtmlHelpW was called

  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kUserSettings, L"helpindexfilename_main_pro");
  CHTMLHelp no_file;
  EXPECT_EQ(no_file.HtmlHelp(L"x"), 0);
  EXPECT_FALSE(traced(testsupport::new_trace_lines(), "sCommand"));
  EXPECT_EQ(help_topic_name(6), nullptr);
  EXPECT_EQ(GetHelpLink(-1), L"");
}

// A branding library that could not be loaded is tried again at the next
// request, in the same process.
TEST(Branding, ALibraryThatFailedIsTriedAgain) {
  constexpr wchar_t kBranding[] = L"SOFTWARE\\Corvantis\\Branding\\Common";
  testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kBranding, L"DLLPath",
                              program_file(L"missing.dll").c_str());
  EXPECT_EQ(plugin::CBranding::ProductName(), L"");
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "failed to load resource dll"));
  testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kBranding, L"DLLPath",
                              program_file(L"CVBrand.dll").c_str());
  EXPECT_EQ(plugin::CBranding::ProductName(), L"Corvantis Security Suite");
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvantis\\Branding");
}

TEST(HResultText, SystemTextOrTheCode) {
  EXPECT_NE(HResultText(E_ACCESSDENIED).find(L"ccess"), std::wstring::npos);
  EXPECT_EQ(HResultText(static_cast<HRESULT>(0x8FFF1234)), L"HRESULT 0x8fff1234");
}

}  // namespace
}  // namespace ui
