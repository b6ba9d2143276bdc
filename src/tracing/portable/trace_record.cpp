#include "tracing/portable/trace_record.h"

#include <cstring>

#include "tracing/portable/trace_cipher.h"

namespace tracecore {

std::size_t encode_record(std::uint32_t thread_id,
                          char type,
                          std::string_view utf8_payload,
                          std::uint8_t* out) {
  const std::size_t length =
      utf8_payload.size() > kMaxRecordPayload ? kMaxRecordPayload : utf8_payload.size();
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
