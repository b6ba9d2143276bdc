// The value decodings of the template reader: percent and caret escapes,
// numbers (booleans are checked on the attributes), UTF-8 conversions and the names of file-load
// error codes.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "templates/portable/caret.h"
#include "templates/portable/manifest_errors.h"
#include "templates/portable/manifest_text.h"

namespace templates {
namespace {

TEST(PercentDecode, OnlyControlCharactersAndPercentAreDecoded) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a%2fb%0a%25", std::string("a%2fb\n%")},
      {"plain text", "plain text"},
      {"%41%5A", "%41%5a"},  // printable bytes stay escaped, digits lower-cased
      {"%1F%1f%00x", std::string("\x1f\x1f\0x", 4)},
      {"%7f%7F%20", "%7f%7f%20"},     // DEL and space are not control characters here
      {"%zz", "%33"},                 // letters beyond f: only the low four bits count
      {"%g0", std::string("\0", 1)},  // 'g' gives 16, of which only the low bits (0) count
      {"%G5", "\x05"},
      {"%%%", "%ee"},  // '%' as a digit: (0x25 & 0x0f) + 9 = 14
      {"ab%", "ab"},   // a final percent ends the text
      {"ab%4", "ab"},  // so does one with a single character after it
      {"%0a%", "\n"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(percent_decode(c.in), c.out) << c.in;
}

TEST(CaretDecode, NamesBetweenCaretAndSemicolon) {
  const struct {
    const char* in;
    const char* plain;
    const char* extended;
  } cases[] = {
      {"Inbox ^2dot; mail^up;x", "Inbox : mail^x", "Inbox : mail^x"},
      {"john^at;example^dot;com", "johnat;exampledot;com", "john@example.com"},
      {"^other;rest", "other;rest", "other;rest"},
      {"^;", ";", ";"},
      {"a^bc", "abc", "abc"},     // no semicolon: the rest without the caret
      {"a^b^c", "ab^c", "ab^c"},  // ... even when it holds more carets
      {"abc^", "abc^", "abc^"},   // a final caret stays
      {"^", "^", "^"},
      {"^UP;", "UP;", "UP;"},  // names are case-sensitive
      {"^up;^up;", "^^", "^^"},
      {"no carets", "no carets", "no carets"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(caret_decode(std::string(c.in)), c.plain) << c.in;
    EXPECT_EQ(caret_decode_ext(std::string(c.in)), c.extended) << c.in;
    const std::wstring wide(c.in, c.in + std::char_traits<char>::length(c.in));
    EXPECT_EQ(caret_decode_ext(wide), utf8_to_wide(c.extended)) << c.in;
  }
}

TEST(AttributeValues, Integers) {
  const struct {
    const char* in;
    int out;
  } integers[] = {
      {"", 0},
      {"42", 42},
      {"-7", -7},
      {"+5", 5},
      {" \t12abc", 12},
      {"abc", 0},
      {"-", 0},
      {"0x10", 0},
      {"65536", 65536},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999", INT_MIN},
  };
  for (const auto& c : integers)
    EXPECT_EQ(attribute_int(c.in), c.out) << c.in;
}

TEST(Utf8, ConvertsBothWays) {
  const std::string text =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC \xF0\x9F\x94\x91";  // "Grüße € 🔑"
  const std::wstring wide = utf8_to_wide(text);
  if constexpr (sizeof(wchar_t) == 2)
    EXPECT_EQ(wide.size(), 10u);  // the key is a surrogate pair
  else
    EXPECT_EQ(wide.size(), 9u);
  EXPECT_EQ(wide[2], L'\x00FC');
  EXPECT_EQ(wide_to_utf8(wide), text);
  // Malformed input: a stray continuation byte, a cut sequence, an overlong form.
  EXPECT_EQ(utf8_to_wide("a\x80!"), L"a\xFFFD!");
  EXPECT_EQ(utf8_to_wide("a\xE2\x82"), L"a\xFFFD");
  EXPECT_EQ(utf8_to_wide("\xC0\xAF"), L"\xFFFD");
  EXPECT_EQ(utf8_to_wide("\xED\xA0\x80"), L"\xFFFD");  // an encoded surrogate
}

// The named codes, the path and the code in the trace line are the loader
// tests'; codes without a name show their number.
TEST(FileloadError, UnnamedCodesShowTheirNumber) {
  EXPECT_EQ(errors::fileload_error::code_name(6), "[6]");
  EXPECT_EQ(errors::fileload_error::code_name(-1), "[-1]");
}

}  // namespace
}  // namespace templates
