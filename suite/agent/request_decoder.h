// The agent's side of a channel request: reading back what a client wrote into
// the channel buffer. Only the agent stand-in (and the layout tests) need it; the
// component only writes requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "agent/portable/channel_layout.h"

namespace agent {

// A request as the agent reads it back from its buffer.
struct decoded_request_t {
  std::uint32_t type = 0;
  std::uint32_t process_id = 0;
  std::uint32_t target_window = 0;  // type 1: the agent window at offset 12; type 2: offset 8
  std::uint32_t message = 0;
  std::string text;         // type 2 only: up to the first zero
  bool terminated = false;  // type 2: a zero was found inside the buffer
  std::size_t length = 0;   // bytes the request occupies (type 2: with its zero)
};
// nullopt for a buffer shorter than the request's fixed part or an unknown type.
std::optional<decoded_request_t> decode_request(std::span<const std::uint8_t> buffer);

}  // namespace agent
