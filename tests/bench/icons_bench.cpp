// Costs of the icon finder, as ratios against baselines measured in the same
// run, tracing off:
//  - a cache hit of GetUrlIcon against LoadImageW (LR_LOADFROMFILE, 16 x 16) of
//    the same file, 1,000 identifiers in a row, each icon dropped untimed;
//  - draining 200 requests (page and icon each, from the test server) against
//    400 GETs in a plain WinHTTP loop; and the peak number of connections at
//    once (the finder downloads one at a time: 1).
// Prints its figures; never fails.
#include <windows.h>
#include <objbase.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "icons/icon_cache.h"
#include "icons/icon_finder.h"
#include "support/http_test_server.h"
#include "unit/icons/icon_samples.h"

namespace {

using bench::now_ns;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void report(const char* name, double ratio, const char* baseline, double goal) {
  std::printf("%s: %.2f x %s (goal <= %.1f)\n", name, ratio, baseline, goal);
}

// One GET with its own connection and request, the body read and dropped.
void plain_get(HINTERNET session, INTERNET_PORT port, const wchar_t* path) {
  HINTERNET connection = ::WinHttpConnect(session, L"127.0.0.1", port, 0);
  HINTERNET request = ::WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  if (::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
      ::WinHttpReceiveResponse(request, nullptr)) {
    char buffer[4096];
    DWORD got = 0;
    while (::WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) {
    }
  }
  ::WinHttpCloseHandle(request);
  ::WinHttpCloseHandle(connection);
}

}  // namespace

int main() {
  ::CoInitialize(nullptr);
  const std::string icon = icontest::dib_icon();
  const std::wstring prefix = L"bench_" + std::to_wstring(::GetCurrentProcessId()) + L"_";
  std::vector<std::wstring> ids;
  for (int i = 0; i < 1000; ++i) {
    ids.push_back(prefix + std::to_wstring(i));
    std::ofstream(icons::IconCachePath(ids.back()).c_str(), std::ios::binary) << icon;
  }

  {
    icons::CIconFinder finder;
    std::vector<double> hit;
    std::vector<double> load;
    for (int round = 0; round < 3; ++round) {
      for (const auto& id : ids) {
        const std::wstring path = icons::IconCachePath(id);
        double start = now_ns();
        HICON a = finder.GetUrlIcon(id.c_str(), L"http://127.0.0.1/");
        hit.push_back(now_ns() - start);
        ::DestroyIcon(a);
        start = now_ns();
        auto* b = static_cast<HICON>(
            ::LoadImageW(nullptr, path.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
        load.push_back(now_ns() - start);
        ::DestroyIcon(b);
      }
    }
    report("icon cache hit", median(hit) / median(load), "LoadImageW of the file", 1.2);
  }

  {
    testsupport::http_test_server_t server;
    server.route("/page",
                 {200,
                  {{"Content-Type", "text/html"}},
                  "<head><link rel=\"icon\" href=\"" + server.url("/i.ico") + "\"></head>"});
    server.route("/i.ico", {200, {{"Content-Type", "image/x-icon"}}, icon});
    // The plain loop has a server of its own, so the peak below is the finder's.
    testsupport::http_test_server_t plain_server;
    plain_server.route("/page", {200, {{"Content-Type", "text/html"}}, "<head></head>"});
    plain_server.route("/i.ico", {200, {{"Content-Type", "image/x-icon"}}, icon});
    HINTERNET session = ::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
    double start = now_ns();
    for (int i = 0; i < 200; ++i) {
      plain_get(session, plain_server.port(), L"/page");
      plain_get(session, plain_server.port(), L"/i.ico");
    }
    const double plain = now_ns() - start;
    ::WinHttpCloseHandle(session);

    icons::CIconFinder finder;
    const UINT done = WM_APP + 1;
    HWND sink = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    finder.SetNotifyTarget(sink, done);
    const std::wstring url = server.wurl("/page");
    start = now_ns();
    for (int i = 0; i < 200; ++i)
      finder.FindIcon(ids[i], url);
    // Completions come once per drained queue: the one after the last request
    // ends the run.
    bool finished = false;
    const ULONGLONG give_up = ::GetTickCount64() + 120000;
    while (!finished && ::GetTickCount64() < give_up) {
      MSG msg;
      while (::PeekMessageW(&msg, sink, done, done, PM_REMOVE))
        finished = server.requests().size() >= 400;
      ::Sleep(1);
    }
    const double drained = now_ns() - start;
    report("draining 200 icon requests", drained / plain, "400 GETs in a WinHTTP loop", 1.3);
    std::printf("icon finder peak connections: %d (goal 1)\n", server.peak_connections());
    ::DestroyWindow(sink);
  }

  for (const auto& id : ids)
    ::DeleteFileW(icons::IconCachePath(id).c_str());
  ::CoUninitialize();
  return 0;
}
