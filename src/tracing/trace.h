// The tracing calls every part of the component uses:
//
//   HRESULT CFoo::Bar() {
//     tracecore::trace_scope scope("CFoo::Bar");
//     tracecore::trace_format("QL for: %s", name);
//     ...
//     tracecore::trace_error("CreateFile", hr);
//   }
//
// Entry records are written only for scopes that trace something. None of
// these calls fails or changes the caller's last error.
#pragma once

#include "tracing/portable/format_object.h"

namespace tracecore {

class tracer_t;

// The tracer of this module; null once the module's statics are gone.
tracer_t* module_tracer() noexcept;

class trace_scope {
 public:
  explicit trace_scope(const char* function) noexcept;
  ~trace_scope();
  trace_scope(const trace_scope&) = delete;
  trace_scope& operator=(const trace_scope&) = delete;
};

void trace_text(const char* utf8) noexcept;
void trace_text(const wchar_t* text) noexcept;
void trace_text(const format_t& format) noexcept;
// printf-style; "%s" and "%c" take narrow arguments; cut at 399 characters.
void trace_format(const char* format, ...) noexcept;
void trace_error(const char* text, long code) noexcept;
void trace_error(const wchar_t* text, long code) noexcept;
// trace_error with the thread's last error as an HRESULT.
void trace_lasterror(const char* text) noexcept;
void trace_lasterror(const wchar_t* text) noexcept;

}  // namespace tracecore
