// How named settings, which travel as text, become typed values.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace plugin {

// Signed decimal: leading white space and a sign allowed, stops at the first
// non-digit; no digits give 0. Saturates instead of overflowing.
std::int32_t parse_setting_integer(std::wstring_view text);

// A positive number is true, a negative one false; 0 (and text that is not a
// number) is no value at all.
std::optional<bool> parse_setting_boolean(std::wstring_view text);

inline const wchar_t* setting_text_of(bool value) {
  return value ? L"1" : L"-1";
}

}  // namespace plugin
