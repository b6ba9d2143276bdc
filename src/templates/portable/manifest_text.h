// Text conversions of the template reader: UTF-8 to wide strings and back, the
// percent decoding of attribute values, and the numbers and switches of
// attribute values.
#pragma once

#include <string>
#include <string_view>

namespace templates {

// UTF-8 to wide (UTF-16 where wchar_t has 16 bits, code points elsewhere).
// Malformed sequences become U+FFFD.
std::wstring utf8_to_wide(std::string_view utf8);
// Wide to UTF-8; unpaired surrogates become U+FFFD.
std::string wide_to_utf8(std::wstring_view wide);

// Decodes "%hh" escapes that give a control character or the percent sign;
// every other escape stays, written with lower-case digits. A '%' with fewer
// than two characters after it ends the text.
std::string percent_decode(std::string_view text);

// A decimal integer: leading white space and a sign allowed, reading stops at
// the first non-digit, no digits give 0, values beyond int are clamped.
int attribute_int(const char* text) noexcept;

// True only for the exact one-character text "1".
inline bool attribute_bool(const char* text) noexcept {
  return text[0] == '1' && text[1] == '\0';
}

}  // namespace templates
