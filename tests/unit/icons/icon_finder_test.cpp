// The icon finder with its worker, the test server and real cache files:
// stale, future and corrupt files refreshed; duplicates merged; identifiers
// that are no file names refused. The first lookup, its completion and the
// stop with a full queue are checked through the notification window.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "icons/icon_cache.h"
#include "icons/icon_finder.h"
#include "support/http_test_server.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "unit/icons/icon_samples.h"

namespace icons {
namespace {

using testsupport::http_response_t;
using testsupport::http_test_server_t;

constexpr UINT kIconsReady = WM_USER + 302;
const fetch_limits_t kLimits{2000, 2000, 2000, 1500, 3000, 5, 3};

// Pumps messages, counting the completions posted to sink: until the first
// arrived or timeout_ms passed, then settle_ms more so that extra ones show.
int wait_for_completions(HWND sink, DWORD timeout_ms, DWORD settle_ms) {
  int count = 0;
  for (ULONGLONG end = ::GetTickCount64() + timeout_ms; ::GetTickCount64() < end; ::Sleep(10)) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.hwnd == sink && msg.message == kIconsReady)
        ++count;
      else
        ::DispatchMessageW(&msg);
    if (count)
      end = std::min<ULONGLONG>(end, ::GetTickCount64() + settle_ms);
  }
  return count;
}

void set_age(const std::wstring& path, double days) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value{{now.dwLowDateTime, now.dwHighDateTime}};
  value.QuadPart -= static_cast<LONGLONG>(days * 864000000000.0);
  const FILETIME when{value.LowPart, value.HighPart};
  HANDLE file =
      ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &when));
  ::CloseHandle(file);
}

class IconFinder : public testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    m_sink = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
    ASSERT_TRUE(m_server.ok());
    m_server.route("/page",
                   {200,
                    {{"Content-Type", "text/html"}},
                    "<head><link rel=\"icon\" href=\"" + m_server.url("/i.ico") + "\"></head>"});
    m_server.route("/i.ico", {200, {{"Content-Type", "image/x-icon"}}, m_icon});
  }
  void TearDown() override {
    ::DestroyWindow(m_sink);
    for (const auto& id : m_ids)
      ::DeleteFileW(IconCachePath(id).c_str());
    ::CoUninitialize();
  }
  std::wstring new_id() {
    static int count = 0;
    m_ids.push_back(L"finder_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                    std::to_wstring(++count));
    ::DeleteFileW(IconCachePath(m_ids.back()).c_str());
    return m_ids.back();
  }

  http_test_server_t m_server;
  std::string m_icon = icontest::dib_icon();
  std::vector<std::wstring> m_ids;
  HWND m_sink = nullptr;
};

TEST_F(IconFinder, StaleFutureAndCorruptFilesAreRefreshed) {
  CIconFinder finder(kLimits);
  finder.SetNotifyTarget(m_sink, kIconsReady);
  const std::wstring url = m_server.wurl("/page");
  const struct {
    const char* name;
    std::string bytes;
    double age_days;
    bool icon;
    bool queued;
  } cases[] = {
      {"fresh", m_icon, 0, true, false},
      {"30 days", m_icon, 30.9, true, false},
      {"31 days", m_icon, 31.0, true, true},
      {"in the future", m_icon, -1, true, true},
      {"PNG inside", icontest::png_icon(), 1, true, false},
      {"corrupt", "<html>not an icon</html>", 1, false, true},
      {"empty", "", 1, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring id = new_id();
    std::ofstream(IconCachePath(id).c_str(), std::ios::binary) << c.bytes;
    set_age(IconCachePath(id), c.age_days);
    testsupport::new_trace_lines();
    HICON icon = finder.GetUrlIcon(id.c_str(), url.c_str());
    EXPECT_EQ(icon != nullptr, c.icon);
    ::DestroyIcon(icon);
    const auto lines = testsupport::new_trace_lines();
    EXPECT_EQ(icontest::traced(lines, "queued successfully"), c.queued);
    EXPECT_EQ(icontest::traced(lines, "Invalid icon file!"), !c.icon);
  }
  // The refreshed files get the served icon.
  EXPECT_EQ(wait_for_completions(m_sink, 10000, 1500), 1);
  EXPECT_EQ(testsupport::read_file(IconCachePath(m_ids[5])), m_icon);
}

TEST_F(IconFinder, DuplicatesMergedAndBadIdentifiersRefused) {
  http_response_t slow{200, {{"Content-Type", "text/html"}}, "<head></head>"};
  slow.header_delay_ms = 700;
  m_server.route("/slow", slow);
  CIconFinder finder(kLimits);
  finder.SetNotifyTarget(m_sink, kIconsReady);
  const std::wstring first = new_id();
  const std::wstring twice = new_id();
  const std::wstring slow_url = m_server.wurl("/slow");
  const std::wstring url = m_server.wurl("/page");
  EXPECT_EQ(finder.GetUrlIcon(first.c_str(), slow_url.c_str()), nullptr);
  EXPECT_EQ(finder.GetUrlIcon(twice.c_str(), url.c_str()), nullptr);
  EXPECT_EQ(finder.GetUrlIcon(twice.c_str(), url.c_str()), nullptr);
  for (const auto& bad : std::vector<std::wstring>{L"", L"a\\b", L"a/b", L"c:x", L"..", L"x..y",
                                                   L"tab\there", std::wstring(129, L'x')})
    EXPECT_EQ(finder.GetUrlIcon(bad.c_str(), url.c_str()), nullptr);
  EXPECT_EQ(wait_for_completions(m_sink, 8000, 500), 1);
  const auto paths = m_server.requests();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/page"), 1);
  EXPECT_EQ(testsupport::read_file(IconCachePath(twice)), m_icon);
}

}  // namespace
}  // namespace icons
