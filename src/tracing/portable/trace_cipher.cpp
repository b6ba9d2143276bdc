#include "tracing/portable/trace_cipher.h"

namespace tracecore {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;

// Arithmetic right shift of the value read as a signed 32-bit number.
constexpr std::uint32_t sar5(std::uint32_t v) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> 5);
}

}  // namespace

tea_block_t tea_encipher(tea_block_t block, const std::uint32_t (&key)[4]) {
  std::uint32_t y = block.y;
  std::uint32_t z = block.z;
  std::uint32_t sum = 0;
  for (int round = 0; round < 32; ++round) {
    sum += kDelta;
    y += ((z << 4) + key[0]) ^ (z + sum) ^ (sar5(z) + key[1]);
    z += ((y << 4) + key[2]) ^ (y + sum) ^ (sar5(y) + key[3]);
  }
  return {y, z};
}

void apply_trace_keystream(std::uint8_t* data, std::size_t size) {
  tea_block_t state = kTraceInitialState;
  for (std::size_t offset = 0; offset < size; offset += 8) {
    state = tea_encipher(state, kTraceKey);
    // The state's bytes in memory order: both words little-endian.
    const std::uint8_t stream[8] = {
        static_cast<std::uint8_t>(state.y),       static_cast<std::uint8_t>(state.y >> 8),
        static_cast<std::uint8_t>(state.y >> 16), static_cast<std::uint8_t>(state.y >> 24),
        static_cast<std::uint8_t>(state.z),       static_cast<std::uint8_t>(state.z >> 8),
        static_cast<std::uint8_t>(state.z >> 16), static_cast<std::uint8_t>(state.z >> 24)};
    const std::size_t n = size - offset < 8 ? size - offset : 8;
    for (std::size_t i = 0; i < n; ++i)
      data[offset + i] ^= stream[i];
  }
}

}  // namespace tracecore
