// Launching quick links under Wine with the browser stand-in registered for
// "http", the protected-storage and settings stand-ins beside the test and the
// agent running. This program carries the loading page itself, so the browser
// finds it in the module the address names.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quicklinks/quicklink_launch.h"
#include "quicklinks/quicklink_store.h"
#include "store/protected_storage.h"
#include "support/registry.h"
#include "templates/portable/manifest_text.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "tests/unit/agent/agent_test_support.h"

namespace quicklinks {
namespace {

using testsupport::program_file;
using testsupport::set_reg_string;

constexpr wchar_t kBrowserKey[] = L"Software\\CorvantisStandIns\\browser";
constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kHttpCommand[] = L"Software\\Classes\\http\\shell\\open\\command";

class item_t : public ILogonItem {
 public:
  std::wstring path, id, menu;
  serialization::cvprofile_t profile;
  int Kind() const override { return 1; }
  bool GetProfile(serialization::cvprofile_t& p) const override {
    p = profile;
    return true;
  }
  std::wstring TemplatePath() const override { return path; }
  std::wstring TemplateId() const override { return id; }
  std::wstring MenuText() const override { return menu; }
  void CreateMyLinks(QL::set_t& links) override {
    QL::add(links, L"https://new.example/", menu, profile.profileindex, id, path);
  }
};

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* copy : {L"firefox.exe", L"iexplore.exe"})
      ASSERT_TRUE(
          ::CopyFileW(program_file(L"CVBrowser.exe").c_str(), (m_browsers + copy).c_str(), FALSE));
    set_reg_string(HKEY_CURRENT_USER, kBrowserKey, L"Log", m_log);
    set_reg_string(HKEY_CURRENT_USER, kSettings, L"quicklink_filename", m_links);
    if (const auto key = support::try_open_key(HKEY_LOCAL_MACHINE, kHttpCommand, KEY_READ))
      m_old_browser = support::try_get_string(key->get(), nullptr);
    use_browser(L"iexplore.exe");
    m_handle = pstore::protected_storage().init();
    testsupport::new_trace_lines();
  }
  void TearDown() override {
    pstore::protected_storage().term(m_handle);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    if (m_old_browser)
      set_reg_string(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr, *m_old_browser);
    else
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"quicklink_filename");
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"@QuickLinkFillin::{T}");
  }
  void use_browser(const wchar_t* name) {
    set_reg_string(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr,
                   L"\"" + m_browsers + name + L"\" \"%1\"");
  }
  void write_links(const QL::set_t& links) {
    ASSERT_TRUE(testsupport::write_file(m_links, QL::write_text(links)));
  }
  // The browser's log lines, once it has written `count` of them (30 s at most).
  std::vector<std::string> browser_log(std::size_t count) {
    std::vector<std::string> lines;
    for (int i = 0; i < 1500 && lines.size() < count; ++i) {
      ::Sleep(20);
      lines = testsupport::read_lines(m_log);
    }
    return lines;
  }
  item_t item(const wchar_t* file, const wchar_t* menu, int profile) {
    item_t i;
    i.path = L"C:\\Templates\\" + std::wstring(file);
    i.id = L"{T}";
    i.menu = menu;
    i.profile.profileindex = profile;
    i.profile.profilename = L"Account";
    return i;
  }
  bool traced(const std::string& text) {
    for (const auto& line : testsupport::new_trace_lines()) {
      if (line.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

  testsupport::scoped_component_folder_t m_bin{program_file(L"")};
  testsupport::scratch_folder_t m_scratch;
  const std::wstring m_browsers = [this] {
    std::filesystem::create_directories(m_scratch.path() + L"my browsers");
    return m_scratch.path() + L"my browsers\\";
  }();
  const std::wstring m_log = m_scratch.path() + L"browser.log";
  const std::wstring m_links = m_scratch.path() + L"QuickLinks.txt";
  DWORD m_handle = 0;
  std::optional<std::wstring> m_old_browser;
};

std::string lower_utf8(const std::wstring& text) {
  std::string out = templates::wide_to_utf8(text);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

TEST_F(Launch, WebLinksOpenTheLoadingPageWithTheirIds) {
  QL::set_t links;
  QL::add(links, "https://mail.example/", "Mail", 0, "{T}", "D:\\x\\Site.cvm", {});
  QL::add(links, "https://other.example/", "Other", 0, "{O}", "D:\\x\\other.cvm", {});
  write_links(links);
  agenttest::agent_process_t agent;
  ASSERT_TRUE(agent.ready());

  item_t site = item(L"site.cvm", L"Mail", 0);
  StartQuickLink(site, m_handle);
  auto log = browser_log(2);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("start exe=iexplore.exe", 0), 0u) << log[0];
  EXPECT_EQ(log[1], "page scheme=res id=2 module=" +
                        lower_utf8(program_file(L"quicklinks_launch_tests.exe")) + " size=313");
  agent.sync();
  EXPECT_EQ(agent.log_lines("fill-in request"),
            std::vector<std::string>{
                "fill-in request template={T} operation=1 profileindex=0 profilename=Account"});
  EXPECT_TRUE(traced("details_quicklinkcall::callshell: itemID = 2"));

  // With a firefox the scheme is "cvql"; a failed shared-storage write still opens.
  use_browser(L"firefox.exe");
  testsupport::standin_faults_t faults(L"CvoPS");
  faults.fail(L"CVOPSWriteProfileToSharedStorageEx", E_FAIL);
  item_t other = item(L"other.cvm", L"Other", 0);
  StartQuickLink(other, m_handle);
  log = browser_log(4);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].rfind("start exe=firefox.exe", 0), 0u) << log[2];
  EXPECT_EQ(log[3].rfind("page scheme=cvql id=3 ", 0), 0u) << log[3];
  agent.sync();
  EXPECT_EQ(agent.log_lines("fill-in request").size(), 1u);
  EXPECT_TRUE(traced("CVOPSWriteProfileToSharedStorageEx"));
}

TEST_F(Launch, ProgramsNewLinksAndMissingReferences) {
  QL::set_t links;
  const std::string program = templates::wide_to_utf8(m_browsers) + "iexplore.exe";
  QL::add(links, program + " -k x", "App", 3, "{T}", "D:\\x\\app.cvm", {});
  QL::add(links, program, "Bare", 0, "", "D:\\x\\bare.cvm", {});
  write_links(links);

  item_t app = item(L"app.cvm", L"App", 3);
  StartQuickLink(app, m_handle);
  auto log = browser_log(1);
  ASSERT_EQ(log.size(), 1u);
  const std::string start = "start exe=iexplore.exe cwd=" +
                            templates::wide_to_utf8(m_browsers.substr(0, m_browsers.size() - 1)) +
                            " cmdline=";
  EXPECT_EQ(log[0].rfind(start, 0), 0u) << log[0];
  EXPECT_EQ(log[0].substr(log[0].size() - 5), " -k x") << log[0];
  const auto marker = [] {
    auto key = support::try_open_key(HKEY_CURRENT_USER, kSettings, KEY_READ);
    return key ? support::try_get_string(key->get(), L"@QuickLinkFillin::{T}") : std::nullopt;
  };
  EXPECT_EQ(marker(), L"3");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"@QuickLinkFillin::{T}");
  item_t bare = item(L"bare.cvm", L"Bare", 0);
  bare.id.clear();
  StartQuickLink(bare, m_handle);
  EXPECT_EQ(browser_log(2).size(), 2u);
  EXPECT_EQ(marker(), std::nullopt);

  // A logon without a link gets one and opens with its id; a reference that can't
  // be resolved abandons the launch.
  item_t fresh = item(L"fresh.cvm", L"Fresh", 1);
  fresh.profile.items.push_back({});
  fresh.profile.items.back().value = L"550-08-60 nosuch";
  testsupport::new_trace_lines();
  StartQuickLink(fresh, m_handle);
  EXPECT_TRUE(traced("reference not resolved: launch abandoned"));
  fresh.profile.items.clear();
  StartQuickLink(fresh, m_handle);
  log = browser_log(4);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3].rfind("page scheme=res id=4 ", 0), 0u) << log[3];
  QL::set_t saved;
  QL::load_file(m_links, saved);
  ASSERT_EQ(saved.records.size(), 3u);
  EXPECT_EQ(saved.records[2].name, "Fresh");
}

// The built component carries the page, byte for byte (RT_HTML, US English).
TEST(LoadingPage, InTheBuiltComponent) {
  const HMODULE dll =
      ::LoadLibraryExW(program_file(L"CVOnlineIDs.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(dll, nullptr);
  const HRSRC found = ::FindResourceExW(dll, MAKEINTRESOURCEW(23), L"QLINKLOAD.HTM",
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(dll, found)));
  const std::string page(bytes, ::SizeofResource(dll, found));
  std::ifstream in{std::filesystem::path(std::getenv("CV_TEST_DATA")).parent_path().parent_path() /
                       "src/resources/QLINKLOAD.HTM",
                   std::ios::binary};
  EXPECT_EQ(page, std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_EQ(page.size(), 313u);
  ::FreeLibrary(dll);
}

}  // namespace
}  // namespace quicklinks
