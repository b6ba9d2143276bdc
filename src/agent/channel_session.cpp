#include "agent/channel_session.h"

#include <cstring>

#include "agent/ipc_security.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace agent {
namespace {

// Rights asked for when the mutex exists but may not be opened fully: query
// state (what every account is granted) and synchronize, without which the
// mutex could not be waited for.
constexpr DWORD kMutexOpenAccess = MUTANT_QUERY_STATE | SYNCHRONIZE;

HRESULT last_error_result() noexcept {
  const DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT wait_result(DWORD wait) noexcept {
  return wait == WAIT_TIMEOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : last_error_result();
}

}  // namespace

HRESULT channel_session_t::create_mutex() noexcept {
  tracecore::trace_scope scope("channel_session_t::create_mutex");
  ipc_security_t security;
  if (!security.build(kMutexAccess)) {
    tracecore::trace_lasterror("SA");
  } else {
    m_mutex.reset(::CreateMutexW(security.attributes(), FALSE, m_descriptor.mutex));
    if (m_mutex) {
      if (::GetLastError() != ERROR_ALREADY_EXISTS)
        apply_low_integrity_label(m_mutex.get());
      return S_OK;
    }
    const DWORD error = ::GetLastError();
    tracecore::trace_error("Failed to create mutex. OK. Try to open it.",
                           HRESULT_FROM_WIN32(error));
    if (error == ERROR_ACCESS_DENIED) {
      m_mutex.reset(::OpenMutexW(kMutexOpenAccess, FALSE, m_descriptor.mutex));
      if (m_mutex)
        return S_OK;
      tracecore::trace_lasterror("Failed to open mutex. BAD.");
    }
    ::SetLastError(error);
  }
  const HRESULT hr = last_error_result();
  tracecore::trace_error("Create Mutex failed", hr);
  return hr;
}

HRESULT channel_session_t::open() noexcept {
  tracecore::trace_scope scope("channel_session_t::open");
  if (!m_mutex) {
    const HRESULT hr = create_mutex();
    if (FAILED(hr))
      return hr;
  }
  if (!m_mutex_held) {
    // A mutex abandoned by a client that died is ours now; the buffer is
    // rewritten from its start, so nothing of that client's request matters.
    const DWORD wait = ::WaitForSingleObject(m_mutex.get(), m_timeouts.mutex_ms);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      const HRESULT hr = wait_result(wait);
      tracecore::trace_error("WaitForSingleObject on Mutex", hr);
      return hr;
    }
    m_mutex_held = true;
  }

  m_buffer = open_shared_section(m_descriptor.buffer, FILE_MAP_WRITE);
  if (!m_buffer)
    return last_error_result();

  m_ack_event.reset(::OpenEventW(SYNCHRONIZE, FALSE, m_descriptor.ack_event));
  if (!m_ack_event) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("no AckEvent", hr);
    return hr;
  }
  m_request_event.reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, m_descriptor.request_event));
  if (!m_request_event) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("no ReadyEvent", hr);
    return hr;
  }
  return S_OK;
}

HRESULT channel_session_t::exchange(std::span<const std::uint8_t> request) noexcept {
  tracecore::trace_scope scope("channel_session_t::exchange");
  if (!m_buffer || !m_ack_event || !m_request_event)
    return E_UNEXPECTED;
  if (request.size() > m_descriptor.buffer_size || request.size() > m_buffer.size)
    return E_INVALIDARG;
  std::memcpy(m_buffer.data(), request.data(), request.size());

  // An acknowledgement the agent gave after an earlier client had stopped
  // waiting for it must not count for this request: waiting with no time
  // consumes it (the agent's events reset themselves).
  ::WaitForSingleObject(m_ack_event.get(), 0);
  if (!::SetEvent(m_request_event.get())) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("SetEvent", hr);
    return hr;
  }
  const DWORD wait = ::WaitForSingleObject(m_ack_event.get(), m_timeouts.ack_ms);
  if (wait != WAIT_OBJECT_0) {
    const HRESULT hr = wait_result(wait);
    tracecore::trace_error("cannot transfer the rest from client", hr);
    return hr;
  }
  return S_OK;
}

void channel_session_t::close() noexcept {
  m_request_event.reset();
  m_ack_event.reset();
  m_buffer.view.reset();
  m_buffer.mapping.reset();
  m_buffer.size = 0;
  if (m_mutex_held) {
    ::ReleaseMutex(m_mutex.get());
    m_mutex_held = false;
  }
  m_mutex.reset();
}

HRESULT transfer_request(const channel_descriptor_t& descriptor,
                         std::span<const std::uint8_t> request,
                         channel_timeouts_t timeouts) noexcept {
  channel_session_t session(descriptor, timeouts);
  const HRESULT hr = session.open();
  if (FAILED(hr))
    return hr;
  return session.exchange(request);
}

}  // namespace agent
