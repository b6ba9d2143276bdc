#pragma once

#include "support/unique_any.h"

namespace tracecore {

// "Global\CVMAX_tracemutex_<pid>": serialises the records of one process,
// reachable by other processes of the suite. Null when it can't be had.
support::unique_handle create_trace_mutex();

}  // namespace tracecore
