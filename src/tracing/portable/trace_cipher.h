// Keystream that hides the text of trace file records from casual readers.
// TEA in output-feedback mode; the halves of the state are signed, so the right
// shift in the round function is arithmetic. Platform-free: shared by the tracer
// and the trace reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracecore {

struct tea_block_t {
  std::uint32_t y;
  std::uint32_t z;
};

// The fixed key and initial state every trace writer and reader shares.
inline constexpr std::uint32_t kTraceKey[4] = {0x43564F4Eu, 0x4C494E45u, 0x54524143u, 0x45334B59u};
inline constexpr tea_block_t kTraceInitialState = {0x7E1A5C39u, 0x2B6D9F04u};

// One 32-round encipherment of a block (the round function with arithmetic >> 5).
tea_block_t tea_encipher(tea_block_t block, const std::uint32_t (&key)[4]);

// XORs the keystream onto data in place; applying it twice restores the data.
// The keystream restarts from the initial state for every record.
void apply_trace_keystream(std::uint8_t* data, std::size_t size);

}  // namespace tracecore
