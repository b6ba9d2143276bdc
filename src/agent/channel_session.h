// The client side of an agent channel: one session per request.
//
//   agent::channel_session_t session(agent::kNipcChannel);
//   if (SUCCEEDED(session.open()))
//     hr = session.exchange(request_bytes);   // write, DATA_READY, wait BUFFER_READY
//   // the destructor closes the events, the view, the mapping and the mutex
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "agent/portable/channel_layout.h"
#include "agent/shared_section.h"
#include "support/unique_any.h"

namespace agent {

struct channel_timeouts_t {
  DWORD mutex_ms = kMutexWaitMs;
  DWORD ack_ms = kAckWaitMs;
};

class channel_session_t {
 public:
  explicit channel_session_t(const channel_descriptor_t& descriptor,
                             channel_timeouts_t timeouts = {}) noexcept
      : m_descriptor(descriptor), m_timeouts(timeouts) {}
  ~channel_session_t() { close(); }
  channel_session_t(const channel_session_t&) = delete;
  channel_session_t& operator=(const channel_session_t&) = delete;

  // Creates (or opens) the channel mutex, waits for it, opens the agent's
  // buffer and both events. S_OK when all are there; otherwise the failure:
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the agent is not running,
  // HRESULT_FROM_WIN32(ERROR_TIMEOUT) when another client kept the mutex
  // beyond the bound.
  HRESULT open() noexcept;

  // Writes the request at the start of the buffer, sets DATA_READY and waits
  // for BUFFER_READY. HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the agent did not
  // answer within the bound ("cannot transfer the rest from client").
  HRESULT exchange(std::span<const std::uint8_t> request) noexcept;

  // Closes the events, unmaps and closes the buffer, releases and closes the
  // mutex. Safe to call more than once.
  void close() noexcept;

  bool mutex_held() const noexcept { return m_mutex_held; }

 private:
  HRESULT create_mutex() noexcept;

  const channel_descriptor_t& m_descriptor;
  channel_timeouts_t m_timeouts;
  support::unique_handle m_mutex;
  bool m_mutex_held = false;
  shared_section_t m_buffer;
  support::unique_handle m_ack_event;
  support::unique_handle m_request_event;
};

// One request on a channel: open, exchange, close.
HRESULT transfer_request(const channel_descriptor_t& descriptor,
                         std::span<const std::uint8_t> request,
                         channel_timeouts_t timeouts = {}) noexcept;

}  // namespace agent
