#include "plugin/portable/setting_text.h"

namespace plugin {

std::int32_t parse_setting_integer(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
    negative = text[i++] == L'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > 0x80000000LL)
      value = 0x80000000LL;
  }
  if (negative)
    value = -value;
  if (value > INT32_MAX)
    value = INT32_MAX;
  return static_cast<std::int32_t>(value);
}

std::optional<bool> parse_setting_boolean(std::wstring_view text) {
  const std::int32_t value = parse_setting_integer(text);
  if (value == 0)
    return std::nullopt;
  return value > 0;
}

}  // namespace plugin
