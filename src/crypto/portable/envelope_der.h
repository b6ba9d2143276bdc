// The obfuscated envelope's bytes, written and read here rather than by the
// system's DER codec: the layout is fixed, and an envelope is made or read for
// every stored password a list shows. Platform-free.
//
// Envelope: "CVOA", then the DER sequence { INTEGER 4, OCTET STRING holding the
// DER sequence { OCTET STRING initial vector (8 bytes), OCTET STRING enciphered
// bytes } }. The DER fills the envelope exactly.
//
//   std::vector<std::uint8_t> envelope(envelope_size(n));
//   std::uint8_t* enciphered = write_envelope(iv, n, envelope.data());  // n bytes to fill
//   if (const auto view = read_envelope(envelope.data(), envelope.size()))
//     decipher(view->iv, view->enciphered, view->size);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "crypto/portable/obfuscation_cipher.h"

namespace crypto {

inline constexpr std::uint8_t kEnvelopeMagic[4] = {'C', 'V', 'O', 'A'};
inline constexpr unsigned kEnvelopeFormat = 4;

// The size of an envelope around `enciphered` bytes, magic included.
std::size_t envelope_size(std::size_t enciphered) noexcept;

// Writes the envelope of `enciphered` bytes, in minimal DER, to `out`
// (envelope_size bytes) except for the enciphered bytes themselves, and returns
// where they go.
std::uint8_t* write_envelope(const cipher_block_t& iv,
                             std::size_t enciphered,
                             std::uint8_t* out) noexcept;

// Where an envelope keeps its initial vector and enciphered bytes.
struct envelope_view_t {
  const std::uint8_t* iv = nullptr;  // 8 bytes
  const std::uint8_t* enciphered = nullptr;
  std::size_t size = 0;
};

// The parts of an envelope; nullopt unless the bytes are exactly one envelope
// of format 4 (the format's integer may carry leading zero bytes, lengths may
// take the long form).
std::optional<envelope_view_t> read_envelope(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace crypto
