#include "tracing/portable/trace_texts.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

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

TEST(TraceTexts, StringDirectivesTakeNarrowArguments) {
  EXPECT_EQ(narrow_string_directives(L"QL for: %s"), L"QL for: %hs");
  EXPECT_EQ(narrow_string_directives(L"%c|%-10s|%5.2s"), L"%hc|%-10hs|%5.2hs");
  // Escaped percent signs, other conversions and explicit lengths stay as they are.
  EXPECT_EQ(narrow_string_directives(L"100%%s %d %ls %hs %S"), L"100%%s %d %ls %hs %S");
  EXPECT_EQ(narrow_string_directives(L"0x%X, %d%"), L"0x%X, %d%");
}

TEST(TraceTexts, ColourMarker) {
  const struct {
    const wchar_t* text;
    std::optional<unsigned> colour;  // none: the text stays as it is
    const wchar_t* rest;
  } cases[] = {{L"'`I0A`'ready", 10u, L"ready"},
               {L"'`I04`'agent is not running", 4u, L"agent is not running"},
               {L"'`I1F`'too bright", {}, nullptr},
               {L"'`I0A`", {}, nullptr},
               {L"'`IZZ`'x", {}, nullptr}};
  for (const auto& c : cases) {
    std::wstring text = c.text;
    EXPECT_EQ(take_colour_marker(text), c.colour) << c.text;
    EXPECT_EQ(text, c.rest ? c.rest : c.text);
  }
}

TEST(TraceTexts, OsLines) {
  EXPECT_EQ(os_header_line(2, 5, 1), "OS: WindowsXP");
  EXPECT_EQ(os_header_line(1, 4, 90), "OS: WindowsMe");
  EXPECT_EQ(os_header_line(2, 6, 1), "OS: UNKNOWN OS(Major:6 Minor:1)");
}

// Edges the tracer's tests do not reach: DoTrace must be one whole day ahead,
// and a last error with facility bits is kept as it is.
TEST(TraceTexts, DoTraceDayAndLastErrorEdges) {
  const std::int64_t now = 1'800'000'000;
  EXPECT_TRUE(dotrace_switch_on(static_cast<std::uint32_t>(now + 86400), now));
  EXPECT_FALSE(dotrace_switch_on(static_cast<std::uint32_t>(now + 86399), now));
  EXPECT_EQ(hresult_from_last_error(0x00010002u), 0x00010002);
}

}  // namespace
}  // namespace tracecore
