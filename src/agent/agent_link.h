// What the component asks of the resident agent:
//
//   if (HWND agent = agent::FindAgentWindow()) {
//     agent::call_block_t block{::GetCurrentProcessId(), 0, agent::window_value(agent),
//                               message_id};
//     agent::CallAgent(agent::kNipcChannel, block);           // type 1
//     agent::SendToAgent(text_utf8, "", agent, manifest_id);   // type 2
//   }
//
// Nothing here raises or reports to the user: failures are traced.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/channel_session.h"
#include "agent/portable/channel_layout.h"

namespace agent {

// A window handle as the 32-bit value the requests carry.
inline std::uint32_t window_value(HWND window) noexcept {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

// The agent's top-level window (class and title "Corvantis Pro Agent"), or
// null. A missing window is traced "CVAgent not running" (an error the first
// time in the process, a red message later); any other failure
// "CvAgent window not found" with the last error.
HWND FindAgentWindow() noexcept;

// A type-2 request on the NIPC channel with `payload` in the "CVTEMPLATE"
// mapping. True once the transfer has been attempted, whatever its outcome;
// false when both texts are empty ("invalid data to send"), when `text` is
// longer than kMaxSendTextBytes (refused, nothing sent), or when the payload
// mapping could not be created ("cannot create mapping to send").
bool SendToAgent(const std::string& text, const std::string& payload, HWND target, UINT message);

// A type-1 request: the type word and the 28-byte block. No result.
void CallAgent(const channel_descriptor_t& descriptor, const call_block_t& block);

// The same two requests with their outcome, for callers that want it.
struct send_result_t {
  bool attempted = false;  // what SendToAgent returns
  HRESULT result = S_OK;   // the transfer's result, or why nothing was attempted
};
send_result_t send_to_agent(std::string_view text,
                            std::string_view payload,
                            HWND target,
                            UINT message,
                            channel_timeouts_t timeouts = {}) noexcept;
HRESULT call_agent(const channel_descriptor_t& descriptor,
                   const call_block_t& block,
                   channel_timeouts_t timeouts = {}) noexcept;

}  // namespace agent
