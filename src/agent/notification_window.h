// CNotificationWindow: the one hidden top-level window of the process through
// which the suite's other processes reach the component (registered messages,
// WM_USER + 303) and the component's pages reach its shared objects (the
// dashboard storage object, the icon finder, training, password strength).
// It tells the registered pages of changes with WM_USER + 108 and a code.
//
//   auto& window = agent::CNotificationWindow::Instance();
//   window.AddWindow(main_page, true);        // creates the window, registers the page
//   window.SetActiveHostPage(main_page);
//   HICON icon = reinterpret_cast<HICON>(::SendMessageW(window.m_hWnd, agent::kMsgGetIcon, 0,
//                                                        reinterpret_cast<LPARAM>(&request)));
//   window.DestroyNotificationWindow();       // with the main page
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "icons/icon_finder.h"
#include "support/com.h"
#include "support/window_base.h"

namespace agent {

// Private messages (WM_USER = 0x400).
inline constexpr UINT kMsgPageNotify = WM_USER + 108;        // to pages; wParam: a code below
inline constexpr UINT kMsgOpenWebLink = WM_USER + 300;       // wParam: the link kind
inline constexpr UINT kMsgSecretRestored = WM_USER + 301;    // drop the storage object
inline constexpr UINT kMsgIconsReady = WM_USER + 302;        // the icon finder has results
inline constexpr UINT kMsgLocalDataChanged = WM_USER + 303;  // the local agent data changed
inline constexpr UINT kMsgGetStorage = WM_USER + 2002;       // lParam: storage_request_t*
inline constexpr UINT kMsgStartTraining = WM_USER + 2005;
inline constexpr UINT kMsgGetIcon = WM_USER + 2006;  // lParam: icon_request_t*
inline constexpr UINT kMsgRecalculateStrength = WM_USER + 2008;

// Codes of kMsgPageNotify.
inline constexpr WPARAM kNotifyStorageUpdated = 2001;  // lParam: page_change_t*
inline constexpr WPARAM kNotifyIconsUpdated = 2002;
inline constexpr WPARAM kNotifySettingsChanged = 2005;

inline constexpr wchar_t kNotificationWindowClass[] = L"CV_LocalAgentDS";
inline constexpr wchar_t kNotificationWindowName[] = L"NotificationWindow";

// A page's request for the dashboard storage interface; cbSize holds the
// record's size (8 bytes in the 32-bit build).
struct storage_request_t {
  DWORD cbSize = sizeof(storage_request_t);
  IUnknown* storage = nullptr;  // out: the storage interface (one reference), or null
};

// A page's request for a site icon (12 bytes in the 32-bit build).
struct icon_request_t {
  DWORD cbSize = sizeof(icon_request_t);
  const wchar_t* unique_id = nullptr;
  const wchar_t* url = nullptr;
};

// What code 2001 carries: which logon changed; both null here (look at all).
struct page_change_t {
  DWORD cbSize = sizeof(page_change_t);
  const wchar_t* path = nullptr;
  const wchar_t* profile = nullptr;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(storage_request_t) == 8, "the 32-bit request has a fixed layout");
static_assert(sizeof(icon_request_t) == 12, "the 32-bit request has a fixed layout");
static_assert(sizeof(page_change_t) == 12, "the 32-bit record has a fixed layout");
#endif

// The registered messages, registered on first use and kept for the process.
struct registered_messages_t {
  UINT action_request_to_hook;
  UINT flm_restore;
  UINT pstorage_updated;
  UINT pstorage_call_updated;
  UINT settings_changed;
  UINT agent_refresh_cache;
  UINT agent_manifest;
};
const registered_messages_t& RegisteredMessages();

class CNotificationWindow : public support::CWindowImpl<CNotificationWindow> {
 public:
  static const wchar_t* WindowClassName() { return kNotificationWindowClass; }

  // The process's window object.
  static CNotificationWindow& Instance();

  explicit CNotificationWindow(const icons::fetch_limits_t& limits = {});
  ~CNotificationWindow() override;

  BEGIN_MSG_MAP(CNotificationWindow)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(kMsgPageNotify, OnPageNotify)
    MESSAGE_HANDLER(RegisteredMessages().settings_changed, OnSettingsChanged)
    MESSAGE_HANDLER(kMsgGetStorage, OnGetStorage)
    MESSAGE_HANDLER(kMsgStartTraining, OnStartTraining)
    MESSAGE_HANDLER(kMsgGetIcon, OnGetIcon)
    MESSAGE_HANDLER(kMsgRecalculateStrength, OnRecalculateStrength)
    MESSAGE_HANDLER(RegisteredMessages().pstorage_updated, OnStorageUpdatedMessage)
    MESSAGE_HANDLER(RegisteredMessages().flm_restore, OnFlmRestore)
    MESSAGE_HANDLER(RegisteredMessages().action_request_to_hook, OnCVAgentMessage)
    MESSAGE_HANDLER(kMsgOpenWebLink, OnOpenWebLink)
    MESSAGE_HANDLER(kMsgSecretRestored, OnSecretRestored)
    MESSAGE_HANDLER(kMsgLocalDataChanged, OnLocalDataChanged)
    MESSAGE_HANDLER(kMsgIconsReady, OnIconsReady)
  END_MSG_MAP()

  // Registers a page window. With create_window (the main page) the
  // notification window is made first when it does not exist. Returns the
  // notification window (null when it could not be made).
  HWND AddWindow(HWND page, bool create_window);
  void SetActiveHostPage(HWND page);
  // The main page is going: the window goes too (the icon worker stops).
  void DestroyNotificationWindow();

  // The storage change: refreshes, tells the pages, brings the console back
  // when a training was started from it.
  HRESULT OnStorageUpdated();

 private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnPageNotify(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSettingsChanged(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnGetStorage(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnStartTraining(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnGetIcon(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnRecalculateStrength(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnStorageUpdatedMessage(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnFlmRestore(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnCVAgentMessage(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnOpenWebLink(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSecretRestored(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnLocalDataChanged(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnIconsReady(UINT, WPARAM, LPARAM, BOOL&);

  // Sends to the registered pages in order; live_only skips handles that are
  // no windows any more; except is left out.
  void SendToPages(UINT message, WPARAM wparam, LPARAM lparam, bool live_only, HWND except);
  void RecalculateStrength();
  void BringConsoleToFront();

  support::com_ptr<IUnknown> m_pStorage;
  icons::CIconFinder m_IconFinder;
  HWND m_hWndActiveHostPage = nullptr;
  std::vector<HWND> m_pages;
  bool m_fBringToFrontOnChange = false;  // a training was started from the console
  bool m_fLazySecretRestored = false;
};

}  // namespace agent
