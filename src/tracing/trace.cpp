#include "tracing/trace.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>

#include "tracing/tracer.h"

namespace tracecore {
namespace {

std::atomic<bool> g_tracerGone{false};

struct module_tracer_holder {
  realtracer_t tracer;
  ~module_tracer_holder() { g_tracerGone = true; }
};

// Built while the module's static objects are constructed, so the output is
// decided before the first traced call.
const bool g_tracerBuiltAtLoad = module_tracer() != nullptr;

}  // namespace

tracer_t* module_tracer() noexcept {
  if (g_tracerGone)
    return nullptr;
  static module_tracer_holder holder;
  return &holder.tracer;
}

trace_scope::trace_scope(const char* function) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->enter(function);
}

trace_scope::~trace_scope() {
  if (tracer_t* tracer = module_tracer())
    tracer->leave();
}

void trace_text(const char* utf8) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->text(utf8);
}

void trace_text(const wchar_t* text) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->text(text);
}

void trace_text(const format_t& format) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->text(format);
}

void trace_format(const char* format, ...) noexcept {
  tracer_t* tracer = module_tracer();
  if (tracer == nullptr || !tracer->recording())
    return;
  va_list args;
  va_start(args, format);
  tracer->vformat(format, args);
  va_end(args);
}

void trace_error(const char* text, long code) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->error(text, code);
}

void trace_error(const wchar_t* text, long code) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->error(text, code);
}

void trace_lasterror(const char* text) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->lasterror(text);
}

void trace_lasterror(const wchar_t* text) noexcept {
  if (tracer_t* tracer = module_tracer())
    tracer->lasterror(text);
}

}  // namespace tracecore
