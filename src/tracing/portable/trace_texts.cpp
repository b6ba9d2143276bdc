#include "tracing/portable/trace_texts.h"

#include <cstdio>
#include <ctime>
#include <cwchar>

namespace tracecore {
namespace {

std::wstring wide_from_ascii(const char* text) {
  std::wstring out;
  for (; *text; ++text)
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
  return out;
}

// Converts seconds since 1970 to local broken-down time and back.
std::optional<std::int64_t> normalise_local(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  if (static_cast<std::int64_t>(t) != seconds)
    return std::nullopt;
  std::tm broken{};
  const std::tm* local = std::localtime(&t);
  if (local == nullptr)
    return std::nullopt;
  broken = *local;
  const std::time_t back = std::mktime(&broken);
  if (back == static_cast<std::time_t>(-1))
    return std::nullopt;
  return static_cast<std::int64_t>(back);
}

}  // namespace

std::wstring date_record_text(const clock_time_t& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d", t.month, t.day, t.year % 100);
  return wide_from_ascii(text);
}

std::wstring time_record_text(const clock_time_t& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                t.milliseconds);
  return wide_from_ascii(text);
}

std::wstring reopen_record_text(const clock_time_t& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%02d", t.month, t.day, t.year);
  return wide_from_ascii(text);
}

std::string header_timestamp_text(const clock_time_t& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d.%03d", t.month, t.day, t.year,
                t.hour, t.minute, t.second, t.milliseconds);
  return text;
}

bool dotrace_switch_on(std::uint32_t value, std::int64_t now_seconds) {
  if (value == 1)
    return true;
  const auto trigger = normalise_local(static_cast<std::int64_t>(value));
  if (!trigger)
    return false;
  const auto now = normalise_local(now_seconds);
  if (!now)
    return false;
  // Whole days ahead, truncated toward zero.
  return (*trigger - *now) / 86400 > 0;
}

std::wstring narrow_string_directives(std::wstring_view format) {
  std::wstring out;
  out.reserve(format.size() + 8);
  std::size_t i = 0;
  while (i < format.size()) {
    const wchar_t c = format[i];
    out.push_back(c);
    ++i;
    if (c != L'%')
      continue;
    if (i < format.size() && format[i] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    // Flags, width, precision.
    while (i < format.size() && std::wcschr(L"-+ #0123456789.*", format[i]) != nullptr &&
           format[i] != L'\0')
      out.push_back(format[i++]);
    bool has_length = false;
    while (i < format.size() && std::wcschr(L"hlLqjztwI", format[i]) != nullptr &&
           format[i] != L'\0') {
      has_length = true;
      out.push_back(format[i++]);
    }
    if (i < format.size() && (format[i] == L's' || format[i] == L'c') && !has_length)
      out.push_back(L'h');
  }
  return out;
}

std::optional<unsigned> take_colour_marker(std::wstring& text) {
  if (text.size() < 7 || text[0] != L'\'' || text[1] != L'`' || text[2] != L'I')
    return std::nullopt;
  auto hex = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9')
      return c - L'0';
    if (c >= L'a' && c <= L'f')
      return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
      return c - L'A' + 10;
    return -1;
  };
  const int high = hex(text[3]);
  const int low = hex(text[4]);
  if (high < 0 || low < 0)
    return std::nullopt;
  const unsigned colour = static_cast<unsigned>(high * 16 + low);
  if (colour > 15)
    return std::nullopt;
  text.erase(0, 7);
  return colour;
}

error_text_parts_t split_error_text(std::wstring_view text) {
  error_text_parts_t parts;
  const std::size_t blank = text.find(L' ');
  if (blank == std::wstring_view::npos) {
    parts.rest = std::wstring(text);
    return parts;
  }
  parts.has_blank = true;
  const std::wstring code(text.substr(0, blank));
  parts.code = std::wcstol(code.c_str(), nullptr, 10);
  parts.rest = std::wstring(text.substr(blank + 1));
  return parts;
}

std::string os_header_line(unsigned long platform_id, unsigned long major, unsigned long minor) {
  constexpr unsigned long kWin32Windows = 1;  // Windows 95, 98, Me
  constexpr unsigned long kWin32Nt = 2;
  if (platform_id == kWin32Nt) {
    if (major == 5 && minor == 1)
      return "OS: WindowsXP";
    if (major == 5 && minor == 2)
      return "OS: Server2003";
    if (major == 5)
      return "OS: Windows2000";
    if (major == 4)
      return "OS: NT4";
  } else if (platform_id == kWin32Windows) {
    if (minor == 10)
      return "OS: Windows98";
    if (minor == 90)
      return "OS: WindowsMe";
    if (minor == 0)
      return "OS: Windows95";
  }
  char text[64];
  std::snprintf(text, sizeof text, "OS: UNKNOWN OS(Major:%lu Minor:%lu)", major, minor);
  return text;
}

std::int32_t hresult_from_last_error(std::uint32_t error) {
  if ((error & 0x1FFF0000u) == 0 && static_cast<std::int32_t>(error) > 0)
    return static_cast<std::int32_t>(0x80070000u | (error & 0xFFFFu));
  return static_cast<std::int32_t>(error);
}

}  // namespace tracecore
