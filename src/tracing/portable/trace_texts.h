// Texts and rules of the tracer that need no operating system: time stamp
// texts, the tracing switch, format rewriting, and the console line rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tracecore {

// Broken-down local time, the fields of a Windows SYSTEMTIME that the tracer uses.
struct clock_time_t {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

std::wstring date_record_text(const clock_time_t& t);      // 't': "MM/DD/YY"
std::wstring time_record_text(const clock_time_t& t);      // 'T': "HH:MM:SS.mmm"
std::wstring reopen_record_text(const clock_time_t& t);    // 'N': "MM-DD-YYYY"
std::string header_timestamp_text(const clock_time_t& t);  // "MM/DD/YYYY HH:MM:SS.mmm"

// The "DoTrace" switch: 1 traces; any other value is a point in time (seconds
// since 1970, UTC) that must lie at least one whole day ahead of now. Both
// times are normalised through local broken-down time.
bool dotrace_switch_on(std::uint32_t value, std::int64_t now_seconds);

// Rewrites a printf format so that every %s and %c directive without a length
// modifier takes narrow arguments (an 'h' before the conversion).
std::wstring narrow_string_directives(std::wstring_view format);

// Message texts are cut to this many characters.
inline constexpr std::size_t kMaxMessageChars = 399;

// The console colour marker: ' ` I, two hex digits, ` '. Returns the colour and
// strips the marker when the digits name a console colour (0 to 15).
std::optional<unsigned> take_colour_marker(std::wstring& text);

// Splits an error record's text "code rest" at its first blank.
struct error_text_parts_t {
  bool has_blank = false;
  long code = 0;
  std::wstring rest;
};
error_text_parts_t split_error_text(std::wstring_view text);

// "OS: ..." header line for the version numbers of GetVersionEx.
std::string os_header_line(unsigned long platform_id, unsigned long major, unsigned long minor);

// HRESULT for a Win32 last error, as trace_lasterror records it.
std::int32_t hresult_from_last_error(std::uint32_t error);

}  // namespace tracecore
