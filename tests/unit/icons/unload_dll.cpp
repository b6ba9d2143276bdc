// A DLL holding the notification window and its icon worker, as the plug-in
// does, for the test that frees it in the middle of a download.
#include <windows.h>

#include <string>

#include "agent/notification_window.h"

// Makes the notification window for `page` and asks it for the icons of
// `count` identifiers (prefix_0, prefix_1, ...) of the page at url, which
// queues their downloads; the window's handle.
extern "C" HWND WINAPI start_icon_downloads(HWND page,
                                            const wchar_t* url,
                                            const wchar_t* prefix,
                                            int count) {
  const HWND hwnd = agent::CNotificationWindow::Instance().AddWindow(page, true);
  for (int i = 0; i < count; ++i) {
    const std::wstring id = prefix + (L"_" + std::to_wstring(i));
    agent::icon_request_t request;
    request.unique_id = id.c_str();
    request.url = url;
    ::SendMessageW(hwnd, agent::kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request));
  }
  return hwnd;
}

// The main page goes: so does the window.
extern "C" void WINAPI end_main_page() {
  agent::CNotificationWindow::Instance().DestroyNotificationWindow();
}
