#include "agent/notification_window.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "agent/notification_services.h"
#include "agent/portable/channel_layout.h"
#include "agent/training_launch.h"
#include "support/hresult.h"
#include "templates/template_folders.h"
#include "tracing/trace.h"

namespace agent {
namespace {

void trace_not_available(const char* what) {
  tracecore::trace_format("%s: not available", what);
}

// The thread-pool work item that opens a web link; owns the BSTR.
DWORD WINAPI open_web_link(void* context) {
  support::unique_bstr url(static_cast<BSTR>(context));
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ::ShellExecuteW(nullptr, L"open", url.get(), nullptr, nullptr, SW_SHOWNORMAL);
  url.reset();
  if (SUCCEEDED(hr))
    ::CoUninitialize();
  return 0;
}

}  // namespace

const registered_messages_t& RegisteredMessages() {
  static const registered_messages_t messages{::RegisterWindowMessageW(kMsgActionRequestToHook),
                                              ::RegisterWindowMessageW(kMsgFlmRestore),
                                              ::RegisterWindowMessageW(kMsgPStorageUpdated),
                                              ::RegisterWindowMessageW(kMsgPStorageCallUpdated),
                                              ::RegisterWindowMessageW(kMsgSettingsChanged),
                                              ::RegisterWindowMessageW(kMsgAgentRefreshCache),
                                              ::RegisterWindowMessageW(kMsgAgentManifest)};
  return messages;
}

CNotificationWindow& CNotificationWindow::Instance() {
  static CNotificationWindow window;
  return window;
}

CNotificationWindow::CNotificationWindow(const icons::fetch_limits_t& limits)
    : m_IconFinder(limits) {}

CNotificationWindow::~CNotificationWindow() {
  m_IconFinder.Stop();
}

HWND CNotificationWindow::AddWindow(HWND page, bool create_window) {
  tracecore::trace_scope scope("CNotificationWindow::AddWindow");
  if (create_window && !IsWindow()) {
    if (Create(nullptr, kNotificationWindowName, WS_POPUP, WS_EX_TOOLWINDOW) == nullptr)
      tracecore::trace_lasterror("CreateWindowExW");
  }
  m_pages.push_back(page);
  tracecore::trace_format("AddWindow = 0x%08X", support::handle_value(m_hWnd));
  return m_hWnd;
}

void CNotificationWindow::SetActiveHostPage(HWND page) {
  tracecore::trace_scope scope("CNotificationWindow::SetActiveHostPage");
  m_hWndActiveHostPage = page;
  tracecore::trace_format("m_hWndActiveHostPage = 0x%X, m_fLazySecretRestored = %d",
                          support::handle_value(page), m_fLazySecretRestored ? 1 : 0);
  if (m_fLazySecretRestored) {
    m_fLazySecretRestored = false;
    ::SendMessageW(m_hWnd, kMsgSecretRestored, 0, 0);
  }
}

void CNotificationWindow::DestroyNotificationWindow() {
  DestroyWindow();
}

void CNotificationWindow::SendToPages(UINT message,
                                      WPARAM wparam,
                                      LPARAM lparam,
                                      bool live_only,
                                      HWND except) {
  // A copy: a page may register another window while it handles the message.
  const std::vector<HWND> pages = m_pages;
  for (HWND page : pages) {
    if (page == except && except != nullptr)
      continue;
    if (live_only && !::IsWindow(page))
      continue;
    ::SendMessageW(page, message, wparam, lparam);
  }
}

LRESULT CNotificationWindow::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
  m_IconFinder.SetNotifyTarget(m_hWnd, kMsgIconsReady);
  return 0;
}

LRESULT CNotificationWindow::OnDestroy(UINT, WPARAM, LPARAM, BOOL&) {
  // The worker ends after its current download; the storage object goes with
  // the window that owns it.
  m_IconFinder.Stop();
  m_pStorage.reset();
  return 0;
}

LRESULT CNotificationWindow::OnPageNotify(UINT, WPARAM wparam, LPARAM lparam, BOOL&) {
  SendToPages(kMsgPageNotify, wparam, lparam, false, nullptr);
  return 0;
}

LRESULT CNotificationWindow::OnSettingsChanged(UINT, WPARAM, LPARAM, BOOL&) {
  SendToPages(kMsgPageNotify, kNotifySettingsChanged, 0, false, nullptr);
  return 0;
}

LRESULT CNotificationWindow::OnGetStorage(UINT, WPARAM, LPARAM lparam, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnGetStorage");
  auto* request = reinterpret_cast<storage_request_t*>(lparam);
  if (request == nullptr || request->cbSize != sizeof(storage_request_t))
    return 0;
  const notification_services_t& services = NotificationServices();
  if (!m_pStorage) {
    if (services.open_storage == nullptr) {
      trace_not_available("OpenDashBoardStorage");
    } else {
      const HRESULT hr = services.open_storage(m_pStorage.put());
      if (FAILED(hr))
        tracecore::trace_error("OpenDashBoardStorage", hr);
    }
  }
  request->storage = nullptr;
  if (m_pStorage) {
    const IID& iid = services.storage_interface ? *services.storage_interface : IID_IUnknown;
    const HRESULT hr = m_pStorage->QueryInterface(iid, reinterpret_cast<void**>(&request->storage));
    if (FAILED(hr)) {
      tracecore::trace_error("QueryInterface", hr);
      request->storage = nullptr;
    }
  }
  return 0;
}

LRESULT CNotificationWindow::OnStartTraining(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnStartTraining");
  try {
    start_training(templates::component_folder(), m_hWnd);
    // The monitor takes the user away from the console; the storage change it
    // makes (or its restore message) brings the console back.
    m_fBringToFrontOnChange = true;
  } catch (...) {
    support::result_from_caught_exception();
  }
  return 0;
}

LRESULT CNotificationWindow::OnGetIcon(UINT, WPARAM, LPARAM lparam, BOOL&) {
  const auto* request = reinterpret_cast<const icon_request_t*>(lparam);
  if (request == nullptr || request->cbSize != sizeof(icon_request_t))
    return 0;
  return reinterpret_cast<LRESULT>(m_IconFinder.GetUrlIcon(request->unique_id, request->url));
}

void CNotificationWindow::RecalculateStrength() {
  HWND owner = m_hWndActiveHostPage != nullptr ? m_hWndActiveHostPage
               : m_pages.empty()               ? nullptr
                                               : m_pages.front();
  if (owner == nullptr)
    return;
  const notification_services_t& services = NotificationServices();
  if (services.recalculate_strength == nullptr) {
    trace_not_available("RecalculatePasswordStrength");
    return;
  }
  const HRESULT hr = services.recalculate_strength(owner, m_pStorage.get());
  if (FAILED(hr))
    tracecore::trace_error("RecalculatePasswordStrength", hr);
}

LRESULT CNotificationWindow::OnRecalculateStrength(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnRecalculateStrength");
  RecalculateStrength();
  return 0;
}

HRESULT CNotificationWindow::OnStorageUpdated() {
  tracecore::trace_scope scope("CNotificationWindow::OnStorageUpdated");
  const notification_services_t& services = NotificationServices();
  HRESULT hr = E_FAIL;
  if (m_pStorage) {
    if (services.refresh_profile_from_global == nullptr) {
      trace_not_available("RefreshProfileFromGlobal");
    } else {
      hr = services.refresh_profile_from_global(m_hWndActiveHostPage, m_pStorage.get());
      if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        if (services.refresh_manifest_list == nullptr)
          trace_not_available("RefreshManifestList");
        else
          services.refresh_manifest_list(m_hWnd);
      }
    }
  }
  if (FAILED(hr))
    tracecore::trace_error("Refresh", hr);
  page_change_t change;
  SendToPages(kMsgPageNotify, kNotifyStorageUpdated, reinterpret_cast<LPARAM>(&change), false,
              m_hWndActiveHostPage);
  if (m_fBringToFrontOnChange) {
    m_fBringToFrontOnChange = false;
    BringConsoleToFront();
  }
  return hr;
}

LRESULT CNotificationWindow::OnStorageUpdatedMessage(UINT, WPARAM, LPARAM, BOOL&) {
  OnStorageUpdated();
  return 0;
}

LRESULT CNotificationWindow::OnFlmRestore(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnFlmRestore");
  if (m_fBringToFrontOnChange) {
    m_fBringToFrontOnChange = false;
    BringConsoleToFront();
  }
  return 0;
}

void CNotificationWindow::BringConsoleToFront() {
  tracecore::trace_scope scope("CNotificationWindow::BringConsoleToFront");
  HWND page = m_hWndActiveHostPage;
  if (page == nullptr && !m_pages.empty())
    page = m_pages.front();
  HWND root = page ? ::GetAncestor(page, GA_ROOT) : nullptr;
  if (root == nullptr) {
    tracecore::trace_text("No console window to bring to the front");
    return;
  }
  HWND popup = ::GetLastActivePopup(root);
  if (::IsIconic(popup))
    ::ShowWindow(popup, SW_RESTORE);
  const DWORD own_thread = ::GetCurrentThreadId();
  HWND foreground = ::GetForegroundWindow();
  const DWORD foreground_thread =
      foreground ? ::GetWindowThreadProcessId(foreground, nullptr) : own_thread;
  const bool attached = foreground_thread != own_thread &&
                        ::AttachThreadInput(own_thread, foreground_thread, TRUE) != FALSE;
  ::SetForegroundWindow(popup);
  ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  if (attached)
    ::AttachThreadInput(own_thread, foreground_thread, FALSE);
}

LRESULT CNotificationWindow::OnCVAgentMessage(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnCVAgentMessage");
  return 0;
}

LRESULT CNotificationWindow::OnOpenWebLink(UINT, WPARAM wparam, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnOpenWebLink");
  const notification_services_t& services = NotificationServices();
  if (services.build_web_link == nullptr) {
    trace_not_available("BuildWebLink");
    return 0;
  }
  const std::wstring link = services.build_web_link(static_cast<std::uint32_t>(wparam));
  if (link.empty())
    return 0;
  support::unique_bstr url = support::unique_bstr::from(link);
  if (::QueueUserWorkItem(&open_web_link, url.get(), WT_EXECUTELONGFUNCTION))
    url.release();  // the work item frees it
  else
    tracecore::trace_lasterror("QueueUserWorkItem");
  return 0;
}

LRESULT CNotificationWindow::OnSecretRestored(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CNotificationWindow::OnSecretRestored");
  m_pStorage.reset();
  SendToPages(kMsgSecretRestored, 0, 0, true, nullptr);
  if (m_pStorage) {
    const notification_services_t& services = NotificationServices();
    if (services.refresh_manifest_list == nullptr)
      trace_not_available("RefreshManifestList");
    else
      services.refresh_manifest_list(m_hWnd);
  }
  RecalculateStrength();
  return 0;
}

LRESULT CNotificationWindow::OnLocalDataChanged(UINT, WPARAM, LPARAM, BOOL&) {
  m_fLazySecretRestored = true;
  return 0;
}

LRESULT CNotificationWindow::OnIconsReady(UINT, WPARAM, LPARAM, BOOL&) {
  SendToPages(kMsgPageNotify, kNotifyIconsUpdated, 0, true, nullptr);
  return 0;
}

}  // namespace agent
