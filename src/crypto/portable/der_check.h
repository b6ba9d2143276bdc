// A strict check of DER framing, made before any DER from outside is handed to a
// decoder: some decoders read a little past the end of a truncated last element.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto {

// True when data is exactly one element (single-byte tag, definite length of at
// most four length bytes) whose content, for a constructed element, is again a
// series of such elements, nested at most eight deep.
bool is_single_der_element(const std::uint8_t* data, std::size_t size) noexcept;

// The header of the element at data (single-byte tag, definite length of at
// most four length bytes): its size and the content's length, which must fit
// in size. False for anything else.
bool read_der_header(const std::uint8_t* data,
                     std::size_t size,
                     std::size_t& header,
                     std::size_t& length) noexcept;

}  // namespace crypto
