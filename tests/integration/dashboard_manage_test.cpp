// The manage tab in the console host: logons opened, accounts added, edited
// and deleted, categories filled, renamed and deleted, driven by scripts of
// real messages on the real DLL's pages over a seeded user; what each flow
// changed read back from the trace, the profile text, the quick-link file, the
// categories key, the agent's log and the browser stand-in's log.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/integration/seeded_pages.h"

namespace {

using pagestest::has;

// Three logons; Mail has three accounts.
class SeededManage : public pagestest::SeededPages {
 protected:
  SeededManage()
      : SeededPages({{L"Mail", L"alice@example.com"}, {L"Bank", L"alice"}, {L"Shop", L"shopper"}}) {
    add_accounts(L"alice@example.com", {L"bob@example.com", L"carol@example.com"});
    m_install.new_trace_lines();
  }
};

// One action on the accounts, run in its own console after the ones before.
struct account_flow_t {
  const char* name;
  int rows;               // in the logon list when the console opens
  const wchar_t* answer;  // what the account dialog answers (scripted)
  const char* script;
  const char* added;  // in the profile text and the quick links afterwards, or null
  const char* gone;   // in neither afterwards, or null
  bool saved;
  bool logon_deleted;  // the agent is told that the template went
};

const account_flow_t kAccountFlows[] = {
    {"add", 6, L"ok;profilename=dave;username=dave@example.com;password=Pw-dave",
     "menu 40004\nrclick #1006 Mail\nwait-rows #1006 7\n", "dave@example.com", nullptr, true,
     false},
    {"edit", 7, L"ok;profilename=robert;username=robert@example.com",
     "menu 40005\nrclick #1006 bob@example.com\n", "robert@example.com", "bob@example.com", true,
     false},
    {"delete declined", 7, L"cancel", "select #1006 carol@example.com\nbox #7\nkeys #1006 Delete\n",
     "carol@example.com", nullptr, false, false},
    {"delete account", 7, L"cancel",
     "select #1006 carol@example.com\nbox #6\nkeys #1006 Delete\n"
     "wait-rows #1006 6\n",
     "dave@example.com", "carol@example.com", true, false},
    {"delete logon", 6, L"cancel",
     "select #1006 Mail\nbox #6\nkeys #1006 Delete\nwait-rows #1006 2\n", nullptr,
     "alice@example.com", true, true},
};

std::string narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());  // the seeded texts are ASCII
}

TEST_F(SeededManage, AccountsAreAddedEditedAndDeletedThroughTheirMenusAndKeys) {
  ASSERT_TRUE(m_agent.ready());
  for (const auto& flow : kAccountFlows) {
    SCOPED_TRACE(flow.name);
    const std::string text = narrow(profile_text());
    const std::string links = quick_links();
    const auto told = m_agent.log_lines("request type=2").size();
    testsupport::scoped_environment_t answer(L"CVUTRAIN_STANDIN_SCRIPT", flow.answer);
    const auto run =
        drive("wait-rows #1006 " + std::to_string(flow.rows) + " 10000\n" + flow.script);
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    m_agent.sync();
    const std::string text_after = narrow(profile_text());
    const std::string links_after = quick_links();
    EXPECT_EQ(traced("Saving changes...").size(), flow.saved ? 1u : 0u);
    EXPECT_EQ(text_after != text, flow.saved);
    EXPECT_EQ(links_after != links, flow.saved) << links_after;
    if (flow.added != nullptr) {
      EXPECT_TRUE(has(text_after, flow.added) && has(links_after, flow.added)) << links_after;
    }
    if (flow.gone != nullptr) {
      EXPECT_FALSE(has(text_after, flow.gone) || has(links_after, flow.gone)) << links_after;
    }
    const auto requests = m_agent.log_lines("request type=2");
    ASSERT_EQ(requests.size() - told, flow.logon_deleted ? 1u : 0u);
    if (flow.logon_deleted) {
      EXPECT_TRUE(has(requests.back(), "message=WM_CV_AGENT_MANIFEST")) << requests.back();
    }
  }
}

// Opening: a single-account logon and an account open their quick links in the
// browser (the agent gets their fill-in requests), a logon of several accounts
// has nothing to open. The first view of the tab without an overall rating asks
// for one recalculation.
TEST_F(SeededManage, LogonsOpenInTheBrowserAndOneRatingIsAskedFor) {
  ASSERT_TRUE(m_agent.ready());
  constexpr wchar_t kHttpCommand[] = L"Software\\Classes\\http\\shell\\open\\command";
  constexpr wchar_t kBrowserKey[] = L"Software\\CorvantisStandIns\\browser";
  const std::wstring log = m_install.folder() + L"browser.log";
  testsupport::set_reg_string(HKEY_CURRENT_USER, kBrowserKey, L"Log", log);
  testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr,
                              L"\"" + testsupport::program_file(L"CVBrowser.exe") + L"\" \"%1\"");
  const auto run = drive(
      "wait-rows #1006 6 10000\n"
      "dblclick #1006 Mail\n"
      "dblclick #1006 shopper\n"
      "sleep 300\n"         // the agent's fill-in slot holds one request at a time
      "keys #1006 Enter\n"  // the same row once more, by keyboard
      "sleep 300\n"
      "dblclick #1006 bob@example.com\n"
      "sleep 1000\n");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  // The loading page's ids: the links are numbered from 2 in file order, and
  // Shop's link was written before Mail's three.
  std::vector<std::string> opened;
  for (int i = 0; i < 250 && opened.size() < 3; ++i, ::Sleep(20)) {
    opened.clear();
    for (const auto& line : testsupport::read_lines(log))
      if (line.rfind("start ", 0) == 0)
        opened.push_back(line.substr(line.find("qlinkload.htm#")));
  }
  std::sort(opened.begin(), opened.end());
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kHttpCommand, nullptr);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
  EXPECT_EQ(opened, (std::vector<std::string>{"qlinkload.htm#id=2", "qlinkload.htm#id=2",
                                              "qlinkload.htm#id=4"}))
      << run.output;
  m_agent.sync();
  std::vector<std::string> filled;
  for (const auto& line : m_agent.log_lines("fill-in request"))
    filled.push_back(line.substr(line.find("profilename=")));
  EXPECT_EQ(filled, (std::vector<std::string>{"profilename=shopper", "profilename=shopper",
                                              "profilename=bob@example.com"}))
      << testing::PrintToString(m_agent.log_lines());
  EXPECT_EQ(traced("logons rated: overall level").size(), 1u);
}

// Categories: rows dragged onto one, the category shown, a row removed from it,
// another category renamed by its menu and one deleted by its key; Delete on
// the first item does nothing. With an overall rating stored no recalculation
// is asked for.
TEST_F(SeededManage, CategoriesAreFilledRenamedAndDeleted) {
  ASSERT_TRUE(m_agent.ready());
  testsupport::set_reg_dword(
      HKEY_CURRENT_USER, std::wstring(testsupport::installation_t::kDashBoardUser) + L"\\IDCard",
      L"IDCard_SS", 2);
  const auto run = drive(
      "wait-rows #1006 6 10000\n"
      "drag #1006 shopper #1003 Shopping\n"
      "drag #1006 Mail #1003 Shopping\n"
      "drag #1006 alice #1003 \"All logons\"\n"  // the first item takes nothing
      "select #1003 Shopping\n"
      "wait-rows #1006 5\n"
      "drag #1006 shopper #1003 Shopping\n"  // nor the category shown
      "menu 40009\n"
      "box #6\n"
      "rclick #1006 shopper\n"
      "wait-rows #1006 4\n"
      "menu 40001\n"
      "box #1 Travel\n"
      "rclick #1003 Work\n"
      "select #1003 Personal\n"
      "box #6\n"
      "keys #1003 Delete\n"
      "select #1003 @0\n"
      "keys #1003 Delete\n"
      "rows #1003\n");
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_TRUE(
      has(run.output, "count=3\nrow 0 selected: All logons\nrow 1: Travel\nrow 2: Shopping\n"))
      << run.output;
  EXPECT_EQ(categories(),
            (std::map<std::wstring, std::wstring>{{L"Shopping", L"Mail"}, {L"Travel", L""}}));
  EXPECT_EQ(traced("logons rated: overall level").size(), 0u);
}

}  // namespace
