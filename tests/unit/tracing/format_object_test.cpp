#include "tracing/portable/format_object.h"

#include <gtest/gtest.h>

namespace tracecore {
namespace {

TEST(FormatObject, FlagsWidthsAndLengths) {
  EXPECT_EQ((format_t(L"[%5d|%-5d|%05d|%+d|% d]") % 42 % 42 % 42 % 42 % 42).str(),
            L"[   42|42   |00042|+42| 42]");
  EXPECT_EQ((format_t(L"%#x %#o %X") % 255u % 8u % 0xBEEFu).str(), L"0xff 010 BEEF");
  EXPECT_EQ((format_t(L"%hd %hu") % 70000 % 70000).str(), L"4464 4464");
  EXPECT_EQ((format_t(L"%d") % -1).str(), L"-1");
  EXPECT_EQ((format_t(L"%u") % -1).str(), L"4294967295") << "as printf reads it";
  EXPECT_EQ((format_t(L"%lu") % 4294967295u).str(), L"4294967295");
  EXPECT_EQ((format_t(L"%.3Lf|%8.2f") % 3.14159 % 2.5).str(), L"3.142|    2.50");
}

TEST(FormatObject, StringsAndCharacters) {
  EXPECT_EQ((format_t(L"%s and %s") % "narrow" % L"wide").str(), L"narrow and wide");
  EXPECT_EQ((format_t(L"[%-6s][%6s][%.2s]") % "ab" % "ab" % "abcdef").str(),
            L"[ab    ][    ab][ab]");
  EXPECT_EQ((format_t(L"%c%c") % 'o' % L'k').str(), L"ok");
  EXPECT_EQ((format_t(L"%s") % "caf\xC3\xA9").str(), L"caf\u00E9") << "narrow text is UTF-8";
  EXPECT_EQ((format_t(L"%s") % static_cast<const char*>(nullptr)).str(), L"(null)");
}

TEST(FormatObject, MissingAndSurplusArguments) {
  EXPECT_EQ((format_t(L"%d and %s") % 1).str(), L"1 and %s");
  EXPECT_EQ((format_t(L"plain") % 1 % 2).str(), L"plain");
  EXPECT_EQ(format_t(L"100%% sure, %").str(), L"100% sure, %");
  EXPECT_EQ((format_t("%d%%") % 7).str(), L"7%");
}

}  // namespace
}  // namespace tracecore
