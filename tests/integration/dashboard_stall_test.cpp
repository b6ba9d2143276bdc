// The console stays responsive while the agent and the sites' icon server are
// stalled: the manage tab deletes a logon (which tells the agent) and refills
// its list, and meanwhile a message sent to the console's sheet from this
// process is answered within the bound the pages promise.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/http_test_server.h"
#include "tests/support/installation_test_support.h"
#include "tests/unit/agent/agent_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace {

using testsupport::program_file;

// The longest a message to the sheet may wait: the agent channel's waits for
// its mutex (4 s) and for the acknowledgement (3 s), and a second for the rest
// of the action.
constexpr DWORD kAnswerBoundMs = 8000;
constexpr DWORD kStalledMs = 600000;  // held until the test lets go
constexpr wchar_t kCategories[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories";

class DashboardStall : public ::testing::Test {
 protected:
  DashboardStall()
      : m_templates_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_agent({L"--local-folder", m_templates.path()}) {
    // Both logons' sites are the icon server, which answers nothing.
    testsupport::http_response_t silent;
    silent.header_delay_ms = kStalledMs;
    for (const char* path : {"/", "/favicon.ico"})
      m_sites.route(path, silent);
    for (const auto& [name, user] : {std::pair{L"Mail", L"alice@example.com"}, {L"Bank", L"alice"}})
      train(name, user);
    m_agent.sync();
    testsupport::set_reg_string(HKEY_CURRENT_USER, kCategories, L"Work", L"");
    m_agent_faults.stall(L"request", kStalledMs);
    m_install.new_trace_lines();
  }
  ~DashboardStall() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kCategories, L"Work"); }
  void train(const std::wstring& name, const std::wstring& user) {
    testsupport::scoped_environment_t script(L"CVUTRAIN_STANDIN_SCRIPT",
                                             L"ok;name=" + name + L";address=" + m_sites.wurl("/") +
                                                 L";username=" + user + L";password=Pw-" + name);
    EXPECT_EQ(testsupport::run_pumping(L"\"" + program_file(L"CvRunDll.exe") + L"\" \"" +
                                       program_file(L"CvUTrain.dll") +
                                       L"\" dll_function_startmonitor 0x00000000"),
              0u);
  }

  testsupport::installation_t m_install;
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scoped_environment_t m_templates_env;
  testsupport::http_test_server_t m_sites;
  agenttest::agent_process_t m_agent;
  testsupport::standin_faults_t m_agent_faults{L"CVAgent"};
};

TEST_F(DashboardStall, TheSheetAnswersWhileADeleteAndARefillRun) {
  ASSERT_TRUE(m_agent.ready());
  ASSERT_TRUE(m_sites.ok());
  const std::wstring file = m_install.folder() + L"script.txt";
  testsupport::write_file(file,
                          "wait-rows #1006 2 10000\n"
                          "select #1006 alice\n"
                          "box #6\n"
                          "keys #1006 Delete\n"
                          "wait-rows #1006 1 20000\n"
                          "select #1003 Work\n"
                          "wait-rows #1006 0 20000\n"
                          "select #1003 \"All logons\"\n"
                          "wait-rows #1006 1 20000\n"
                          "sleep 1000\n");

  std::atomic<bool> done{false};
  testsupport::program_run_t run;
  std::thread host([&] {
    run = testsupport::run_host(L"drive \"" + file + L"\" --quiet");
    done = true;
  });
  // Probes the sheet until the host ends: every message is answered in time.
  DWORD probes = 0, slowest = 0, unanswered = 0;
  while (!done) {
    const HWND sheet = ::FindWindowW(nullptr, L"Security Console");
    DWORD_PTR result = 0;
    const DWORD start = ::GetTickCount();
    if (sheet != nullptr) {
      const bool answered =
          ::SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerBoundMs, &result) != 0;
      if (::IsWindow(sheet)) {
        ++probes;
        unanswered += answered ? 0 : 1;
        slowest = std::max(slowest, ::GetTickCount() - start);
      }
    }
    ::Sleep(50);
  }
  host.join();

  std::printf("probes=%lu slowest=%lu ms\n", probes, slowest);
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_GT(probes, 10u);
  // The icons were asked of the server, which is still holding them.
  EXPECT_FALSE(m_sites.requests().empty());
  EXPECT_EQ(unanswered, 0u) << "slowest answer " << slowest << " ms";
  EXPECT_LE(slowest, kAnswerBoundMs);
  // The agent was asked and did not answer; the delete was saved all the same.
  std::string trace;
  for (const auto& line : m_install.new_trace_lines())
    trace += line + "\n";
  EXPECT_NE(trace.find("cannot transfer the rest from client"), std::string::npos);
  EXPECT_NE(trace.find("3. Notified siblings."), std::string::npos);
}

}  // namespace
