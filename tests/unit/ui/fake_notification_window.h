// The tabs' tests' stand-in for the plug-in's notification window (and for a
// test's root window): it hands out the dashboard storage object while one is
// offered, answers icon requests with a copy of the application icon while
// icons are offered, and records every message of the plug-in's range it is
// sent, with the icon request's id, the change record's size and path or the
// host request's class id as text.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/notification_window.h"
#include "store/dashboard_storage.h"
#include "ui/pages/manage_tab.h"

namespace uitest {

struct seen_t {
  HWND to;
  UINT message;
  WPARAM wparam;
  std::wstring text;
};

struct fake_notification_t {
  IDashBoardStorage* storage = nullptr;  // handed out while not null
  bool icons = false;
  std::vector<seen_t> seen;

  int count(UINT message) const {
    return static_cast<int>(std::count_if(seen.begin(), seen.end(),
                                          [&](const seen_t& s) { return s.message == message; }));
  }
  const seen_t* last(UINT message) const {
    for (auto it = seen.rbegin(); it != seen.rend(); ++it)
      if (it->message == message)
        return &*it;
    return nullptr;
  }
  std::vector<std::wstring> texts(UINT message) const {
    std::vector<std::wstring> found;
    for (const seen_t& s : seen)
      if (s.message == message)
        found.push_back(s.text);
    return found;
  }
};

inline fake_notification_t g_notification;

inline LRESULT CALLBACK fake_notification_procedure(HWND window,
                                                    UINT message,
                                                    WPARAM wparam,
                                                    LPARAM lparam) {
  if (message == agent::kMsgGetStorage) {
    auto* request = reinterpret_cast<agent::storage_request_t*>(lparam);
    if (g_notification.storage != nullptr && request->cbSize == sizeof(*request)) {
      g_notification.storage->AddRef();
      request->storage = g_notification.storage;
    }
    return 0;
  }
  if (message < WM_USER || message > WM_USER + 3000)
    return ::DefWindowProcW(window, message, wparam, lparam);
  std::wstring text;
  LRESULT result = 0;
  if (message == agent::kMsgGetIcon) {
    const auto* request = reinterpret_cast<const agent::icon_request_t*>(lparam);
    if (request->cbSize != sizeof(*request))
      return 0;
    text = request->unique_id;
    if (g_notification.icons)
      result = reinterpret_cast<LRESULT>(::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION)));
  } else if (message == dashboard::kMsgPageNotify) {
    const auto* change = reinterpret_cast<const dashboard::change_record_t*>(lparam);
    text = std::to_wstring(change->cbSize) + L" " + change->path;
  } else if (message == ui::kMsgHostRequest) {
    text = reinterpret_cast<const wchar_t*>(lparam);
  }
  g_notification.seen.push_back({window, message, wparam, text});
  return result;
}

// A window of the fake's class; a fresh test resets `g_notification` first.
inline HWND fake_notification_window(DWORD style) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = fake_notification_procedure;
  wc.lpszClassName = L"CvTestNotificationWindow";
  ::RegisterClassW(&wc);
  return ::CreateWindowExW(0, wc.lpszClassName, L"", style, 0, 0, 700, 500, nullptr, nullptr,
                           nullptr, nullptr);
}

}  // namespace uitest
