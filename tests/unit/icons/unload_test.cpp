// The plug-in's DLL freed while its icon worker is in the middle of a download
// with 50 more queued: the window's end waits for none of them, the worker
// keeps the module mapped until it has left it (after that one download), and
// then the module goes; nothing hangs or crashes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/http_test_server.h"
#include "tests/support/win_test_helpers.h"

namespace {

using start_fn = HWND(WINAPI*)(HWND, const wchar_t*, const wchar_t*, int);
using end_fn = void(WINAPI*)();

template <typename F>
F entry(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

TEST(IconWorkerUnload, ADllFreedMidDownloadGoesWhenTheWorkerLeaves) {
  testsupport::http_test_server_t server;
  ASSERT_TRUE(server.ok());
  testsupport::http_response_t trickle{200, {{"Content-Type", "text/html"}}, std::string(100, ' ')};
  trickle.trickle_ms = 20;  // two seconds
  server.route("/slow", trickle);
  const wchar_t* name = L"icons_unload_dll.dll";
  HMODULE dll = ::LoadLibraryW(testsupport::program_file(name).c_str());
  ASSERT_NE(dll, nullptr);
  const auto start = entry<start_fn>(dll, "start_icon_downloads");
  const auto end = entry<end_fn>(dll, "end_main_page");
  ASSERT_TRUE(start && end);
  HWND page = ::CreateWindowExW(0, L"STATIC", L"page", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                nullptr, nullptr);
  const std::wstring prefix = L"unload_" + std::to_wstring(::GetCurrentProcessId());
  const HWND window = start(page, server.wurl("/slow").c_str(), prefix.c_str(), 50);
  ASSERT_NE(window, nullptr);
  for (int i = 0; i < 250 && server.requests().empty(); ++i)
    ::Sleep(20);
  ASSERT_EQ(server.requests().size(), 1u);

  const ULONGLONG begin = ::GetTickCount64();
  end();
  EXPECT_FALSE(::IsWindow(window));
  ASSERT_TRUE(::FreeLibrary(dll));
  EXPECT_LT(::GetTickCount64() - begin, 1000u);
  EXPECT_NE(::GetModuleHandleW(name), nullptr);  // the worker's reference
  for (int i = 0; i < 500 && ::GetModuleHandleW(name) != nullptr; ++i)
    ::Sleep(20);
  EXPECT_EQ(::GetModuleHandleW(name), nullptr);
  const auto paths = server.requests();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/slow"), 1);
  ::DestroyWindow(page);
}

}  // namespace
