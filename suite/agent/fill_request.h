// The fill-in request a quick-link launch leaves for the agent: on
// "WM_CV_PSTORAGE_CALLUPDATED" the agent takes the shared-storage slot of the
// fixed request identifier and logs what it asks for (docs/agent.md).
#pragma once

#include "suite/agent/agent_log.h"

namespace cvagent {

// Logs "fill-in request template=<id> operation=<n> profileindex=<n>
// profilename=<name>", or "fill-in request: <what failed>".
void log_fill_request(agent_log_t& log);

}  // namespace cvagent
