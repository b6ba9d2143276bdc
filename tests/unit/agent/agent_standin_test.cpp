// The agent stand-in on its own: the template folders the settings name, and
// "the user saved a logon in the browser" acted out from its command line.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "agent/portable/channel_layout.h"
#include "store/portable/profile_records.h"
#include "suite/common/standin_paths.h"
#include "suite/include/pstore_api.h"
#include "support/registry.h"
#include "templates/lookup_cache.h"
#include "tests/unit/agent/agent_test_support.h"

namespace {

using agenttest::agent_process_t;

constexpr wchar_t kUserSettings[] = L"Software\\Corvantis\\Settings";

// Sets user settings for the time of a test and puts the earlier values back.
class user_settings_t {
 public:
  ~user_settings_t() {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
      return;
    for (const auto& [name, old] : m_saved) {
      if (old)
        ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(old->c_str()),
                         static_cast<DWORD>((old->size() + 1) * sizeof(wchar_t)));
      else
        ::RegDeleteValueW(key, name.c_str());
    }
    ::RegCloseKey(key);
  }
  void set(const std::wstring& name, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettings, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    bool known = false;
    for (const auto& saved : m_saved)
      known = known || saved.first == name;
    if (!known)
      m_saved.emplace_back(name, support::try_get_string(key, name.c_str()));
    ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> m_saved;
};

std::vector<std::wstring> listed() {
  std::vector<std::wstring> paths;
  templates::get_manifest_fnames_all(paths);
  return paths;
}

TEST(AgentStandIn, IndexesTheFoldersTheSettingsName) {
  const std::wstring root = agenttest::new_temp_folder();
  for (const wchar_t* folder : {L"bin", L"bin\\templates", L"cache", L"own", L"alien"})
    ::CreateDirectoryW((root + folder).c_str(), nullptr);
  for (const wchar_t* file : {L"bin\\templates\\shipped.cvm", L"cache\\cached.cvm",
                              L"own\\mine.cvm", L"alien\\foreign.cvm"})
    agenttest::write_file(root + file, "<manifest/>");
  {
    user_settings_t settings;
    settings.set(L"is_personalmode", L"1");
    settings.set(L"alienstorage_dirs", root + L"alien");
    settings.set(L"bin_dir", root + L"bin");
    settings.set(L"cachestorage_dir", root + L"cache\\");
    settings.set(L"localstorage_dir", root + L"own\\");
    agent_process_t agent;
    ASSERT_TRUE(agent.ready());
    // Personal mode: no foreign folders.
    EXPECT_EQ(listed(),
              (std::vector<std::wstring>{root + L"bin\\templates\\shipped.cvm",
                                         root + L"cache\\cached.cvm", root + L"own\\mine.cvm"}));
    const auto start = agent.log_lines("cache start");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_NE(start[0].find("own=1"), std::string::npos) << start[0];
    EXPECT_NE(start[0].find("(folders from the settings)"), std::string::npos) << start[0];

    // The settings are read again for every build.
    settings.set(L"is_personalmode", L"-1");
    ::SendMessageW(agent.window(), ::RegisterWindowMessageW(agent::kMsgAgentRefreshCache), 0, 0);
    EXPECT_EQ(listed().size(), 4u);
  }
  agenttest::remove_tree(root);
}

TEST(AgentStandIn, RefusesToRunTwice) {
  agent_process_t first;
  ASSERT_TRUE(first.ready());
  agent_process_t second;
  EXPECT_FALSE(second.ready());
  EXPECT_EQ(second.wait_for_exit(), 3u);
  EXPECT_EQ(second.log_lines(), std::vector<std::string>{"another agent runs"});
}

// A top-level window of the test that records the storage-updated broadcast.
struct broadcast_listener_t {
  static inline UINT message = 0;
  static inline std::optional<LPARAM> heard;

  static LRESULT CALLBACK procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == message && message != 0)
      heard = lparam;
    return ::DefWindowProcW(window, msg, wparam, lparam);
  }

  broadcast_listener_t() {
    message = ::RegisterWindowMessageW(agent::kMsgPStorageUpdated);
    heard.reset();
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"AgentTestListener";
    ::RegisterClassW(&window_class);
    window = ::CreateWindowExW(0, L"AgentTestListener", L"listener", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                               10, nullptr, nullptr, window_class.hInstance, nullptr);
  }
  ~broadcast_listener_t() { ::DestroyWindow(window); }

  // Pumps messages until the broadcast is heard or the process has ended and
  // nothing more is queued.
  void pump_until_heard(HANDLE process) {
    for (int rounds = 0; !heard && rounds < 600; ++rounds) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);
      if (::WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && rounds > 50)
        break;
    }
  }

  HWND window = nullptr;
};

TEST(AgentStandIn, SavedLogonGoesToTheSharedStorageThenIsBroadcast) {
  const std::wstring store = agenttest::unique_name(L"AgentTestStore");
  ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", store.c_str());
  broadcast_listener_t listener;
  ASSERT_NE(listener.window, nullptr);

  std::wstring command = L"\"" + agenttest::test_folder() +
                         L"CVAgent.exe\" --save-logon {6B1D0C52-1111-4D2A-9A77-0E0F5A1B2C3D} "
                         L"--profile Work --profile-index 2 --item \"User=alice\" "
                         L"--item \"Password=s3cret \u00e9\"";
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  listener.pump_until_heard(process.hProcess);
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD exit_code = 1;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  ASSERT_TRUE(listener.heard.has_value());
  EXPECT_EQ(static_cast<DWORD>(*listener.heard), process.dwProcessId);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  // The dashboard's side: the slot without a request identifier.
  HMODULE pstore = ::LoadLibraryW((agenttest::test_folder() + L"CvoPS.dll").c_str());
  ASSERT_NE(pstore, nullptr);
  const auto init = reinterpret_cast<CVOPSInit_fn>(
      reinterpret_cast<void*>(::GetProcAddress(pstore, "CVOPSInit")));
  const auto term = reinterpret_cast<CVOPSTerm_fn>(
      reinterpret_cast<void*>(::GetProcAddress(pstore, "CVOPSTerm")));
  const auto read = reinterpret_cast<CVOPSReadProfileFromSharedStorage_fn>(
      reinterpret_cast<void*>(::GetProcAddress(pstore, "CVOPSReadProfileFromSharedStorage")));
  DWORD handle = 0;
  ASSERT_EQ(init(CVOPS_VERSION, &handle, CVOPS_ACCESS_READWRITE), S_OK);
  LPWSTR template_id = nullptr;
  DWORD size = 0;
  BYTE* bytes = nullptr;
  ASSERT_EQ(read(handle, &CVOPS_PROFILE_GUID, &template_id, &size, &bytes), S_OK);
  EXPECT_STREQ(template_id, L"{6B1D0C52-1111-4D2A-9A77-0E0F5A1B2C3D}");
  serialization::cvprofile_t record;
  EXPECT_TRUE(serialization::LoadProfileImage(bytes, size, record));
  std::memset(bytes, 0, size);
  ::CoTaskMemFree(bytes);
  ::CoTaskMemFree(template_id);
  term(handle, CVOPS_TERM_DISCARD);
  ::FreeLibrary(pstore);

  EXPECT_EQ(record.profilename, L"Work");
  EXPECT_EQ(record.profileindex, 2);
  ASSERT_EQ(record.items.size(), 2u);
  EXPECT_EQ(record.items[0].displayname, L"User");
  EXPECT_EQ(record.items[0].value.view(), L"alice");
  EXPECT_EQ(record.items[1].displayname, L"Password");
  EXPECT_EQ(record.items[1].value.view(), L"s3cret \u00e9");

  if (const auto file = standin::protected_store_file(store))
    ::DeleteFileW(file->c_str());
  ::SetEnvironmentVariableW(L"CVOPS_STANDIN_STORE", nullptr);
}

}  // namespace
