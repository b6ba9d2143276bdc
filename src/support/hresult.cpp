#include "support/hresult.h"

#include "tracing/trace.h"

namespace support {

HRESULT result_from_caught_exception() noexcept {
  try {
    throw;
  } catch (const hresult_error& e) {
    tracecore::trace_error(e.expression(), e.code());
    return e.code();
  } catch (const std::bad_alloc&) {
    tracecore::trace_error("out of memory", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (...) {
    tracecore::trace_error("unexpected exception", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
}

}  // namespace support
