// The built-in Base64 codec: standard vectors, the buffer protocol, bad input.
// Round trips of arbitrary bytes are the fuzz target's, and agreement with
// Crypt32 on random data is checked in base64_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/portable/base64_codec.h"

namespace crypto {
namespace {

using bytes_t = std::vector<std::uint8_t>;

std::wstring encode(const bytes_t& data) {
  std::size_t chars = 0;
  EXPECT_EQ(base64_encode(data.data(), data.size(), nullptr, &chars), kBase64Ok);
  std::wstring text(chars, L'#');
  EXPECT_EQ(base64_encode(data.data(), data.size(), text.data(), &chars), kBase64Ok);
  EXPECT_EQ(text[chars], L'\0');
  text.resize(chars);
  return text;
}

// The decoded bytes, or the error code as a one-element marker.
std::uint32_t decode(const std::wstring& text, bytes_t& out) {
  std::size_t size = 0;
  if (const auto error = base64_decode(text.data(), text.size(), nullptr, &size))
    return error;
  out.assign(size, 0xCC);
  const auto error = base64_decode(text.data(), text.size(), out.data(), &size);
  out.resize(size);
  return error;
}

bytes_t bytes_of(const char* text) {
  return bytes_t(text, text + std::char_traits<char>::length(text));
}

TEST(Base64Codec, StandardVectors) {
  const struct {
    const char* plain;
    const wchar_t* text;
  } vectors[] = {{"", L""},
                 {"f", L"Zg=="},
                 {"fo", L"Zm8="},
                 {"foo", L"Zm9v"},
                 {"foob", L"Zm9vYg=="},
                 {"fooba", L"Zm9vYmE="},
                 {"foobar", L"Zm9vYmFy"},
                 {"abc", L"YWJj"},
                 {"\xFB\xFF\xBF", L"+/+/"}};
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.plain);
    EXPECT_EQ(encode(bytes_of(v.plain)), v.text);
    bytes_t decoded;
    EXPECT_EQ(decode(v.text, decoded), kBase64Ok);
    EXPECT_EQ(decoded, bytes_of(v.plain));
  }
}

TEST(Base64Codec, DecoderStopsAtPaddingAndAcceptsUnpaddedEnds) {
  const struct {
    const wchar_t* text;
    const char* plain;
  } cases[] = {{L"YQ==garbage!*", "a"}, {L"YQ", "a"}, {L"YWI", "ab"},
               {L"YWJj=YWJj", "abc"},   {L"=", ""},   {L"YWJjZA=", "abcd"},
               {L"YWJjZA", "abcd"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    bytes_t decoded;
    EXPECT_EQ(decode(c.text, decoded), kBase64Ok);
    EXPECT_EQ(decoded, bytes_of(c.plain));
  }
}

TEST(Base64Codec, DecoderRejectsCharactersOutsideTheAlphabet) {
  const std::wstring bad[] = {
      L"YW*j",      L"YW Jj", L"YWJj\r\n", L"YWJ-", L"YWJ_",
      L"YW\x00E9j", L"Y",     L"YWJjY",    L"\t",   std::wstring(L"YW\0j", 4)};
  for (const auto& text : bad) {
    SCOPED_TRACE(testing::PrintToString(text));
    bytes_t decoded;
    EXPECT_EQ(decode(text, decoded), kBase64InvalidData);
  }
}

TEST(Base64Codec, TooSmallBuffersAreReportedWithTheSizeNeeded) {
  const bytes_t data = bytes_of("abcd");  // 8 characters and the terminator
  wchar_t buffer[16];
  for (std::size_t capacity : {0u, 1u, 8u}) {
    SCOPED_TRACE(capacity);
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    std::size_t chars = capacity;
    EXPECT_EQ(base64_encode(data.data(), data.size(), buffer, &chars), kBase64MoreData);
    EXPECT_EQ(chars, 9u);
    EXPECT_EQ(buffer[0], L'#');
  }
  std::size_t chars = 9;
  EXPECT_EQ(base64_encode(data.data(), data.size(), buffer, &chars), kBase64Ok);
  EXPECT_EQ(std::wstring(buffer), L"YWJjZA==");
  EXPECT_EQ(chars, 8u);

  const std::wstring text = L"Zm9vYmFy";
  std::uint8_t bytes[8] = {};
  std::size_t size = 5;
  EXPECT_EQ(base64_decode(text.data(), text.size(), bytes, &size), kBase64MoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(bytes[0], 0);
  size = 6;
  EXPECT_EQ(base64_decode(text.data(), text.size(), bytes, &size), kBase64Ok);
  EXPECT_EQ(bytes_t(bytes, bytes + size), bytes_of("foobar"));
}

}  // namespace
}  // namespace crypto
