// For test programs that assert what the code under test traced: the program's
// main runs the tests in a child process whose tracer was switched on at load,
// writing to one trace file that the tests read back.
#pragma once

#include <string>
#include <vector>

#include "tools/tracereader/trace_reader.h"

namespace testsupport {

// Everything traced so far by this process (the trace file may still grow).
tracereader::TraceFile read_own_trace();

// The entries of the own trace added since the last call of this function, as
// "type function text" lines without the date and time records.
std::vector<std::string> new_trace_lines();

}  // namespace testsupport
