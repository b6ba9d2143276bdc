// The built-in Base64 codec, used when Crypt32 does not offer its conversions.
// Standard alphabet, "=" padding, no line breaks. Platform-free; the calling
// convention follows CryptBinaryToStringW / CryptStringToBinaryW, and the error
// codes are the Win32 ones.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto {

inline constexpr std::uint32_t kBase64Ok = 0;
inline constexpr std::uint32_t kBase64InvalidData = 13;  // ERROR_INVALID_DATA
inline constexpr std::uint32_t kBase64MoreData = 234;    // ERROR_MORE_DATA

// Characters of the text for size bytes, without the terminating zero.
std::size_t base64_encoded_length(std::size_t size) noexcept;

// With out null: sets *chars to the characters needed including the terminating
// zero. Otherwise *chars is the capacity of out in characters: on success the
// text and a terminating zero are written and *chars becomes the text's length;
// when the capacity is too small nothing is written, *chars becomes the length
// needed with the terminator, and the result is kBase64MoreData.
std::uint32_t base64_encode(const std::uint8_t* data,
                            std::size_t size,
                            wchar_t* out,
                            std::size_t* chars) noexcept;

// Decodes length characters of text, stopping at the first "=". A character
// outside the alphabet, or a single character left over at the end, gives
// kBase64InvalidData. With out null: sets *size to the bytes the text decodes to.
// Otherwise *size is the capacity of out: on success it becomes the bytes
// written; when too small nothing is written, *size becomes the bytes needed and
// the result is kBase64MoreData.
std::uint32_t base64_decode(const wchar_t* text,
                            std::size_t length,
                            std::uint8_t* out,
                            std::size_t* size) noexcept;

}  // namespace crypto
