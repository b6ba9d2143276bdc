#include "tracing/tracer.h"

#include <algorithm>
#include <cwchar>

#include "tracing/portable/format_object.h"
#include "tracing/portable/trace_texts.h"
#include "tracing/trace_mutex.h"

namespace tracecore {
namespace {

constexpr DWORD kRefreshIntervalMs = 30000;

std::wstring wide_from_utf8(const char* text) {
  if (text == nullptr || *text == '\0')
    return std::wstring();
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 1)
    return std::wstring();
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), length);
  out.resize(static_cast<std::size_t>(length - 1));
  return out;
}

std::wstring wide_from_ansi(const char* text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1)
    return std::wstring();
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), length);
  out.resize(static_cast<std::size_t>(length - 1));
  return out;
}

bool same_date(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

bool same_time(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond &&
         a.wMilliseconds == b.wMilliseconds;
}

clock_time_t clock_time(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

tracer_t::tracer_t(const tracer_environment_t& env)
    : m_env(env), m_constructingThread(::GetCurrentThreadId()) {
  if (m_env.module == nullptr)
    m_env.module = this_module();
  if (m_env.flags == nullptr)
    m_env.flags = &process_flags();
  m_mainFrame = {"main", now(), false};
  m_mutex = create_trace_mutex();
}

tracer_t::~tracer_t() {
  support::scoped_lock lock(m_storageLock);
  m_storage.reset();
}

SYSTEMTIME tracer_t::now() const {
  SYSTEMTIME t{};
  m_env.local_time(&t);
  return t;
}

void tracer_t::refresh() noexcept {
  try {
    const DWORD tick = m_env.tick_count();
    if (tick <= static_cast<DWORD>(m_nextCheck))
      return;
    const unsigned kind = outputkind();
    if (kind != m_kind) {
      support::scoped_lock lock(m_storageLock);
      m_kind = kind;
      replace_storage(kind);
      ::InterlockedExchange(&m_nextCheck, 0);
    }
    ::InterlockedExchange(&m_nextCheck, static_cast<LONG>(tick + kRefreshIntervalMs));
    if (!switchon() && dropexpiredtrigger()) {
      std::wstring path;
      tracefilepath(path, m_kind == kind_process_file);
      cleanup_old_trace_files(m_env, path, true);
    }
  } catch (...) {
    // Tracing never fails its caller.
  }
}

void tracer_t::replace_storage(unsigned kind) {
  if (kind == m_storageKind && m_storage)
    return;
  m_storage.reset();
  m_storageKind = kind;
  try {
    switch (kind) {
      case kind_shared_file:
      case kind_process_file: {
        std::wstring path;
        tracefilepath(path, kind == kind_process_file);
        m_storage = std::make_unique<outputstoragefile_t>(m_env, path, kind == kind_process_file);
        break;
      }
      case kind_console:
        m_storage = std::make_unique<outputstorageconsole_t>();
        break;
      case kind_debugger:
        m_storage = std::make_unique<outputstorageide_t>();
        break;
      default:
        m_storage = std::make_unique<outputstoragenowhere_t>();
        break;
    }
  } catch (...) {
    m_storage.reset();  // records are dropped until the configuration changes
  }
}

void tracer_t::enter(const char* function) noexcept {
  try {
    const DWORD thread = ::GetCurrentThreadId();
    const frame_t frame{function ? function : "", now(), false};
    {
      support::scoped_lock lock(m_stacksLock);
      m_stacks[thread].push_back(frame);
    }
  } catch (...) {
    // Out of memory: the scope goes unrecorded.
  }
  refresh();
}

void tracer_t::leave() noexcept {
  if (recording())
    write_record('<', std::wstring());
  const DWORD thread = ::GetCurrentThreadId();
  support::scoped_lock lock(m_stacksLock);
  const auto it = m_stacks.find(thread);
  if (it == m_stacks.end() || it->second.empty())
    return;
  it->second.pop_back();
  if (it->second.empty() && thread != m_constructingThread)
    m_stacks.erase(it);
}

void tracer_t::text(const char* utf8) noexcept {
  if (!recording())
    return;
  try {
    write_record('U', wide_from_utf8(utf8));
  } catch (...) {
  }
}

void tracer_t::text(const wchar_t* message) noexcept {
  if (!recording())
    return;
  try {
    write_record('U', message ? std::wstring(message) : std::wstring());
  } catch (...) {
  }
}

void tracer_t::text(const format_t& format) noexcept {
  if (!recording())
    return;
  try {
    write_record('U', format.str());
  } catch (...) {
  }
}

void tracer_t::vformat(const char* format, va_list args) noexcept {
  if (!recording() || format == nullptr)
    return;
  try {
    const std::wstring wide_format = narrow_string_directives(wide_from_ansi(format));
    // Format into a buffer large enough for the whole message, then cut it:
    // a too-small buffer leaves its contents unspecified on some runtimes.
    std::vector<wchar_t> buffer(kMaxMessageChars + 1);
    for (;;) {
      va_list copy;
      va_copy(copy, args);
      const int written = std::vswprintf(buffer.data(), buffer.size(), wide_format.c_str(), copy);
      va_end(copy);
      if (written >= 0 && static_cast<std::size_t>(written) < buffer.size())
        break;
      if (buffer.size() >= 65536) {
        buffer.assign(1, L'\0');  // a format the runtime rejects: record nothing of it
        break;
      }
      buffer.assign(buffer.size() * 4, L'\0');
    }
    std::wstring message(buffer.data());
    if (message.size() > kMaxMessageChars)
      message.resize(kMaxMessageChars);
    write_record('U', message);
  } catch (...) {
  }
}

void tracer_t::error(const char* text, long code) noexcept {
  if (!recording())
    return;
  try {
    std::wstring message = std::to_wstring(code) + L" ";
    message += wide_from_ansi(text ? text : "");
    write_record('E', message);
  } catch (...) {
  }
}

void tracer_t::error(const wchar_t* text, long code) noexcept {
  if (!recording())
    return;
  try {
    std::wstring message = std::to_wstring(code) + L" ";
    if (text)
      message += text;
    write_record('E', message);
  } catch (...) {
  }
}

void tracer_t::lasterror(const char* text) noexcept {
  const DWORD last = ::GetLastError();
  error(text, hresult_from_last_error(last));
  ::SetLastError(last);
}

void tracer_t::lasterror(const wchar_t* text) noexcept {
  const DWORD last = ::GetLastError();
  error(text, hresult_from_last_error(last));
  ::SetLastError(last);
}

void tracer_t::write_record(char type, const std::wstring& text) noexcept {
  const DWORD last_error = ::GetLastError();
  if (m_mutex)
    ::WaitForSingleObject(m_mutex.get(), INFINITE);
  try {
    const DWORD thread = ::GetCurrentThreadId();
    std::vector<frame_t> pending;
    const char* function = "main";
    bool write = true;
    {
      support::scoped_lock lock(m_stacksLock);
      const auto it = m_stacks.find(thread);
      const bool has_frames = it != m_stacks.end() && !it->second.empty();
      if (type == '<') {
        write = has_frames ? it->second.back().printed : m_mainFrame.printed;
      } else if (has_frames) {
        if (!it->second.back().printed) {
          for (frame_t& frame : it->second) {
            if (!frame.printed) {
              frame.printed = true;
              pending.push_back(frame);
            }
          }
        }
      } else if (!m_mainFrame.printed) {
        m_mainFrame.printed = true;
        pending.push_back(m_mainFrame);
      }
      if (has_frames)
        function = it->second.back().name;
    }
    if (write) {
      for (const frame_t& frame : pending)
        emit('>', wide_from_utf8(frame.name), frame.entered, frame.name);
      emit(type, text, now(), function);
    }
  } catch (...) {
  }
  if (m_mutex)
    ::ReleaseMutex(m_mutex.get());
  ::SetLastError(last_error);
}

void tracer_t::emit(char type,
                    const std::wstring& text,
                    const SYSTEMTIME& stamp,
                    const char* function) {
  support::scoped_lock lock(m_storageLock);
  if (!m_storage)
    return;
  if (!same_date(stamp, m_lastStamp)) {
    m_storage->write('t', date_record_text(clock_time(stamp)), function);
    m_storage->write('T', time_record_text(clock_time(stamp)), function);
    m_lastStamp = stamp;
  } else if (!same_time(stamp, m_lastStamp)) {
    m_storage->write('T', time_record_text(clock_time(stamp)), function);
    m_lastStamp = stamp;
  }
  m_storage->write(type, text, function);
}

}  // namespace tracecore
