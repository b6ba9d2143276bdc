// Backup and restore through the console host stand-in with the installed
// plug-in, the suite's libraries and a running agent: what is backed up, what a
// restore writes back, and that a refused image changes nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "quicklinks/portable/quicklink_file.h"
#include "store/portable/backup_image.h"
#include "support/registry.h"
#include "tests/support/installation_test_support.h"
#include "tests/unit/agent/agent_test_support.h"

namespace backup {
namespace {

using testsupport::program_file;
using testsupport::set_reg_dword;
using testsupport::set_reg_string;
using bytes_t = std::vector<std::uint8_t>;

constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";
constexpr wchar_t kDashBoard[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard";
constexpr wchar_t kCategories[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories";
constexpr wchar_t kStandIn[] = L"Software\\CorvantisStandIns\\CVFPApi";
const wchar_t* const kSettingNames[] = {L"localstorage_dir", L"quicklink_filename",
                                        L"cachestorage_dir", L"bin_dir", L"is_personalmode"};

std::string template_text(const char* id) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<manifest><descriptor id=\"") +
         id + "\" storage_id=\"s\" name=\"n\"/></manifest>\r\n";
}

// Name -> text of the categories key; "<none>" without the key.
std::map<std::wstring, std::wstring> categories() {
  std::map<std::wstring, std::wstring> all;
  const auto key = support::try_open_key(HKEY_CURRENT_USER, kCategories, KEY_READ);
  if (!key)
    return {{L"<none>", L""}};
  for (const auto& name : support::enum_value_names(key->get()))
    all[name] = support::try_get_string(key->get(), name.c_str()).value_or(L"?");
  return all;
}

std::wstring last_category() {
  const auto key = support::try_open_key(HKEY_CURRENT_USER, kDashBoard, KEY_READ);
  return key ? support::try_get_string(key->get(), L"LastQLCategory").value_or(L"<none>")
             : L"<none>";
}

// A hidden window of the class the agent's data window has, which counts 0x52F.
struct agent_data_window_t {
  static inline int posted = 0;
  HWND window = nullptr;
  agent_data_window_t() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CV_LocalAgentDS";
    ::RegisterClassW(&wc);
    window = ::CreateWindowW(L"CV_LocalAgentDS", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             wc.hInstance, nullptr);
  }
  ~agent_data_window_t() { ::DestroyWindow(window); }
  static LRESULT CALLBACK procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_USER + 0x12F)
      ++posted;
    return ::DefWindowProcW(w, m, wp, lp);
  }
  void pump() {
    MSG msg;
    for (int i = 0; i < 20; ++i) {
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);
      ::Sleep(10);
    }
  }
};

// The installation with the user's settings in its folder and a secret.
class BackupHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_installation.registered());
    const std::wstring values[] = {m_logons, m_links, m_folder + L"cache\\", m_folder + L"bin\\",
                                   L"1"};
    for (std::size_t i = 0; i < std::size(kSettingNames); ++i)
      set_reg_string(HKEY_CURRENT_USER, kSettings, kSettingNames[i], values[i]);
    set_reg_dword(HKEY_CURRENT_USER, kStandIn, L"SecretExists", 1);
    std::filesystem::create_directories(m_logons);
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kStandIn);
    for (const wchar_t* name : kSettingNames)
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, name);
  }

  std::string host(const std::wstring& verb, const std::wstring& file) {
    return testsupport::run_host(verb + L" \"" + file + L"\"").output;
  }
  void write_image(const bytes_t& bytes) {
    ASSERT_TRUE(testsupport::write_file(m_image, std::string(bytes.begin(), bytes.end())));
  }
  // The user's data as a test compares it: files of the folder, links, values.
  std::string state() {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(m_logons)) {
      all += e.path().filename().string() + "=" + testsupport::read_file(e.path().wstring()) + "@" +
             std::to_string(std::filesystem::last_write_time(e.path()).time_since_epoch().count()) +
             "\n";
    }
    all += testsupport::read_file(m_links);
    for (const auto& [name, text] : categories())
      all += std::string(name.begin(), name.end()) + "=" + std::string(text.begin(), text.end());
    const std::wstring last = last_category();
    return all + std::string(last.begin(), last.end());
  }

  testsupport::installation_t m_installation;
  const std::wstring m_folder = m_installation.folder();
  const std::wstring m_logons = m_folder + L"Logons\\";
  const std::wstring m_links = m_folder + L"QuickLinks.txt";
  const std::wstring m_image = m_folder + L"image.bin";
};

TEST_F(BackupHost, BackUpWipeRestore) {
  const std::string site = template_text("{S1}");
  ASSERT_TRUE(testsupport::write_file(m_logons + L"site.cvm", site));
  QL::set_t links;
  QL::add(links, "https://mail.example/a b", "Mail", 1, "{S1}",
          std::string(m_logons.begin(), m_logons.end()) + "site.cvm", {});
  ASSERT_TRUE(testsupport::write_file(m_links, QL::write_text(links)));
  set_reg_string(HKEY_CURRENT_USER, kCategories, L"Personal", L"site");
  set_reg_string(HKEY_CURRENT_USER, kCategories, L"Empty", L"");
  testsupport::set_reg_value(HKEY_CURRENT_USER, kCategories, L"Zzz", REG_SZ, L"", 0);
  set_reg_string(HKEY_CURRENT_USER, kDashBoard, L"LastQLCategory", L"Personal");

  // Wine lists values by name: the value of no bytes ends the categories.
  const image_t expected{{{u"site.cvm", site}},
                         {{u"Mail", u"https://mail.example/a b", u"site.cvm", 1, u"{S1}"}},
                         {{u"Empty", u""}, {u"Personal", u"site"}}};
  const bytes_t expected_bytes = build(expected);
  EXPECT_NE(host(L"backup", m_image)
                .find("backup: hr=0x00000000 names=KVX Protected Storage bytes=" +
                      std::to_string(expected_bytes.size())),
            std::string::npos);
  const std::string image = testsupport::read_file(m_image);
  EXPECT_EQ(bytes_t(image.begin(), image.end()), expected_bytes);

  std::filesystem::remove(m_logons + L"site.cvm");
  ASSERT_TRUE(testsupport::write_file(m_logons + L"other.cvm", template_text("{O}")));
  std::filesystem::remove(m_links);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kCategories);

  agenttest::agent_process_t agent;
  ASSERT_TRUE(agent.ready());
  const std::size_t caches = agent.log_lines("cache refresh").size();
  agent_data_window_t data_window;
  EXPECT_NE(host(L"restore", m_image).find("restore: hr=0x00000000"), std::string::npos);
  data_window.pump();
  // The broadcast is posted: wait for the agent to have taken it.
  for (int i = 0; i < 500 && agent.log_lines("cache refresh").size() <= caches; ++i)
    ::Sleep(20);

  EXPECT_EQ(testsupport::read_file(m_logons + L"site.cvm"), site);
  EXPECT_FALSE(std::filesystem::exists(m_logons + L"other.cvm"));
  QL::set_t restored;
  QL::parse_text(testsupport::read_file(m_links), restored, {});
  ASSERT_EQ(restored.records.size(), 1u);
  EXPECT_EQ(restored.records[0].url, "https://mail.example/a b");
  EXPECT_EQ(restored.records[0].name, "Mail");
  EXPECT_EQ(restored.records[0].profile, 1);
  EXPECT_EQ(restored.records[0].manifestid, "{S1}");
  EXPECT_EQ(QL::file_name_of(restored.records[0].manifest), "site.cvm");
  EXPECT_EQ(categories(),
            (std::map<std::wstring, std::wstring>{{L"Empty", L""}, {L"Personal", L"site"}}));
  EXPECT_EQ(last_category(), L"");
  EXPECT_GT(agent.log_lines("cache refresh").size(), caches);
  EXPECT_EQ(agent_data_window_t::posted, 1);
}

TEST_F(BackupHost, NoSecretNoDataAndRefusedImages) {
  set_reg_dword(HKEY_CURRENT_USER, kStandIn, L"SecretExists", 0);
  EXPECT_NE(host(L"backup", m_image).find("backup: hr=0x00000000 names=(empty) bytes=0"),
            std::string::npos);
  set_reg_dword(HKEY_CURRENT_USER, kStandIn, L"SecretExists", 1);
  EXPECT_NE(host(L"backup", m_image).find("names=KVX Protected Storage bytes=0"),
            std::string::npos);

  ASSERT_TRUE(testsupport::write_file(m_logons + L"keep.cvm", template_text("{K}")));
  ASSERT_TRUE(testsupport::write_file(m_links, "KVXURLs=\r\nKVXDlgPaths=\r\n"));
  set_reg_string(HKEY_CURRENT_USER, kCategories, L"Keep", L"keep");
  set_reg_string(HKEY_CURRENT_USER, kDashBoard, L"LastQLCategory", L"Keep");
  const std::string before = state();
  const bytes_t good = build(image_t{{{u"new.cvm", "x"}}, {}, {}});
  for (const bytes_t& bad : {bytes_t(good.begin(), good.end() - 1),
                             bytes_t{0x30, 0x05, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00},
                             bytes_t{0x30, 0x04, 0x30, 0x00, 0x30, 0x00}, bytes_t{}}) {
    write_image(bad);
    EXPECT_NE(host(L"restore", m_image).find("restore: hr=0x8000FFFF"), std::string::npos);
    EXPECT_EQ(state(), before);
  }

  // Links that don't decode are skipped whole; hostile names are not written.
  bytes_t image = build(image_t{{{u"..\\evil.cvm", "e"}, {u"C:x.cvm", "e"}, {u"new.cvm", "n"}},
                                {{u"L", u"https://l/", u"new.cvm", 0, u""}},
                                {{u"Cat", u"new"}}});
  const std::uint8_t profile[] = {0x02, 0x01, 0x00, 0x1E, 0x02, 0x00, 0x00};
  const auto at = std::search(image.begin(), image.end(), std::begin(profile), std::end(profile));
  ASSERT_NE(at, image.end());
  *at = 0x04;  // the link's profile is no INTEGER
  write_image(image);
  EXPECT_NE(host(L"restore", m_image).find("restore: hr=0x00000000"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(m_folder + L"evil.cvm"));
  std::vector<std::wstring> logons;
  for (const auto& e : std::filesystem::directory_iterator(m_logons))
    logons.push_back(e.path().filename().wstring());
  EXPECT_EQ(logons, std::vector<std::wstring>{L"new.cvm"});
  EXPECT_EQ(testsupport::read_file(m_links), "KVXURLs=\r\nKVXDlgPaths=\r\n");
  EXPECT_EQ(categories(), (std::map<std::wstring, std::wstring>{{L"Cat", L"new"}}));
}

}  // namespace
}  // namespace backup
