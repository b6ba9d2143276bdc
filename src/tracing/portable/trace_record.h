// Binary layout of one trace file record: thread id (4 bytes), type (1 byte),
// payload length (2 bytes), then the enciphered UTF-8 payload. Little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tracecore {

inline constexpr std::size_t kRecordHeaderSize = 7;
inline constexpr std::size_t kMaxRecordPayload = 0xFFFF;
// Records whose payload is shorter than this are built on the stack.
inline constexpr std::size_t kStackRecordPayload = 350;

// Builds the record into out (size kRecordHeaderSize + payload length) and
// enciphers the payload. A payload longer than the 16-bit length field can
// describe is cut so that the file stays readable; returns the bytes written.
std::size_t encode_record(std::uint32_t thread_id,
                          char type,
                          std::string_view utf8_payload,
                          std::uint8_t* out);

// Number of bytes encode_record writes for a payload of this size.
inline std::size_t encoded_record_size(std::size_t payload_size) {
  return kRecordHeaderSize + (payload_size > kMaxRecordPayload ? kMaxRecordPayload : payload_size);
}

}  // namespace tracecore
