// The update date of a profile record: a file time written as two hexadecimal
// numbers, the high 32 bits first, separated by white space ("1DB4F2A 5C3E9100").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace strength {

// The file time the text holds, or 0 (1 January 1601) for an empty text or any
// other shape: exactly two runs of 1 to 8 hexadecimal digits (either case)
// separated by white space, white space allowed before and after.
std::uint64_t parse_update_date(std::string_view text) noexcept;
std::uint64_t parse_update_date(std::wstring_view text) noexcept;

// The text form of a file time, as the suite writes it.
std::string format_update_date(std::uint64_t file_time);

}  // namespace strength
