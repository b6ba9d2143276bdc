#include "agent/ipc_security.h"

#include "tracing/trace.h"

namespace agent {

bool apply_low_integrity_label(HANDLE object) noexcept {
  tracecore::trace_scope scope("apply_low_integrity_label");
  const support::label_result_t result = support::set_low_integrity_label(object);
  switch (result.step) {
    case support::label_step_t::done:
      return true;
    case support::label_step_t::before_vista:
      return false;
    case support::label_step_t::parse:
      ::SetLastError(result.error);
      tracecore::trace_lasterror("SACL 1");
      return false;
    case support::label_step_t::sacl:
      ::SetLastError(result.error);
      tracecore::trace_lasterror("SACL 2");
      return false;
    case support::label_step_t::set:
      tracecore::trace_format("set SACL failed 0x%x", static_cast<unsigned>(result.error));
      return false;
  }
  return false;
}

}  // namespace agent
