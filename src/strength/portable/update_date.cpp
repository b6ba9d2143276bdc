#include "strength/portable/update_date.h"

#include <cstdio>

namespace strength {
namespace {

bool is_space(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

int hex_digit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9')
    return c - L'0';
  if (c >= L'a' && c <= L'f')
    return c - L'a' + 10;
  if (c >= L'A' && c <= L'F')
    return c - L'A' + 10;
  return -1;
}

template <typename Char>
std::uint64_t parse(std::basic_string_view<Char> text) noexcept {
  std::size_t i = 0;
  auto skip_space = [&] {
    std::size_t start = i;
    while (i < text.size() && is_space(static_cast<wchar_t>(text[i])))
      ++i;
    return i - start;
  };
  // One run of 1 to 8 digits; false for none or more.
  auto read_word = [&](std::uint32_t& word) {
    std::size_t digits = 0;
    word = 0;
    for (int d; i < text.size() && (d = hex_digit(static_cast<wchar_t>(text[i]))) >= 0; ++i) {
      if (++digits > 8)
        return false;
      word = word << 4 | static_cast<std::uint32_t>(d);
    }
    return digits != 0;
  };

  std::uint32_t high = 0, low = 0;
  skip_space();
  if (!read_word(high) || skip_space() == 0 || !read_word(low))
    return 0;
  skip_space();
  if (i != text.size())
    return 0;
  return static_cast<std::uint64_t>(high) << 32 | low;
}

}  // namespace

std::uint64_t parse_update_date(std::string_view text) noexcept {
  return parse(text);
}

std::uint64_t parse_update_date(std::wstring_view text) noexcept {
  return parse(text);
}

std::string format_update_date(std::uint64_t file_time) {
  char text[24];
  std::snprintf(text, sizeof text, "%08X %08X", static_cast<unsigned>(file_time >> 32),
                static_cast<unsigned>(file_time & 0xFFFFFFFFu));
  return text;
}

}  // namespace strength
