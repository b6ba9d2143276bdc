#pragma once

#include <string>

#include "tracing/tracer_environment.h"

namespace tracecore {

// The text header of a new trace file: CR LF lines ending with a "." line.
std::string trace_file_header(const tracer_environment_t& env);

}  // namespace tracecore
