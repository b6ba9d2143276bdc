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

// How much of a UTF-8 payload a record holds: all of it when the 16-bit length
// field can describe it, else the longest prefix of whole characters that fits
// (never a cut inside a character, which readers would take for corruption).
std::size_t recorded_payload_size(std::string_view utf8_payload) noexcept;

// Builds the record into out (size encoded_record_size) and enciphers the
// payload, cut as recorded_payload_size says; returns the bytes written.
std::size_t encode_record(std::uint32_t thread_id,
                          char type,
                          std::string_view utf8_payload,
                          std::uint8_t* out);

// Number of bytes encode_record writes for this payload.
inline std::size_t encoded_record_size(std::string_view utf8_payload) noexcept {
  return kRecordHeaderSize + recorded_payload_size(utf8_payload);
}

}  // namespace tracecore
