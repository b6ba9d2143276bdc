// What the tracer takes from its surroundings. The module's tracer uses the
// defaults; tests hand in their own registry root, clock and flags.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace tracecore {

// Process-wide flags of the trace file output.
struct process_flags_t {
  std::atomic<bool> file_open_failed{false};  // a failed open is never retried
  std::atomic<bool> cleanup_done{false};      // the old-file clean-up runs once
};
process_flags_t& process_flags();

std::int64_t seconds_since_1970();

struct tracer_environment_t {
  // Root under which "SOFTWARE\Corvantis\..." is read.
  HKEY machine_root = HKEY_LOCAL_MACHINE;
  // The component: its file names the filter entry, the trace file and the
  // header's file version. Null means the module that holds this code.
  HMODULE module = nullptr;
  void(WINAPI* local_time)(SYSTEMTIME*) = &::GetLocalTime;
  DWORD(WINAPI* tick_count)() = &::GetTickCount;
  std::int64_t (*now_seconds)() = &seconds_since_1970;
  process_flags_t* flags = nullptr;  // null means process_flags()
};

// The module handle that holds the tracing code.
HMODULE this_module();

}  // namespace tracecore
