#include <gtest/gtest.h>

#include <vector>

#include "plugin/portable/cleanup_line.h"
#include "plugin/portable/resource_strings.h"
#include "plugin/portable/setting_text.h"

namespace plugin {
namespace {

TEST(SettingText, IntegersParseLikeTheSuiteWritesThem) {
  EXPECT_EQ(parse_setting_integer(L"42"), 42);
  EXPECT_EQ(parse_setting_integer(L"  -17abc"), -17);
  EXPECT_EQ(parse_setting_integer(L"+8"), 8);
  EXPECT_EQ(parse_setting_integer(L"abc"), 0);
  EXPECT_EQ(parse_setting_integer(L""), 0);
  EXPECT_EQ(parse_setting_integer(L"- 5"), 0);
  EXPECT_EQ(parse_setting_integer(L"99999999999"), INT32_MAX);
  EXPECT_EQ(parse_setting_integer(L"-99999999999"), INT32_MIN);
}

// Booleans are read through the settings library in settings_test.cpp; they
// are written as these texts.
TEST(SettingText, BooleansAreWrittenAsOneAndMinusOne) {
  EXPECT_STREQ(setting_text_of(true), L"1");
  EXPECT_STREQ(setting_text_of(false), L"-1");
}

// A string-table block as the resource compiler lays it out.
std::vector<std::uint8_t> block_of(const std::vector<std::u16string>& entries) {
  std::vector<std::uint8_t> block;
  for (const auto& text : entries) {
    block.push_back(static_cast<std::uint8_t>(text.size()));
    block.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    for (char16_t c : text) {
      block.push_back(static_cast<std::uint8_t>(c));
      block.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  return block;
}

TEST(ResourceStrings, FindsTheEntryOfItsBlock) {
  const auto block = block_of({u"zero", u"", u"two", u"three"});
  EXPECT_EQ(string_table_entry(block.data(), block.size(), 0), L"zero");
  EXPECT_EQ(string_table_entry(block.data(), block.size(), 2), L"two");
  EXPECT_EQ(string_table_entry(block.data(), block.size(), 3), L"three");
  EXPECT_EQ(string_table_entry(block.data(), block.size(), 1), std::nullopt) << "empty entry";
  EXPECT_EQ(string_table_entry(block.data(), block.size(), 4), std::nullopt) << "past the block";
  // A length running past the block's end is not read.
  auto cut = block;
  cut.resize(cut.size() - 2);
  EXPECT_EQ(string_table_entry(cut.data(), cut.size(), 3), std::nullopt);
  EXPECT_EQ(string_table_entry(cut.data(), cut.size(), 2), L"two");
}

TEST(ResourceStrings, ProductNamePlaceholder) {
  EXPECT_EQ(replace_product_name(L"<<%PN%>> keeps <<%PN%>> safe", L"Suite"),
            L"Suite keeps Suite safe");
  EXPECT_EQ(replace_product_name(L"no placeholder", L"Suite"), L"no placeholder");
  EXPECT_EQ(replace_product_name(L"<<%PN%>>", L"<<%PN%>>"), L"<<%PN%>>") << "no recursion";
  EXPECT_EQ(replace_product_name(L"<<%other%>> stays", L"Suite"), L"<<%other%>> stays");
}

TEST(CleanupLine, Columns) {
  EXPECT_EQ(cleanup_line(L"HKU", L"SOFTWARE\\A", 8, std::nullopt), L"HKU\tSOFTWARE\\A\t8\r\n");
  EXPECT_EQ(cleanup_line(L"HKU", L"SOFTWARE\\A", 1, L"LastQLCategory"),
            L"HKU\tSOFTWARE\\A\t1\tLastQLCategory\r\n");
  EXPECT_EQ(cleanup_line(L"HK", L"X", 5, L""), L"HK\tX\t5\t \r\n") << "empty name is a blank";
}

}  // namespace
}  // namespace plugin
