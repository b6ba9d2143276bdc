#include "tracing/portable/trace_record.h"

#include <cstring>

#include "tracing/portable/trace_cipher.h"

namespace tracecore {

std::size_t recorded_payload_size(std::string_view utf8_payload) noexcept {
  if (utf8_payload.size() <= kMaxRecordPayload)
    return utf8_payload.size();
  // Back off over continuation bytes (10xxxxxx) to the start of the character
  // that would be cut.
  std::size_t length = kMaxRecordPayload;
  while (length > 0 && (static_cast<unsigned char>(utf8_payload[length]) & 0xC0) == 0x80)
    --length;
  return length;
}

std::size_t encode_record(std::uint32_t thread_id,
                          char type,
                          std::string_view utf8_payload,
                          std::uint8_t* out) {
  const std::size_t length = recorded_payload_size(utf8_payload);
  out[0] = static_cast<std::uint8_t>(thread_id);
  out[1] = static_cast<std::uint8_t>(thread_id >> 8);
  out[2] = static_cast<std::uint8_t>(thread_id >> 16);
  out[3] = static_cast<std::uint8_t>(thread_id >> 24);
  out[4] = static_cast<std::uint8_t>(type);
  out[5] = static_cast<std::uint8_t>(length);
  out[6] = static_cast<std::uint8_t>(length >> 8);
  if (length != 0) {
    std::memcpy(out + kRecordHeaderSize, utf8_payload.data(), length);
    apply_trace_keystream(out + kRecordHeaderSize, length);
  }
  return kRecordHeaderSize + length;
}

}  // namespace tracecore
