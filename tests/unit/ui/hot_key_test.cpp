// The hot key's stored and displayed texts.
#include <gtest/gtest.h>

#include "ui/portable/hot_key.h"

namespace ui {
namespace {

TEST(HotKey, StoredTextsReadBackAndOthersGiveTheDefault) {
  const std::pair<hot_key_t, const wchar_t*> stored[] = {
      {kDefaultHotKey, L"Ctrl+Win+72"},
      {{116, kHotKeyAlt | kHotKeyShift}, L"Shift+Alt+116"},
      {{65535, kHotKeyModifierMask}, L"Ctrl+Shift+Alt+Win+65535"},
      {{32, 0}, L"32"}};
  for (const auto& [hot_key, text] : stored) {
    EXPECT_EQ(hot_key_text(hot_key), text);
    EXPECT_EQ(parse_hot_key(text), hot_key);
  }
  for (const wchar_t* text : {L"", L"Ctrl+Win+", L"Ctrl+0", L"Ctrl+65536", L"ctrl+72",
                              L"Ctrl+Ctrl+72", L"Ctrl++72", L"Ctrl+Win+H", L"Ctrl+72 ", L"+72"}) {
    bool parsed = true;
    EXPECT_EQ(hot_key_or_default(text, &parsed), kDefaultHotKey);
    EXPECT_FALSE(parsed) << text;
  }
}

TEST(HotKey, DisplayedTextShowsTheCodeOfAKeyWithoutName) {
  EXPECT_EQ(hot_key_display_text({200, kHotKeyShift | kHotKeyWin}, nullptr), L"Shift + Win + 200");
}

}  // namespace
}  // namespace ui
