// Named shared memory of the agent, opened by the component: the request
// buffers of the channels and the template lookup cache. Header-only so that
// every subsystem reading the agent's sections shares the same trace lines and
// the same "agent not running" notice without a link dependency.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "support/hresult.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace agent {

using unique_view = support::unique_any<void*, decltype(&::UnmapViewOfFile), ::UnmapViewOfFile>;

// An opened section and a view of all of it.
struct shared_section_t {
  support::unique_handle mapping;
  unique_view view;
  std::size_t size = 0;  // the view's size (whole pages)

  explicit operator bool() const noexcept { return static_cast<bool>(view); }
  std::uint8_t* data() const noexcept { return static_cast<std::uint8_t*>(view.get()); }
  std::span<const std::uint8_t> bytes() const noexcept { return {data(), size}; }
};

// Process-wide "first time" flags of the missing-agent notices: the first
// notice is an error, later ones a red message on a trace console.
inline std::atomic<bool> g_first_missing_section{true};
inline std::atomic<bool> g_first_missing_window{true};

// The red colour marker of a trace console (colour 4).
inline constexpr char kRedMarker[] = "'`I04`'";

// Writes the notice in the caller's trace scope.
inline void trace_agent_not_running(std::atomic<bool>& first, const char* text) noexcept {
  if (first.exchange(false)) {
    tracecore::trace_error(text, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    return;
  }
  char line[128] = "";
  std::size_t used = 0;
  for (const char* part : {kRedMarker, text})
    for (; *part && used + 1 < sizeof line; ++part)
      line[used++] = *part;
  line[used] = '\0';
  tracecore::trace_text(line);
}

// Opens an existing section and maps all of it with `access` (FILE_MAP_READ or
// FILE_MAP_WRITE). A section that does not exist means the agent is not
// running ("MMF: CVAgent not running"); any other failure traces
// "OpenFileMapping" or "MapViewOfFile" with the last error. On failure the
// result is empty and the thread's last error tells why.
inline shared_section_t open_shared_section(const wchar_t* name, DWORD access) noexcept {
  tracecore::trace_scope scope("open_shared_section");
  shared_section_t section;
  section.mapping.reset(::OpenFileMappingW(access, FALSE, name));
  if (!section.mapping) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
      trace_agent_not_running(g_first_missing_section, "MMF: CVAgent not running");
    else
      tracecore::trace_lasterror("OpenFileMapping");
    ::SetLastError(error);
    return section;
  }
  section.view.reset(::MapViewOfFile(section.mapping.get(), access, 0, 0, 0));
  if (!section.view) {
    const DWORD error = ::GetLastError();
    tracecore::trace_lasterror("MapViewOfFile");
    section.mapping.reset();
    ::SetLastError(error);
    return section;
  }
  MEMORY_BASIC_INFORMATION region{};
  if (::VirtualQuery(section.view.get(), &region, sizeof region) == sizeof region)
    section.size = region.RegionSize;
  return section;
}

}  // namespace agent
