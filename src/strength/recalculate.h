// The background recalculation of the overall security status, as the
// notification window asks for it.
//
//   strength::RecalculatePasswordStrength(page_window, storage);  // returns at once
//
// A thread-pool work item then rates every stored password and stores the
// overall level (IDCard_SS); nothing comes back to the caller.
#pragma once

#include <windows.h>

#include "store/dashboard_storage.h"

namespace strength {

// Reads the user's profile data (CVOPSQuery with `owner`) and queues the
// rating. The storage interface's or the query's failure is returned (traced,
// nothing queued); a work item that cannot be queued is dropped with S_OK.
HRESULT RecalculatePasswordStrength(HWND owner, IDashBoardStorage* storage) noexcept;

// What the work item gets: the profile data and the storage session it resolves
// referenced values through. The work item owns both and frees them; the text
// is overwritten with zeros first.
struct strength_work_t {
  BSTR profile_data = nullptr;
  IDashBoardStorage* storage = nullptr;  // one reference
};

// The work item: rates and stores the status, then frees its context. Returns 0.
DWORD WINAPI PasswordStrengthThread(void* context);

}  // namespace strength
