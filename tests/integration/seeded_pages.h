// The dashboard's pages in the console host over a seeded user: the agent
// stand-in publishes the user's templates, the protected storage holds their
// profiles, the console host runs scripts of real messages on the real DLL's
// pages, and what they changed is read back (trace, profile text, quick-link
// file, categories, the agent's log).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "suite/include/pstore_api.h"
#include "tests/support/installation_test_support.h"
#include "tests/unit/agent/agent_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace pagestest {

inline bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs the script in the console host on the pages of the host element (the
// script file lives in the installation's folder); the host's output.
inline testsupport::program_run_t drive_host(const testsupport::installation_t& install,
                                             const std::string& script,
                                             const std::wstring& options = L"") {
  const std::wstring file = install.folder() + L"script.txt";
  testsupport::write_file(file, script);
  return testsupport::run_host(L"drive \"" + file + L"\" --quiet " + options);
}

// A logon the training monitor saves: its name (and template file name) and
// its one account's user name.
struct seeded_logon_t {
  const wchar_t* name;
  const wchar_t* user;
};

class SeededPages : public ::testing::Test {
 protected:
  static constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";
  static constexpr wchar_t kQuickLinks[] = L"quicklink_filename";

  explicit SeededPages(std::vector<seeded_logon_t> logons = {{L"Mail", L"alice@example.com"},
                                                             {L"Bank", L"alice"}})
      : m_templates_env(L"CVUTRAIN_STANDIN_TEMPLATE_DIR", m_templates.path()),
        m_agent({L"--local-folder", m_templates.path()}) {
    testsupport::set_reg_string(HKEY_CURRENT_USER, kSettings, kQuickLinks, quick_links_file());
    for (const auto& logon : logons)
      train(logon.name, logon.user);
    m_agent.sync();
    m_install.new_trace_lines();
  }

  ~SeededPages() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, kQuickLinks); }

  // Runs the script on the pages of the host element; the host's output.
  testsupport::program_run_t drive(const std::string& script, const std::wstring& options = L"") {
    return drive_host(m_install, script, options);
  }
  // The trace lines added since the last look that contain `text`.
  std::vector<std::string> traced(const std::string& text) {
    std::vector<std::string> found;
    for (auto& line : m_install.new_trace_lines())
      if (has(line, text))
        found.push_back(std::move(line));
    return found;
  }

  // The training monitor saves a logon of one account, as a user would.
  void train(const std::wstring& name, const std::wstring& user) {
    testsupport::scoped_environment_t script(
        L"CVUTRAIN_STANDIN_SCRIPT", L"ok;name=" + name + L";address=" + name +
                                        L".example.com;username=" + user + L";password=Pw-" + name);
    EXPECT_EQ(testsupport::run_pumping(L"\"" + testsupport::program_file(L"CvRunDll.exe") +
                                       L"\" \"" + testsupport::program_file(L"CvUTrain.dll") +
                                       L"\" dll_function_startmonitor 0x00000000"),
              0u);
  }

  // The user's profile text as the protected storage holds it (empty when it
  // cannot be read); a text given replaces it first.
  std::wstring profile_text(const std::wstring* replacement = nullptr) {
    const HMODULE ps = ::LoadLibraryW(testsupport::program_file(L"CvoPS.dll").c_str());
    const auto init =
        reinterpret_cast<CVOPSInit_fn>(reinterpret_cast<void*>(::GetProcAddress(ps, "CVOPSInit")));
    const auto query = reinterpret_cast<CVOPSQuery_fn>(
        reinterpret_cast<void*>(::GetProcAddress(ps, "CVOPSQuery")));
    const auto save =
        reinterpret_cast<CVOPSSave_fn>(reinterpret_cast<void*>(::GetProcAddress(ps, "CVOPSSave")));
    const auto term =
        reinterpret_cast<CVOPSTerm_fn>(reinterpret_cast<void*>(::GetProcAddress(ps, "CVOPSTerm")));
    DWORD session = 0;
    if (ps == nullptr || init == nullptr ||
        FAILED(init(CVOPS_VERSION, &session, CVOPS_ACCESS_READWRITE)))
      return {};
    if (replacement != nullptr) {
      EXPECT_HRESULT_SUCCEEDED(save(session, replacement->c_str()));
    }
    term(session, replacement != nullptr ? CVOPS_TERM_COMMIT : CVOPS_TERM_DISCARD);
    EXPECT_HRESULT_SUCCEEDED(init(CVOPS_VERSION, &session, CVOPS_ACCESS_READ));
    LPWSTR text = nullptr;
    std::wstring result;
    if (SUCCEEDED(query(session, nullptr, &text)) && text != nullptr)
      result = text;
    ::CoTaskMemFree(text);
    term(session, CVOPS_TERM_DISCARD);
    return result;
  }

  // Gives the logon whose one account has the user name `user` more accounts:
  // copies of that account's record under the next profile indexes, with
  // these user names (as profile names and user-name values) and plain
  // passwords.
  void add_accounts(const std::wstring& user, const std::vector<std::wstring>& others) {
    std::wstring text = profile_text();
    const auto record = text.rfind(L"[record]", text.find(L"profilename=" + user + L"\n"));
    ASSERT_NE(record, std::wstring::npos) << "no account " << testing::PrintToString(user);
    auto end = text.find(L"[template]", record);
    end = end == std::wstring::npos ? text.size() : end;
    const std::wstring original = text.substr(record, end - record);
    std::wstring copies;
    int index = 0;
    for (const auto& other : others) {
      std::wstring copy = original;
      for (const auto& [from, to] :
           {std::pair<std::wstring, std::wstring>{L"profileindex=0",
                                                  L"profileindex=" + std::to_wstring(++index)},
            {L"=" + user + L"\n", L"=" + other + L"\n"}}) {
        for (auto at = copy.find(from); at != std::wstring::npos; at = copy.find(from, at + 1))
          copy.replace(at, from.size(), to);
      }
      const auto password = copy.find(L"value=550-08-60 ");
      ASSERT_NE(password, std::wstring::npos);
      copy.replace(password, copy.find(L'\n', password) - password,
                   L"value=Secret-" + std::to_wstring(index));
      copies += copy;
    }
    text.insert(end, copies);
    profile_text(&text);
  }

  // The user's quick-link file, one of the installation's own.
  std::wstring quick_links_file() const { return m_install.folder() + L"QuickLinks.txt"; }
  std::string quick_links() const { return testsupport::read_file(quick_links_file()); }

  // The user's categories: name -> members.
  static std::map<std::wstring, std::wstring> categories() {
    std::map<std::wstring, std::wstring> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(
            HKEY_CURRENT_USER,
            (std::wstring(testsupport::installation_t::kDashBoardUser) + L"\\QLCategories").c_str(),
            0, KEY_READ, &key) != ERROR_SUCCESS)
      return found;
    for (DWORD i = 0;; ++i) {
      wchar_t name[261];
      wchar_t data[1024] = {};
      DWORD name_size = 261;
      DWORD data_size = sizeof(data) - sizeof(wchar_t);
      if (::RegEnumValueW(key, i, name, &name_size, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                          &data_size) != ERROR_SUCCESS)
        break;
      found[name] = data;
    }
    ::RegCloseKey(key);
    return found;
  }

  testsupport::installation_t m_install;
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_templates;
  testsupport::scoped_environment_t m_templates_env;
  agenttest::agent_process_t m_agent;
};

}  // namespace pagestest
