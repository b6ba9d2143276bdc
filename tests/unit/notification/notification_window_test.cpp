// The notification window as the main page makes it, with real page windows:
// its class and name, the forwards to the pages, the storage and icon
// requests, the lazy secret restore, the refreshes it asks of the storage
// hooks. (Its end with the icon worker busy: tests/unit/icons/unload_test.cpp.)
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/notification_services.h"
#include "agent/notification_window.h"
#include "icons/icon_cache.h"
#include "store/dashboard_storage.h"
#include "support/http_test_server.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "unit/icons/icon_samples.h"

namespace agent {
namespace {

const icons::fetch_limits_t kLimits{2000, 2000, 2000, 1500, 3000, 5, 3};

struct received_t {
  HWND page;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  DWORD change_size;  // cbSize of a 2001 record
};
std::vector<received_t> g_received;

LRESULT CALLBACK page_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgPageNotify || msg == kMsgSecretRestored)
    g_received.push_back({hwnd, msg, wp, lp,
                          msg == kMsgPageNotify && wp == kNotifyStorageUpdated && lp
                              ? reinterpret_cast<const page_change_t*>(lp)->cbSize
                              : 0});
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

HWND make_page(HWND parent = nullptr) {
  return ::CreateWindowExW(0, L"NotificationTestPage", L"page",
                           parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, parent, nullptr,
                           nullptr, nullptr);
}

// Pumps messages for ms; with until_received, until a page heard something
// (at most ms) and then 300 ms more.
void pump(DWORD ms, bool until_received = false) {
  for (ULONGLONG end = ::GetTickCount64() + ms; ::GetTickCount64() < end; ::Sleep(5)) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      ::DispatchMessageW(&msg);
    if (until_received && !g_received.empty())
      end = std::min<ULONGLONG>(end, ::GetTickCount64() + 300);
  }
}

std::vector<received_t> take_received() {
  return std::exchange(g_received, {});
}

// Runs the agent stand-in in one of its one-shot modes (it posts before it
// exits) and dispatches what it posted; what the pages heard.
std::vector<received_t> from_agent(const std::wstring& arguments, bool pages_hear = true) {
  const auto run = testsupport::run_program(L"\"" + testsupport::program_file(L"CVAgent.exe") +
                                            L"\" " + arguments);
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  pump(pages_hear ? 10000 : 100, pages_hear);
  return take_received();
}

using icontest::traced;

std::string hex(HWND window, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format,
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window)));
  return text;
}

// A storage object for the hooks: counts its references.
struct fake_storage_t : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown ? this : nullptr;
    return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 0;
} g_storage;
int g_opened = 0;
std::vector<std::pair<std::string, HWND>> g_calls;  // the hooks called, with their window
HRESULT g_profile_result = S_OK;

void install_hooks() {
  notification_services_t services;
  services.open_storage = [](IUnknown** out) -> HRESULT {
    ++g_opened;
    return g_storage.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
  };
  services.storage_interface = &IID_IUnknown;
  services.refresh_manifest_list = [](HWND window) {
    g_calls.push_back({"manifest", window});
    return true;
  };
  services.refresh_profile_from_global = [](HWND window, IUnknown*) {
    g_calls.push_back({"profile", window});
    return g_profile_result;
  };
  services.recalculate_strength = [](HWND owner, IUnknown*) -> HRESULT {
    g_calls.push_back({"strength", owner});
    return S_OK;
  };
  SetNotificationServices(services);
}

class NotificationWindow : public testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    WNDCLASSW page_class{0, page_proc};
    page_class.lpszClassName = L"NotificationTestPage";
    ::RegisterClassW(&page_class);  // fails harmlessly when already registered
    SetNotificationServices({});
    g_received.clear();
    g_calls.clear();
    m_main = make_page();
    m_tab = make_page(m_main);
    m_hwnd = m_window.AddWindow(m_main, true);
    m_window.AddWindow(m_tab, false);
    ASSERT_NE(m_hwnd, nullptr);
  }
  void TearDown() override {
    m_window.DestroyNotificationWindow();
    ::DestroyWindow(m_main);
    SetNotificationServices({});
    ::CoUninitialize();
  }

  CNotificationWindow m_window{kLimits};
  HWND m_main = nullptr;
  HWND m_tab = nullptr;
  HWND m_hwnd = nullptr;
};

// First in the program: the component folder is read once per process.
TEST_F(NotificationWindow, TheStoragePartsAndTheAgentsBroadcast) {
  const pstest::scratch_store store;  // in the environment the agent inherits
  const testsupport::scoped_component_folder_t folder(testsupport::program_file(L""));
  SetNotificationServices(DefaultNotificationServices());
  storage_request_t request;
  ::SendMessageW(m_hwnd, kMsgGetStorage, 0, reinterpret_cast<LPARAM>(&request));
  ASSERT_NE(request.storage, nullptr);
  DWORD handle = 0;
  EXPECT_EQ(static_cast<IDashBoardStorage*>(request.storage)->GetStorageHandle(&handle), S_OK);
  request.storage->Release();

  // The agent hands over a profile and broadcasts "WM_CV_PSTORAGE_UPDATED":
  // every page but the active one hears of it, with its record. (The template
  // is unknown: the refresh fails.)
  m_window.SetActiveHostPage(m_main);
  testsupport::new_trace_lines();
  const auto got =
      from_agent(L"--save-logon {6B1D0C52-1111-4D2A-9A77-0E0F5A1B2C3D} --profile Work");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].page, m_tab);
  EXPECT_EQ(got[0].wparam, kNotifyStorageUpdated);
  EXPECT_EQ(got[0].change_size, sizeof(page_change_t));
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "RefreshProfileFromGlobal"));

  ::SendMessageW(m_hwnd, kMsgSecretRestored, 0, 0);  // closes the session
}

TEST_F(NotificationWindow, ClassNameStylesAndForwards) {
  EXPECT_EQ(::FindWindowW(L"CV_LocalAgentDS", L"NotificationWindow"), m_hwnd);
  EXPECT_EQ(::GetWindowLongW(m_hwnd, GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
  EXPECT_EQ(::GetWindowLongW(m_hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
  EXPECT_FALSE(::IsWindowVisible(m_hwnd));
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), hex(m_hwnd, "AddWindow = 0x%08X")));
  EXPECT_EQ(m_window.AddWindow(make_page(m_main), true), m_hwnd);  // one window per object

  // From outside: every page, parameters unchanged, in order.
  ::SendMessageW(m_hwnd, kMsgPageNotify, 77, 0x1234);
  auto got = take_received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].page, m_main);
  EXPECT_EQ(got[1].page, m_tab);
  EXPECT_EQ(got[0].wparam, 77u);
  EXPECT_EQ(got[1].lparam, 0x1234);

  // The settings page's broadcast (made here by the agent stand-in): 2005 to all.
  got = from_agent(L"--notify CvSettingsChanged");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].wparam, kNotifySettingsChanged);
  EXPECT_EQ(got[2].wparam, kNotifySettingsChanged);

  // Icons ready: live pages only.
  HWND gone = make_page();
  m_window.AddWindow(gone, false);
  ::DestroyWindow(gone);
  ::SendMessageW(m_hwnd, kMsgIconsReady, 0, 0);
  got = take_received();
  EXPECT_EQ(got.size(), 3u);
  for (const auto& r : got)
    EXPECT_NE(r.page, gone);
}

TEST_F(NotificationWindow, LazySecretRestoreOnTheNextActivePage) {
  from_agent(L"--notify-data-changed", false);  // WM_USER + 303
  testsupport::new_trace_lines();
  m_window.SetActiveHostPage(m_tab);
  auto got = take_received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].message, kMsgSecretRestored);
  EXPECT_TRUE(traced(testsupport::new_trace_lines(),
                     hex(m_tab, "m_hWndActiveHostPage = 0x%X") + ", m_fLazySecretRestored = 1"));
  m_window.SetActiveHostPage(m_tab);
  EXPECT_TRUE(take_received().empty());
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "m_fLazySecretRestored = 0"));
}

TEST_F(NotificationWindow, StorageRequestsAndRefreshes) {
  // Without the storage part installed: nothing, traced.
  storage_request_t request;
  request.storage = &g_storage;
  ::SendMessageW(m_hwnd, kMsgGetStorage, 0, reinterpret_cast<LPARAM>(&request));
  EXPECT_EQ(request.storage, nullptr);
  ::SendMessageW(m_hwnd, kMsgRecalculateStrength, 0, 0);
  const auto lines = testsupport::new_trace_lines();
  EXPECT_TRUE(traced(lines, "OpenDashBoardStorage: not available"));
  EXPECT_TRUE(traced(lines, "RecalculatePasswordStrength: not available"));

  install_hooks();
  storage_request_t wrong;
  wrong.cbSize = 12;
  wrong.storage = &g_storage;
  ::SendMessageW(m_hwnd, kMsgGetStorage, 0, reinterpret_cast<LPARAM>(&wrong));
  EXPECT_EQ(wrong.storage, &g_storage);  // ignored
  EXPECT_EQ(g_opened, 0);
  for (int i = 0; i < 2; ++i) {
    storage_request_t ok;
    ::SendMessageW(m_hwnd, kMsgGetStorage, 0, reinterpret_cast<LPARAM>(&ok));
    EXPECT_EQ(ok.storage, &g_storage);
    ok.storage->Release();
  }
  EXPECT_EQ(g_opened, 1);
  EXPECT_EQ(g_storage.refs, 1u);

  m_window.SetActiveHostPage(m_main);
  g_profile_result = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  ::SendMessageW(m_hwnd, RegisteredMessages().pstorage_updated, 0, 0);
  g_profile_result = S_OK;
  ::SendMessageW(m_hwnd, RegisteredMessages().pstorage_updated, 0, 0);
  ::SendMessageW(m_hwnd, kMsgRecalculateStrength, 0, 0);
  EXPECT_EQ(
      g_calls,
      (decltype(g_calls){
          {"profile", m_main}, {"manifest", m_hwnd}, {"profile", m_main}, {"strength", m_main}}));

  // The secret restored: the object goes, live pages hear it, the rating runs.
  g_calls.clear();
  take_received();
  ::SendMessageW(m_hwnd, kMsgSecretRestored, 0, 0);
  EXPECT_EQ(g_storage.refs, 0u);
  EXPECT_EQ(take_received().size(), 2u);
  EXPECT_EQ(g_calls, (decltype(g_calls){{"strength", m_main}}));
}

// The console (the main page's top-level window) minimised while a training
// runs comes back on "WM_CV_FLM_RESTORE", and only after a training started.
TEST_F(NotificationWindow, AStartedTrainingBringsTheConsoleBack) {
  const testsupport::scoped_component_folder_t folder(testsupport::program_file(L""));
  const testsupport::scoped_environment_t script(L"CVUTRAIN_STANDIN_SCRIPT", L"cancel");
  m_window.SetActiveHostPage(m_tab);
  ::ShowWindow(m_main, SW_SHOWMINIMIZED);
  ASSERT_TRUE(::IsIconic(m_main));
  ::PostMessageW(m_hwnd, RegisteredMessages().flm_restore, 0, 0);
  pump(100);
  EXPECT_TRUE(::IsIconic(m_main));
  ::SendMessageW(m_hwnd, kMsgStartTraining, 0, 0);
  EXPECT_TRUE(traced(testsupport::new_trace_lines(), "CvUTrain.dll"));
  ::PostMessageW(m_hwnd, RegisteredMessages().flm_restore, 0, 0);
  pump(100);
  EXPECT_FALSE(::IsIconic(m_main));
}

TEST_F(NotificationWindow, IconsThroughTheWindow) {
  testsupport::http_test_server_t server;
  ASSERT_TRUE(server.ok());
  const std::string icon = icontest::dib_icon();
  server.route("/page", {200,
                         {{"Content-Type", "text/html"}},
                         "<head><link rel=\"icon\" href=\"" + server.url("/i.ico") + "\"></head>"});
  server.route("/i.ico", {200, {{"Content-Type", "image/x-icon"}}, icon});
  const std::wstring id = L"notify_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring url = server.wurl("/page");
  ::DeleteFileW(icons::IconCachePath(id).c_str());

  icon_request_t request;
  request.unique_id = id.c_str();
  request.url = url.c_str();
  request.cbSize = 8;  // a wrong size: ignored
  testsupport::new_trace_lines();
  EXPECT_EQ(::SendMessageW(m_hwnd, kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request)), 0);
  EXPECT_FALSE(traced(testsupport::new_trace_lines(), "szUniqueId"));
  request.cbSize = sizeof request;
  EXPECT_EQ(::SendMessageW(m_hwnd, kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request)), 0);
  pump(5000, true);
  const auto got = take_received();
  ASSERT_EQ(got.size(), 2u);  // one per page
  EXPECT_EQ(got[0].wparam, kNotifyIconsUpdated);
  const std::string narrow_id(id.begin(), id.end());
  const auto lines = testsupport::new_trace_lines();
  for (const std::string& line :
       {"szUniqueId  = " + narrow_id, "szUrl       = " + std::string(url.begin(), url.end()),
        std::string("hIconResult = 0x00000000"),
        "The icon request has been queued successfully, szUniqueId = " + narrow_id})
    EXPECT_TRUE(traced(lines, line)) << line;
  EXPECT_EQ(testsupport::read_file(icons::IconCachePath(id)), icon);
  auto* handle = reinterpret_cast<HICON>(
      ::SendMessageW(m_hwnd, kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request)));
  ASSERT_NE(handle, nullptr);
  ::DestroyIcon(handle);
  ::DeleteFileW(icons::IconCachePath(id).c_str());
}

}  // namespace
}  // namespace agent
