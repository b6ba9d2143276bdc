#include "tracing/trace_mutex.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "support/object_security.h"

namespace tracecore {

support::unique_handle create_trace_mutex() {
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\%ls_%04X", L"CVMAX_tracemutex",
                static_cast<unsigned>(::GetCurrentProcessId()));
  support::object_security_t security;
  const DWORD last_error = ::GetLastError();
  security.build({GENERIC_ALL, GENERIC_ALL, GENERIC_ALL, GENERIC_ALL});
  HANDLE mutex = ::CreateMutexW(security.attributes(), FALSE, name);
  if (mutex != nullptr) {
    // Shared with the suite's other processes, low-integrity ones included.
    // Nothing is traced here: this runs while the tracer is being built.
    support::set_low_integrity_label(mutex);
  } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
    mutex = ::OpenMutexW(GENERIC_READ, FALSE, name);
  }
  ::SetLastError(last_error);
  return support::unique_handle(mutex);
}

}  // namespace tracecore
