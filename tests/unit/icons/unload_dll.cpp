// A DLL holding the notification window and its icon worker, as the plug-in
// does, for the test that frees it in the middle of a download.
#include <windows.h>

#include "agent/notification_window.h"

// Makes the notification window for `page` and asks it for the icon of
// unique_id at url (queueing its download); the window's handle.
extern "C" HWND WINAPI start_icon_download(HWND page,
                                           const wchar_t* url,
                                           const wchar_t* unique_id) {
  auto& window = agent::CNotificationWindow::Instance();
  const HWND hwnd = window.AddWindow(page, true);
  agent::icon_request_t request;
  request.unique_id = unique_id;
  request.url = url;
  if (HICON icon = reinterpret_cast<HICON>(
          ::SendMessageW(hwnd, agent::kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request))))
    ::DestroyIcon(icon);
  return hwnd;
}

// The main page goes: so does the window.
extern "C" void WINAPI end_main_page() {
  agent::CNotificationWindow::Instance().DestroyNotificationWindow();
}
