// "The user saved a logon in the browser", as the agent reports it: the
// profile record goes as a profile image into the shared storage of the
// protected storage (CvoPS.dll, the slot without a request identifier and with
// the agreed profile GUID), then every top-level window hears
// "WM_CV_PSTORAGE_UPDATED".
#pragma once

#include <windows.h>

#include <string>

#include "suite/agent/agent_log.h"
#include "suite/agent/agent_options.h"

namespace cvagent {

HRESULT act_out_saved_logon(const saved_logon_t& logon, agent_log_t& log);

// Broadcasts the registered message `name` to every top-level window, as the
// suite's services do (posted, wParam 0, lParam this process's id).
HRESULT broadcast_registered(const std::wstring& name, agent_log_t& log);

// Tells the component's notification window (the first of class
// "CV_LocalAgentDS") that the local agent data changed: WM_USER + 303.
HRESULT post_local_data_changed(agent_log_t& log);

}  // namespace cvagent
