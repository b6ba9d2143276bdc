// "The user saved a logon in the browser", as the agent reports it: the
// profile record goes as a profile image into the shared storage of the
// protected storage (CvoPS.dll, the slot without a request identifier and with
// the agreed profile GUID), then every top-level window hears
// "WM_CV_PSTORAGE_UPDATED".
#pragma once

#include <windows.h>

#include "suite/agent/agent_log.h"
#include "suite/agent/agent_options.h"

namespace cvagent {

HRESULT act_out_saved_logon(const saved_logon_t& logon, agent_log_t& log);

}  // namespace cvagent
