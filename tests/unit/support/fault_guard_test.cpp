// Faults inside a guarded call end only the call's own thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "support/fault_guard.h"

namespace {

TEST(FaultGuard, ResultsThrowsAndFaults) {
  EXPECT_EQ(support::call_with_fault_guard("ok", [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(
      support::call_with_fault_guard("throws", []() -> HRESULT { throw std::runtime_error("x"); }),
      E_UNEXPECTED);
  for (const DWORD code : {static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
                           static_cast<DWORD>(EXCEPTION_ILLEGAL_INSTRUCTION),
                           static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO)}) {
    const HRESULT hr = support::call_with_fault_guard("faults", [code]() -> HRESULT {
      ::RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
      return S_OK;
    });
    EXPECT_EQ(hr, E_UNEXPECTED) << std::hex << code;
  }
}

TEST(FaultGuard, AFaultEndsOnlyItsOwnCall) {
  // Two guarded calls at once: the one that faults fails, the other one, still
  // running while the fault is handled, finishes with its own result.
  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HRESULT slow_result = E_FAIL;
  std::thread slow([&] {
    slow_result = support::call_with_fault_guard("slow", [&]() -> HRESULT {
      ::WaitForSingleObject(go, 10000);
      return S_FALSE;
    });
  });
  const HRESULT faulted = support::call_with_fault_guard("faults", [&]() -> HRESULT {
    ::SetEvent(go);
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return S_OK;
  });
  slow.join();
  ::CloseHandle(go);
  EXPECT_EQ(faulted, E_UNEXPECTED);
  EXPECT_EQ(slow_result, S_FALSE);
}

}  // namespace
