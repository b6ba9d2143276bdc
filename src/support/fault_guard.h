// Calls into suite libraries that may fault. A hardware fault (access violation,
// illegal instruction, division by zero, stack overflow) inside such a call must
// not take the console down with it. Standard C++ cannot catch those, so the call
// runs on a short-lived thread of its own; a vectored handler, active only for
// that thread, ends the thread at the fault and the caller gets a failure.
// What the faulting library held at that moment (its locks, its memory) stays
// held: the library is broken anyway, and the console lives on. Never call it
// under the loader lock (DllMain): the new thread could not start there.
#pragma once

#include <windows.h>

#include <functional>

namespace support {

// The result of call, or E_UNEXPECTED when it faulted (the fault's code is traced
// with `what`) or threw, or the error of CreateThread when no thread could be made.
HRESULT call_with_fault_guard(const char* what, const std::function<HRESULT()>& call) noexcept;

}  // namespace support
