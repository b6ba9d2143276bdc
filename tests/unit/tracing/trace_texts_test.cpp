#include "tracing/portable/trace_texts.h"

#include <gtest/gtest.h>

#include <ctime>

namespace tracecore {
namespace {

TEST(TraceTexts, TimeStampTexts) {
  const clock_time_t t{2026, 3, 7, 9, 5, 4, 12};
  EXPECT_EQ(date_record_text(t), L"03/07/26");
  EXPECT_EQ(time_record_text(t), L"09:05:04.012");
  EXPECT_EQ(reopen_record_text(t), L"03-07-2026");
  EXPECT_EQ(header_timestamp_text(t), "03/07/2026 09:05:04.012");
  EXPECT_EQ(date_record_text({2000, 12, 31}), L"12/31/00");
}

TEST(TraceTexts, DoTraceSwitchNeedsOneWholeDayAhead) {
  const std::int64_t now = 1'800'000'000;
  EXPECT_TRUE(dotrace_switch_on(1, now));
  EXPECT_FALSE(dotrace_switch_on(0, now));
  EXPECT_TRUE(dotrace_switch_on(static_cast<std::uint32_t>(now + 36 * 3600), now));
  EXPECT_FALSE(dotrace_switch_on(static_cast<std::uint32_t>(now + 20 * 3600), now));
  EXPECT_FALSE(dotrace_switch_on(static_cast<std::uint32_t>(now - 5 * 86400), now));
  EXPECT_TRUE(dotrace_switch_on(static_cast<std::uint32_t>(now + 86400), now));
  EXPECT_FALSE(dotrace_switch_on(static_cast<std::uint32_t>(now + 86399), now));
}

TEST(TraceTexts, StringDirectivesTakeNarrowArguments) {
  EXPECT_EQ(narrow_string_directives(L"QL for: %s"), L"QL for: %hs");
  EXPECT_EQ(narrow_string_directives(L"%c|%-10s|%5.2s"), L"%hc|%-10hs|%5.2hs");
  // Escaped percent signs, other conversions and explicit lengths stay as they are.
  EXPECT_EQ(narrow_string_directives(L"100%%s %d %ls %hs %S"), L"100%%s %d %ls %hs %S");
  EXPECT_EQ(narrow_string_directives(L"0x%X, %d%"), L"0x%X, %d%");
}

TEST(TraceTexts, ColourMarker) {
  std::wstring ready = L"'`I0A`'ready";
  EXPECT_EQ(take_colour_marker(ready), 10u);
  EXPECT_EQ(ready, L"ready");

  std::wstring too_bright = L"'`I1F`'ready";
  EXPECT_FALSE(take_colour_marker(too_bright));
  EXPECT_EQ(too_bright, L"'`I1F`'ready");

  std::wstring red = L"'`I04`'agent is not running";
  EXPECT_EQ(take_colour_marker(red), 4u);
  EXPECT_EQ(red, L"agent is not running");

  std::wstring short_text = L"'`I0A`";
  EXPECT_FALSE(take_colour_marker(short_text));
  std::wstring not_hex = L"'`IZZ`'x";
  EXPECT_FALSE(take_colour_marker(not_hex));
}

TEST(TraceTexts, ErrorTextSplitsAtFirstBlank) {
  auto parts = split_error_text(L"-2147024894 CFoo::Open file");
  EXPECT_TRUE(parts.has_blank);
  EXPECT_EQ(parts.code, -2147024894L);
  EXPECT_EQ(parts.rest, L"CFoo::Open file");
  parts = split_error_text(L"0 plain");
  EXPECT_EQ(parts.code, 0);
  EXPECT_EQ(parts.rest, L"plain");
  EXPECT_FALSE(split_error_text(L"noblank").has_blank);
}

TEST(TraceTexts, OsLines) {
  EXPECT_EQ(os_header_line(2, 5, 1), "OS: WindowsXP");
  EXPECT_EQ(os_header_line(2, 5, 2), "OS: Server2003");
  EXPECT_EQ(os_header_line(2, 5, 0), "OS: Windows2000");
  EXPECT_EQ(os_header_line(2, 4, 0), "OS: NT4");
  EXPECT_EQ(os_header_line(1, 4, 10), "OS: Windows98");
  EXPECT_EQ(os_header_line(1, 4, 90), "OS: WindowsMe");
  EXPECT_EQ(os_header_line(1, 4, 0), "OS: Windows95");
  EXPECT_EQ(os_header_line(2, 6, 1), "OS: UNKNOWN OS(Major:6 Minor:1)");
}

TEST(TraceTexts, LastErrorBecomesHresult) {
  EXPECT_EQ(hresult_from_last_error(2), static_cast<std::int32_t>(0x80070002u));
  EXPECT_EQ(hresult_from_last_error(0), 0);
  EXPECT_EQ(hresult_from_last_error(0x80004005u), static_cast<std::int32_t>(0x80004005u));
  EXPECT_EQ(hresult_from_last_error(0x00010002u), 0x00010002);  // facility bits set: unchanged
}

}  // namespace
}  // namespace tracecore
