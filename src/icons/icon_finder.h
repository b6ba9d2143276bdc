// CIconFinder: small icons of the logons' web sites for the dashboard's lists.
// A lookup answers at once from the per-user icon cache; a missing, unreadable
// or stale (31 days) icon queues a download on the finder's worker thread,
// which posts the notify message once per drained queue that brought at least
// one new icon:
//
//   finder.SetNotifyTarget(hwnd, WM_USER + 302);
//   HICON icon = finder.GetUrlIcon(L"id42", L"https://mail.example/");  // may be NULL
//   ...  // on WM_USER + 302: ask again
//
// The worker starts with the first queued request and stops when the finder
// is stopped or destroyed, after the download in progress (which has its own
// time bounds); nobody waits for it. It holds a reference to the module that
// contains it, so the module stays mapped until the worker has left it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "icons/site_icon.h"

namespace icons {

class CIconFinder {
 public:
  explicit CIconFinder(const fetch_limits_t& limits = {});
  ~CIconFinder();
  CIconFinder(const CIconFinder&) = delete;
  CIconFinder& operator=(const CIconFinder&) = delete;

  // Where completions go; set under the finder's lock.
  void SetNotifyTarget(HWND window, UINT message);

  // The cached 16 x 16 icon (owned by the caller) or NULL; queues a download
  // when the icon is missing, invalid or stale. A unique identifier that is no
  // plain file name gives NULL and queues nothing.
  HICON GetUrlIcon(const wchar_t* unique_id, const wchar_t* url);

  // Queues a download (merged with a pending one of the same identifier),
  // starting the worker when it is not running.
  void FindIcon(const std::wstring& unique_id, const std::wstring& url);

  // Signals the worker to stop without waiting for it (it ends after the
  // download in progress and reports nothing more); the pending requests are
  // dropped. The finder can be used again afterwards.
  void Stop();

  struct state_t;

 private:
  std::shared_ptr<state_t> m_state;
};

}  // namespace icons
