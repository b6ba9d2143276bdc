// The overall rating end to end: the agent runs, the user saves logons through
// the training component, the agent leaves changed profiles in the shared
// storage, and a hidden window of this process plays the notification window
// (it holds the storage object, takes over what the agent reports and asks for
// the recalculation). The console host then reports the rating of the real DLL.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/training_launch.h"
#include "store/dashboard_storage.h"
#include "store/fillin_components.h"
#include "store/protected_storage.h"
#include "strength/recalculate.h"
#include "suite/include/suite_api.h"
#include "support/com.h"
#include "support/registry.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tests/support/installation_test_support.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/agent/agent_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace {

using testsupport::program_file;
using testsupport::run_pumping;
using testsupport::set_reg_string;

constexpr wchar_t kCorvantis[] = L"SOFTWARE\\Corvantis";
constexpr wchar_t kIdCard[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";
constexpr wchar_t kNotTraced[] = L"SOFTWARE\\Corvantis\\Tracing\\ComponentsNOT";
constexpr wchar_t kUserSettings[] = L"Software\\Corvantis\\Settings";

// The notification window's part: the storage object and the agent's broadcast
// (one such window at a time).
support::com_ptr<IDashBoardStorage> g_storage;
int g_refreshes = 0;

class notification_window_t {
 public:
  notification_window_t() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.lpszClassName = L"CvTestNotificationWindow";
    ::RegisterClassW(&wc);
    m_window = ::CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                 nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(dashboard::OpenDashBoardStorage(g_storage.put()), S_OK);
  }
  ~notification_window_t() {
    ::DestroyWindow(m_window);
    g_storage.reset();
  }
  HWND get() const { return m_window; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != ::RegisterWindowMessageW(L"WM_CV_PSTORAGE_UPDATED"))
      return ::DefWindowProcW(window, message, wparam, lparam);
    ++g_refreshes;
    if (dashboard::RefreshProfileFromGlobal(window, g_storage.get()) ==
        HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
      dashboard::RefreshManifestList(window);
    return 0;
  }
  HWND m_window = nullptr;
};

// An installed suite: the binaries beside the test, branding, the user's
// settings, the plug-in and the ID card registered.
struct installation_t {
  installation_t() {
    ::CoInitialize(nullptr);
    set_reg_string(HKEY_LOCAL_MACHINE, std::wstring(kCorvantis) + L"\\Branding\\Common", L"DLLPath",
                   program_file(L"CVBrand.dll"));
    for (auto [name, value] : {std::pair{L"suggested_char_num", L"8"},
                               {L"suggested_char_types", L"3"},
                               {L"pwd_share_accts", L"1"},
                               {L"suggested_maturity", L"90"}})
      set_reg_string(HKEY_CURRENT_USER, kUserSettings, name, value);
    for (const wchar_t* server : {L"CVOnlineIDs.dll", L"CVUserAuth.dll"})
      EXPECT_EQ(testsupport::regsvr32(L"", server).exit_code, 0u);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kIdCard, L"IDCard_SS");
    // The other processes must not write over this program's trace file.
    for (const wchar_t* other : {L"CVOnlineIDs", L"cvhost", L"CVAgent", L"CvRunDll", L"CvUTrain",
                                 L"CvFillin", L"CvoPS", L"CVUserAuth", L"CvoSet"})
      set_reg_string(HKEY_LOCAL_MACHINE, kNotTraced, other, L"");
  }
  ~installation_t() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNotTraced);
    for (const wchar_t* server : {L"CVUserAuth.dll", L"CVOnlineIDs.dll"})
      testsupport::regsvr32(L"/u", server);
    // The tracing configuration of this test program stays.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kCorvantis) + L"\\Branding").c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Corvantis");
    ::RegDeleteTreeW(HKEY_CURRENT_USER,
                     (std::wstring(CV_STANDIN_FAULT_KEY) + L"\\CVUserAuth").c_str());
    ::CoUninitialize();
  }
  testsupport::scoped_component_folder_t components{program_file(L"")};
};

class RatingEndToEnd : public ::testing::Test {
 protected:
  RatingEndToEnd()
      : m_templates_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_agent({L"--local-folder", m_templates.path()}) {}

  // The training monitor saves one new logon.
  void train(const std::wstring& name, const std::wstring& user, const std::wstring& password) {
    testsupport::scoped_environment_t script(L"CVUTRAIN_STANDIN_SCRIPT",
                                             L"ok;name=" + name + L";address=" + name +
                                                 L".example.com;username=" + user + L";password=" +
                                                 password);
    EXPECT_EQ(
        run_pumping(L"\"" + program_file(L"CvRunDll.exe") + L"\" \"" +
                    program_file(L"CvUTrain.dll") + L"\" dll_function_startmonitor 0x00000000"),
        0u);
  }

  // The agent leaves a changed or new account of the logon `name`; profile
  // index -1 changes the logon's first account.
  void agent_saves(const std::wstring& name,
                   int profile_index,
                   const std::wstring& password,
                   int age_days) {
    templates::manifest_t manifest;
    ASSERT_TRUE(templates::loadM_properly(manifest, m_templates.path() + name + L".cvm"));
    const std::wstring id = templates::utf8_to_wide(manifest.descriptor.id);
    if (profile_index < 0) {
      const pstore::CProtectedStorage& ps = pstore::protected_storage();
      const pstore::handle_t h = ps.init();
      const auto text = ps.query(h, nullptr);
      ps.term(h);
      const auto stored = fillin::fillin_component().get_profiles(id.c_str(), text.c_str());
      ASSERT_FALSE(stored.empty());
      profile_index = stored.front().profileindex;
    }
    EXPECT_EQ(run_pumping(agent::quoted_command_line(
                  {program_file(L"CVAgent.exe"), L"--save-logon", id, L"--profile",
                   name + std::to_wstring(profile_index), L"--profile-index",
                   std::to_wstring(profile_index), L"--age-days", std::to_wstring(age_days),
                   L"--item", L"username:User name=user" + std::to_wstring(profile_index),
                   L"--item", L"password:Password=" + password})),
              0u);
  }

  // What the console reports once the recalculation has told the ID card.
  std::string rate_and_report(DWORD& stored) {
    m_agent.sync();  // the agent's cache holds what was saved
    dashboard::RefreshManifestList(m_window.get());
    const support::unique_handle told(
        ::CreateEventW(nullptr, FALSE, FALSE, L"Local\\CVUserAuth_Refreshed"));
    EXPECT_EQ(strength::RecalculatePasswordStrength(m_window.get(), g_storage.get()), S_OK);
    EXPECT_EQ(::WaitForSingleObject(told.get(), 60000), WAIT_OBJECT_0);
    auto key = support::try_open_key(HKEY_CURRENT_USER, kIdCard, KEY_READ);
    stored = key ? support::try_get_dword(key->get(), L"IDCard_SS").value_or(99) : 99;
    const std::string output = testsupport::run_host(L"status").output;
    const auto value = output.find("value=");
    return value == std::string::npos ? output : output.substr(value, 7);
  }

  installation_t m_installation;
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scoped_environment_t m_templates_env;
  agenttest::agent_process_t m_agent;
  notification_window_t m_window;
};

TEST_F(RatingEndToEnd, TheConsoleReportsTheRatingOfTheStoredPasswords) {
  ASSERT_TRUE(m_agent.ready());
  DWORD stored = 0;
  EXPECT_EQ(rate_and_report(stored), "value=0");
  EXPECT_EQ(stored, 0u);

  train(L"Mail", L"alice@example.com", L"Correct-Horse-7");
  train(L"Bank", L"alice", L"s3cret");
  train(L"Photos", L"alice.w", L"Tr0ub4dor&3x");
  EXPECT_EQ(rate_and_report(stored), "value=1");
  EXPECT_EQ(stored, 3u);

  // The mail account re-dated 200 days back, two more accounts share "s3cret".
  agent_saves(L"Mail", -1, L"Correct-Horse-7", 200);
  agent_saves(L"Bank", 11, L"s3cret", 0);
  agent_saves(L"Bank", 12, L"s3cret", 0);
  EXPECT_GE(g_refreshes, 3);
  EXPECT_EQ(rate_and_report(stored), "value=1");
  EXPECT_EQ(stored, 2u);

  // Everything weak.
  agent_saves(L"Mail", -1, L"abc", 0);
  agent_saves(L"Bank", 13, L"s3cret", 0);
  agent_saves(L"Photos", -1, L"photo2019", 200);
  EXPECT_EQ(rate_and_report(stored), "value=2");
  EXPECT_EQ(stored, 1u);

  // Each refresh and recalculation left its lines in the trace.
  int merged = 0, rated = 0;
  for (const auto& line : testsupport::new_trace_lines()) {
    merged += line.find("Manifest file name is ") != std::string::npos;
    rated += line.find("logons rated: overall level") != std::string::npos;
  }
  EXPECT_EQ(merged, 6);
  EXPECT_EQ(rated, 4);
}

}  // namespace
