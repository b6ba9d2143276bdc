#include "agent/portable/channel_layout.h"

#include <cstring>

namespace agent {
namespace {

void put_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kCallRequestSize> encode_call_request(const call_block_t& block) {
  std::array<std::uint8_t, kCallRequestSize> out{};
  put_u32(&out[0], static_cast<std::uint32_t>(request_type_t::call));
  const std::uint32_t words[7] = {
      block.process_id,       block.reserved,         block.agent_window,    block.message,
      block.reserved_tail[0], block.reserved_tail[1], block.reserved_tail[2]};
  for (std::size_t i = 0; i < 7; ++i)
    put_u32(&out[4 + 4 * i], words[i]);
  return out;
}

std::optional<std::vector<std::uint8_t>> encode_send_request(std::uint32_t process_id,
                                                             std::uint32_t target_window,
                                                             std::uint32_t message,
                                                             std::string_view text) {
  if (text.size() > kMaxSendTextBytes)
    return std::nullopt;
  std::vector<std::uint8_t> out(kSendHeaderSize + text.size() + 1, 0);
  put_u32(&out[0], static_cast<std::uint32_t>(request_type_t::send));
  put_u32(&out[4], process_id);
  put_u32(&out[8], target_window);
  put_u32(&out[12], message);
  if (!text.empty())
    std::memcpy(&out[kSendHeaderSize], text.data(), text.size());
  return out;
}

}  // namespace agent
