#include "tracing/portable/trace_texts.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

namespace tracecore {
namespace {

// The tracer's tests read dates, times and directives back from its records;
// these are the edges they do not reach.
TEST(TraceTexts, YearsDirectivesAndPercentSigns) {
  EXPECT_EQ(date_record_text({2000, 12, 31}), L"12/31/00");
  EXPECT_EQ(narrow_string_directives(L"%-10s"), L"%-10hs");
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
