#include "support/fault_guard.h"

#include "support/unique_any.h"
#include "tracing/trace.h"

namespace support {
namespace {

// Set only on the threads that run a guarded call.
thread_local bool t_guarded_thread = false;

struct guarded_call_t {
  const std::function<HRESULT()>* call;
  HRESULT result = E_UNEXPECTED;
};

bool is_fatal_fault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return true;
    default:
      return false;
  }
}

LONG CALLBACK end_faulting_thread(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (!t_guarded_thread || !is_fatal_fault(code))
    return EXCEPTION_CONTINUE_SEARCH;
  // The exit code carries the fault to the waiting caller; no unwinding happens
  // through the faulting library's frames.
  ::ExitThread(code);
}

DWORD WINAPI run_guarded(void* parameter) {
  auto* const guarded = static_cast<guarded_call_t*>(parameter);
  t_guarded_thread = true;
  try {
    guarded->result = (*guarded->call)();
  } catch (...) {
    guarded->result = E_UNEXPECTED;
  }
  return 0;
}

}  // namespace

HRESULT call_with_fault_guard(const char* what, const std::function<HRESULT()>& call) noexcept {
  guarded_call_t guarded{&call};
  // One handler per call, removed before returning: a handler left behind would
  // point into this module after it unloads.
  void* const handler = ::AddVectoredExceptionHandler(1, end_faulting_thread);
  if (handler == nullptr)
    return E_OUTOFMEMORY;
  unique_handle thread(::CreateThread(nullptr, 0, run_guarded, &guarded, 0, nullptr));
  HRESULT result = S_OK;
  if (!thread) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  } else {
    ::WaitForSingleObject(thread.get(), INFINITE);
    DWORD exit_code = 0;
    ::GetExitCodeThread(thread.get(), &exit_code);
    if (exit_code != 0) {
      tracecore::trace_format("%s: fault 0x%08X", what, static_cast<unsigned>(exit_code));
      result = E_UNEXPECTED;
    } else {
      result = guarded.result;
    }
  }
  ::RemoveVectoredExceptionHandler(handler);
  return result;
}

}  // namespace support
