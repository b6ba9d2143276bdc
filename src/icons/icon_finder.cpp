#include "icons/icon_finder.h"

#include <objbase.h>
#include <process.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "icons/icon_cache.h"
#include "icons/portable/icon_file.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace icons {

// What the finder shares with its worker: the worker keeps it alive while it
// runs, so a finder destroyed on the worker's own thread (a module unloading
// when the worker lets it go) leaves nothing dangling.
struct CIconFinder::state_t {
  fetch_limits_t limits;
  support::critical_section lock;
  HWND notify_window = nullptr;  // under lock
  UINT notify_message = 0;       // under lock
  support::unique_handle request_event;
  support::unique_handle stop_event;
  support::unique_handle thread;
  // Insertion-ordered (unique identifier, page address); identifiers distinct.
  std::vector<std::pair<std::wstring, std::wstring>> pending;  // under lock
};

namespace {

using state_t = CIconFinder::state_t;

bool is_nt6_or_later() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
    return false;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6;
}

std::uint64_t file_time_value(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Takes requests one at a time until the table is empty or the finder stops;
// posts the completion when at least one download brought an icon.
void drain_queue(state_t& state) {
  // A stop that came while the request event was also set ends the queue
  // before another download begins; after each download the loop looks again.
  bool more = ::WaitForSingleObject(state.stop_event.get(), 0) != WAIT_OBJECT_0;
  bool any_success = false;
  while (more) {
    // A low-priority thread must not hold the lock the user-interface thread
    // waits for: background mode is left while the lock is held.
    const bool left_background =
        is_nt6_or_later() && ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_END);
    std::optional<std::pair<std::wstring, std::wstring>> entry;
    {
      support::scoped_lock<support::critical_section> guard(state.lock);
      if (!state.pending.empty()) {
        entry = std::move(state.pending.front());
        state.pending.erase(state.pending.begin());
      } else {
        more = false;
      }
    }
    if (left_background)
      ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
    if (entry) {
      try {
        if (DownloadSiteIcon(entry->second, entry->first, state.limits))
          any_success = true;
      } catch (...) {
        tracecore::trace_error("DownloadSiteIcon", static_cast<long>(E_UNEXPECTED));
      }
      more = ::WaitForSingleObject(state.stop_event.get(), 0) != WAIT_OBJECT_0;
    }
  }
  if (any_success) {
    HWND window = nullptr;
    UINT message = 0;
    {
      support::scoped_lock<support::critical_section> guard(state.lock);
      window = state.notify_window;
      message = state.notify_message;
    }
    if (window != nullptr)
      ::PostMessageW(window, message, 0, 0);
  }
}

void worker_body(state_t& state) {
  tracecore::trace_scope scope("CIconFinder::WorkerBody");
  try {
    bool background = false;
    if (is_nt6_or_later()) {
      background = ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN) != FALSE;
      if (!background)
        tracecore::trace_lasterror("SetThreadPriority(THREAD_MODE_BACKGROUND_BEGIN)");
    }
    const HANDLE events[2] = {state.request_event.get(), state.stop_event.get()};
    while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0)
      drain_queue(state);
    if (background)
      ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_END);
  } catch (...) {
    tracecore::trace_error("CIconFinder::WorkerBody", static_cast<long>(E_UNEXPECTED));
  }
}

struct worker_start_t {
  std::shared_ptr<state_t> state;
  HMODULE module;  // a reference of the worker's own, released as it exits
};

unsigned WINAPI worker_thread(void* argument) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<worker_start_t> start(static_cast<worker_start_t*>(argument));
    module = start->module;
    if (SUCCEEDED(::CoInitialize(nullptr))) {
      worker_body(*start->state);
      ::CoUninitialize();
    }
  }
  // Leaves the module's code before its last reference may go.
  ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

// Starts the worker when it is not running; failures leave it stopped (the
// next request tries again).
void start_worker(const std::shared_ptr<state_t>& state) {
  if (state->thread && ::WaitForSingleObject(state->thread.get(), 0) == WAIT_TIMEOUT)
    return;
  state->thread.reset();
  if (!state->request_event)
    state->request_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!state->stop_event)
    state->stop_event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->request_event || !state->stop_event) {
    tracecore::trace_lasterror("CreateEventW");
    return;
  }
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&worker_thread), &module)) {
    tracecore::trace_lasterror("GetModuleHandleExW");
    return;
  }
  auto start = std::make_unique<worker_start_t>(worker_start_t{state, module});
  const std::uintptr_t thread =
      ::_beginthreadex(nullptr, 0, &worker_thread, start.get(), 0, nullptr);
  if (thread == 0) {
    tracecore::trace_lasterror("_beginthreadex");
    ::FreeLibrary(module);
    return;
  }
  start.release();
  state->thread.reset(reinterpret_cast<HANDLE>(thread));
}

// The icon of a cache file opened without sharing: its bytes pass the
// cached-icon checks before the system builds the icon. Sets expired from the
// file's last-write time.
HICON load_cached_icon(HANDLE file, bool& expired) {
  FILETIME written{};
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  expired = !::GetFileTime(file, nullptr, nullptr, &written) ||
            icon_expired(file_time_value(now), file_time_value(written));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
      size.QuadPart > static_cast<LONGLONG>(kMaxIconFileBytes))
    return nullptr;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
      got != bytes.size())
    return nullptr;
  const auto image = small_icon_image(bytes.data(), bytes.size());
  if (!image)
    return nullptr;
  return ::CreateIconFromResourceEx(bytes.data() + image->offset, static_cast<DWORD>(image->size),
                                    TRUE, 0x00030000, 16, 16, LR_DEFAULTCOLOR);
}

// Tells the worker of this state to stop and lets it go without waiting: it
// ends after the download in progress (which has its own time bounds), drops
// the state it shares and leaves its module through its own reference, so
// neither the user-interface thread nor a module unloading under the loader
// lock ever waits for the network. Nothing it finishes after this is
// reported. True when a worker was running.
bool detach_worker(state_t& state) {
  {
    support::scoped_lock<support::critical_section> guard(state.lock);
    state.pending.clear();
    state.notify_window = nullptr;
  }
  if (state.stop_event)
    ::SetEvent(state.stop_event.get());
  return static_cast<bool>(state.thread);
}

}  // namespace

CIconFinder::CIconFinder(const fetch_limits_t& limits) : m_state(std::make_shared<state_t>()) {
  m_state->limits = limits;
}

CIconFinder::~CIconFinder() {
  detach_worker(*m_state);
}

void CIconFinder::SetNotifyTarget(HWND window, UINT message) {
  support::scoped_lock<support::critical_section> guard(m_state->lock);
  m_state->notify_window = window;
  m_state->notify_message = message;
}

HICON CIconFinder::GetUrlIcon(const wchar_t* unique_id, const wchar_t* url) {
  tracecore::trace_scope scope("CIconFinder::GetUrlIcon");
  try {
    tracecore::trace_format("szUniqueId  = %ls", unique_id ? unique_id : L"");
    tracecore::trace_format("szUrl       = %ls", url ? url : L"");
    if (unique_id == nullptr || url == nullptr || !is_plain_file_name(unique_id)) {
      tracecore::trace_text("The unique identifier cannot name a cache file");
      return nullptr;
    }
    HICON icon = nullptr;
    bool refresh = true;
    support::unique_file file(::CreateFileW(IconCachePath(unique_id).c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
    if (file) {
      bool expired = false;
      icon = load_cached_icon(file.get(), expired);
      if (icon == nullptr)
        tracecore::trace_text("Invalid icon file!");
      refresh = icon == nullptr || expired;
    }
    tracecore::trace_format("hIconResult = 0x%08X",
                            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(icon)));
    if (refresh)
      FindIcon(unique_id, url);
    return icon;
  } catch (...) {
    tracecore::trace_error("CIconFinder::GetUrlIcon", static_cast<long>(E_UNEXPECTED));
    return nullptr;
  }
}

void CIconFinder::FindIcon(const std::wstring& unique_id, const std::wstring& url) {
  tracecore::trace_scope scope("CIconFinder::FindIcon");
  if (!is_plain_file_name(unique_id))
    return;
  start_worker(m_state);
  if (!m_state->request_event || !m_state->thread)
    return;
  {
    support::scoped_lock<support::critical_section> guard(m_state->lock);
    bool pending = false;
    for (const auto& entry : m_state->pending)
      pending = pending || entry.first == unique_id;
    if (!pending) {
      m_state->pending.emplace_back(unique_id, url);
      ::SetEvent(m_state->request_event.get());
    }
  }
  tracecore::trace_format("The icon request has been queued successfully, szUniqueId = %ls",
                          unique_id.c_str());
}

void CIconFinder::Stop() {
  auto fresh = std::make_shared<state_t>();
  fresh->limits = m_state->limits;
  {
    support::scoped_lock<support::critical_section> guard(m_state->lock);
    fresh->notify_window = m_state->notify_window;
    fresh->notify_message = m_state->notify_message;
  }
  // The worker keeps the state it was started with; the next one gets its own.
  if (detach_worker(*m_state))
    m_state = std::move(fresh);
}

}  // namespace icons
