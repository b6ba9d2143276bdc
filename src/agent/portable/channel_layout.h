// The shared-memory channels to the resident agent: their named objects, the
// request layouts written into a channel's buffer, and the bounds the client
// keeps when it waits for the agent.
//
//   agent::call_block_t block{pid, 0, agent_window, message};
//   const auto bytes = agent::encode_call_request(block);        // 32 bytes
//   const auto text = agent::encode_send_request(pid, target, message, "...");
//   if (!text) { /* longer than kMaxSendTextBytes: refused */ }
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace agent {

// The named objects of one channel. Three channels exist; the component uses NIPC.
struct channel_descriptor_t {
  const wchar_t* mutex;          // serialises the clients; created by the first client
  const wchar_t* ack_event;      // "..._BUFFER_READY": set by the agent once it has the request
  const wchar_t* request_event;  // "..._DATA_READY": set by the client after writing
  const wchar_t* buffer;         // the request buffer mapping, created by the agent
  std::uint32_t buffer_size;
  const wchar_t* payload;      // the mapping with the second text of a type-2 request
  const wchar_t* first_block;  // named in every descriptor, never opened here
  const wchar_t* second_block;
};

inline constexpr std::uint32_t kChannelBufferSize = 4096;

inline constexpr channel_descriptor_t kAipcChannel{
    L"CVMAX_AIPC_MUTEX",      L"CVMAX_AIPC_BUFFER_READY",
    L"CVMAX_AIPC_DATA_READY", L"CVMAX_AIPC_BUFFER",
    kChannelBufferSize,       L"CVTEMPLATE",
    L"BLOCK_TO_CV",           L"BLOCK_TO_FF"};
inline constexpr channel_descriptor_t kBipcChannel{
    L"CVMAX_BIPC_MUTEX",      L"CVMAX_BIPC_BUFFER_READY",
    L"CVMAX_BIPC_DATA_READY", L"CVMAX_BIPC_BUFFER",
    kChannelBufferSize,       L"CVTEMPLATE",
    L"BLOCK_TO_CV",           L"BLOCK_TO_FF"};
inline constexpr channel_descriptor_t kNipcChannel{
    L"CVMAX_NIPC_MUTEX",      L"CVMAX_NIPC_BUFFER_READY",
    L"CVMAX_NIPC_DATA_READY", L"CVMAX_NIPC_BUFFER",
    kChannelBufferSize,       L"CVTEMPLATE",
    L"BLOCK_TO_CV",           L"BLOCK_TO_FF"};

// The request type word at offset 0 of the buffer.
enum class request_type_t : std::uint32_t {
  call = 1,  // ask the agent to deliver a registered message to a window
  send = 2,  // a text (and a payload text in "CVTEMPLATE") for a window
};

// The 28 bytes copied behind the type word of a type-1 request.
struct call_block_t {
  std::uint32_t process_id = 0;
  std::uint32_t reserved = 0;
  std::uint32_t agent_window = 0;  // window handles are 32-bit values in every process
  std::uint32_t message = 0;
  std::uint32_t reserved_tail[3] = {0, 0, 0};
};
inline constexpr std::size_t kCallBlockSize = 28;
inline constexpr std::size_t kCallRequestSize = 4 + kCallBlockSize;

// A type-2 request: four words, then the text and its terminating zero.
inline constexpr std::size_t kSendHeaderSize = 16;
// The longest type-2 text: with its zero it ends exactly at the end of the buffer.
inline constexpr std::size_t kMaxSendTextBytes = kChannelBufferSize - kSendHeaderSize - 1;

// How long a client waits. A healthy agent answers within milliseconds; the
// bounds only keep a stalled or crashed agent from freezing the caller (the
// console's user-interface thread). The mutex bound is the longer one, so a
// client queued behind another client that waits for a slow agent still gets
// its turn.
inline constexpr std::uint32_t kMutexWaitMs = 4000;
inline constexpr std::uint32_t kAckWaitMs = 3000;

std::array<std::uint8_t, kCallRequestSize> encode_call_request(const call_block_t& block);

// nullopt when the text is longer than kMaxSendTextBytes.
std::optional<std::vector<std::uint8_t>> encode_send_request(std::uint32_t process_id,
                                                             std::uint32_t target_window,
                                                             std::uint32_t message,
                                                             std::string_view text);

// The registered window messages of the agent link.
inline constexpr wchar_t kMsgActionRequestToHook[] = L"WM_CV_ACTIONREQUEST_TOHOOK";
inline constexpr wchar_t kMsgFlmRestore[] = L"WM_CV_FLM_RESTORE";
inline constexpr wchar_t kMsgPStorageUpdated[] = L"WM_CV_PSTORAGE_UPDATED";
inline constexpr wchar_t kMsgPStorageCallUpdated[] = L"WM_CV_PSTORAGE_CALLUPDATED";
inline constexpr wchar_t kMsgSettingsChanged[] = L"CvSettingsChanged";
inline constexpr wchar_t kMsgAgentRefreshCache[] = L"WM_CV_AGENT_REFRESHCACHE";
inline constexpr wchar_t kMsgAgentManifest[] = L"WM_CV_AGENT_MANIFEST";

// The agent's top-level window: class and title.
inline constexpr wchar_t kAgentWindowName[] = L"Corvantis Pro Agent";

}  // namespace agent
