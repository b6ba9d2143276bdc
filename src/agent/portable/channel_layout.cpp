#include "agent/portable/channel_layout.h"

#include <algorithm>
#include <cstring>

namespace agent {
namespace {

void put_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
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

std::optional<decoded_request_t> decode_request(std::span<const std::uint8_t> buffer) {
  if (buffer.size() < 4)
    return std::nullopt;
  decoded_request_t request;
  request.type = get_u32(buffer.data());
  if (request.type == static_cast<std::uint32_t>(request_type_t::call)) {
    if (buffer.size() < kCallRequestSize)
      return std::nullopt;
    request.process_id = get_u32(&buffer[4]);
    request.target_window = get_u32(&buffer[12]);
    request.message = get_u32(&buffer[16]);
    request.length = kCallRequestSize;
    return request;
  }
  if (request.type == static_cast<std::uint32_t>(request_type_t::send)) {
    if (buffer.size() < kSendHeaderSize)
      return std::nullopt;
    request.process_id = get_u32(&buffer[4]);
    request.target_window = get_u32(&buffer[8]);
    request.message = get_u32(&buffer[12]);
    const auto text = buffer.subspan(kSendHeaderSize);
    const auto zero = std::find(text.begin(), text.end(), std::uint8_t{0});
    request.terminated = zero != text.end();
    request.text.assign(text.begin(), zero);
    request.length = kSendHeaderSize + request.text.size() + (request.terminated ? 1 : 0);
    return request;
  }
  return std::nullopt;
}

}  // namespace agent
