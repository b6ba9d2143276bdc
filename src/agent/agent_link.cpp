#include "agent/agent_link.h"

#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "agent/ipc_security.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace agent {
namespace {

HRESULT last_error_result() noexcept {
  const DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The "CVTEMPLATE" mapping of one type-2 request, holding the payload text and
// a zero byte. Created only while the channel mutex is held, so the payloads
// of two clients never meet in one mapping at the same time.
HRESULT create_payload(const channel_descriptor_t& descriptor,
                       std::string_view payload,
                       support::unique_handle& mapping,
                       unique_view& view) noexcept {
  tracecore::trace_scope scope("create_payload");
  ipc_security_t security;
  if (!security.build(kPayloadAccess)) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("SA", hr);
    return hr;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(payload.size()) + 1;
  mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE,
                                     static_cast<DWORD>(size >> 32), static_cast<DWORD>(size),
                                     descriptor.payload));
  if (!mapping) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("CreateFileMapping", hr);
    return hr;
  }
  // An agent may still hold the mapping of an earlier request open; then this is
  // that mapping again. Only the bytes this payload needs are mapped, so one that
  // is too small fails here instead of being written past its end.
  apply_low_integrity_label(mapping.get());
  view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size)));
  if (!view) {
    const HRESULT hr = last_error_result();
    tracecore::trace_error("MapViewOfFile", hr);
    mapping.reset();
    return hr;
  }
  auto* bytes = static_cast<char*>(view.get());
  if (!payload.empty())
    std::memcpy(bytes, payload.data(), payload.size());
  bytes[payload.size()] = '\0';
  return S_OK;
}

}  // namespace

HWND FindAgentWindow() noexcept {
  tracecore::trace_scope scope("FindAgentWindow");
  // Not every system sets an error when no window matches; an untouched
  // error counts as "no such window" as well.
  ::SetLastError(ERROR_SUCCESS);
  HWND window = ::FindWindowExW(nullptr, nullptr, kAgentWindowName, kAgentWindowName);
  if (window)
    return window;
  const DWORD error = ::GetLastError();
  if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND)
    trace_agent_not_running(g_first_missing_window, "CVAgent not running");
  else
    tracecore::trace_error("CvAgent window not found", HRESULT_FROM_WIN32(error));
  return nullptr;
}

send_result_t send_to_agent(std::string_view text,
                            std::string_view payload,
                            HWND target,
                            UINT message,
                            channel_timeouts_t timeouts) noexcept {
  tracecore::trace_scope scope("SendToAgent");
  if (text.empty() && payload.empty()) {
    tracecore::trace_text("invalid data to send");
    return {false, E_INVALIDARG};
  }
  std::optional<std::vector<std::uint8_t>> request;
  try {
    request = encode_send_request(::GetCurrentProcessId(), window_value(target), message, text);
  } catch (const std::bad_alloc&) {
    return {false, E_OUTOFMEMORY};
  }
  if (!request) {
    tracecore::trace_format("request text of %u bytes refused: at most %u bytes fit",
                            static_cast<unsigned>(text.size()),
                            static_cast<unsigned>(kMaxSendTextBytes));
    return {false, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)};
  }

  channel_session_t session(kNipcChannel, timeouts);
  const HRESULT opened = session.open();
  if (FAILED(opened))
    return {true, opened};

  support::unique_handle payload_mapping;
  unique_view payload_view;
  const HRESULT created = create_payload(kNipcChannel, payload, payload_mapping, payload_view);
  if (FAILED(created)) {
    tracecore::trace_text("cannot create mapping to send");
    return {false, created};
  }
  const HRESULT exchanged = session.exchange(*request);
  // The payload goes only now: the agent has read it once it acknowledged.
  payload_view.reset();
  payload_mapping.reset();
  return {true, exchanged};
}

bool SendToAgent(const std::string& text, const std::string& payload, HWND target, UINT message) {
  return send_to_agent(text, payload, target, message).attempted;
}

HRESULT call_agent(const channel_descriptor_t& descriptor,
                   const call_block_t& block,
                   channel_timeouts_t timeouts) noexcept {
  tracecore::trace_scope scope("CallAgent");
  const auto request = encode_call_request(block);
  return transfer_request(descriptor, request, timeouts);
}

void CallAgent(const channel_descriptor_t& descriptor, const call_block_t& block) {
  call_agent(descriptor, block);
}

}  // namespace agent
