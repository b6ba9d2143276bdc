#include "suite/agent/request_decoder.h"

#include <algorithm>

namespace agent {
namespace {

std::uint32_t get_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

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
