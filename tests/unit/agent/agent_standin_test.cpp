// "The user saved a logon in the browser", acted out by the agent stand-in
// from its command line: the profile goes to the protected storage's shared
// slot, where the dashboard's loader reads it, and the storage-updated
// broadcast names the agent's process.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "agent/portable/channel_layout.h"
#include "store/portable/profile_records.h"
#include "store/protected_storage.h"
#include "tests/unit/agent/agent_test_support.h"
#include "tests/unit/store/protected_storage_test_support.h"

namespace {

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
  const pstest::scratch_store store;  // in the environment the agent inherits
  broadcast_listener_t listener;
  ASSERT_NE(listener.window, nullptr);

  std::wstring command = L"\"" + testsupport::program_file(L"CVAgent.exe") +
                         L"\" --save-logon {6B1D0C52-1111-4D2A-9A77-0E0F5A1B2C3D} "
                         L"--profile Work --profile-index 2 --item \"username:User=alice\" "
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
  const pstore::CProtectedStorage ps(testsupport::program_file(L"CvoPS.dll"));
  const pstore::handle_t h = ps.init();
  const pstore::shared_profile_t shared = ps.read_shared_profile(h);
  ps.term(h);
  EXPECT_EQ(shared.template_id, L"{6B1D0C52-1111-4D2A-9A77-0E0F5A1B2C3D}");
  serialization::cvprofile_t record;
  ASSERT_TRUE(serialization::LoadProfileImage(shared.image.data(), shared.image.size(), record));
  EXPECT_EQ(record.profilename, L"Work");
  EXPECT_EQ(record.profileindex, 2);
  ASSERT_EQ(record.items.size(), 2u);
  EXPECT_EQ(record.items[0].displayname, L"User");
  EXPECT_EQ(record.items[0].dbname, "username");
  EXPECT_EQ(record.items[1].dbname, "");
  EXPECT_EQ(record.items[0].value.view(), L"alice");
  EXPECT_EQ(record.items[1].displayname, L"Password");
  EXPECT_EQ(record.items[1].value.view(), L"s3cret \u00e9");
}

}  // namespace
