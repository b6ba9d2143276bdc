// The hot key's stored and displayed texts.
#include <gtest/gtest.h>

#include <string>

#include "ui/portable/hot_key.h"

namespace ui {
namespace {

struct stored_case_t {
  hot_key_t hot_key;
  const wchar_t* text;
};

TEST(HotKey, StoredTextNamesModifiersInTheirOrderThenTheCode) {
  const stored_case_t cases[] = {
      {{72, kHotKeyCtrl | kHotKeyWin}, L"Ctrl+Win+72"},
      {{116, kHotKeyAlt | kHotKeyShift}, L"Shift+Alt+116"},
      {{65535, kHotKeyModifierMask}, L"Ctrl+Shift+Alt+Win+65535"},
      {{32, 0}, L"32"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hot_key_text(c.hot_key), c.text);
    EXPECT_EQ(parse_hot_key(c.text), c.hot_key) << std::wstring(c.text);
  }
  // Bits the text has no name for are left out.
  EXPECT_EQ(hot_key_text({72, 0x0100 | kHotKeyCtrl}), L"Ctrl+72");
  // Modifiers in another order still read.
  EXPECT_EQ(parse_hot_key(L"Win+Ctrl+72"), kDefaultHotKey);
}

TEST(HotKey, TextsThatAreNoHotKeyGiveTheDefault) {
  const wchar_t* const bad[] = {L"",
                                L"Ctrl+Win+",
                                L"Ctrl+Win+0",
                                L"Ctrl+Win+65536",
                                L"ctrl+72",
                                L"Ctrl+Ctrl+72",
                                L"Ctrl++72",
                                L"Ctrl+Win+H",
                                L" Ctrl+72",
                                L"Ctrl+72 ",
                                L"+72",
                                L"Ctrl+Win+-5",
                                L"99999999999999999999"};
  for (const wchar_t* text : bad) {
    bool parsed = true;
    EXPECT_EQ(hot_key_or_default(text, &parsed), kDefaultHotKey) << std::wstring(text);
    EXPECT_FALSE(parsed) << std::wstring(text);
  }
  bool parsed = false;
  EXPECT_EQ(hot_key_or_default(L"Alt+9", &parsed), (hot_key_t{9, kHotKeyAlt}));
  EXPECT_TRUE(parsed);
  EXPECT_EQ(std::wstring(kDefaultHotKeyText), hot_key_text(kDefaultHotKey));
}

TEST(HotKey, DisplayedTextJoinsNamesWithSpacedPlusSigns) {
  const key_name_fn names = [](std::uint16_t key) {
    return key == 72 ? std::wstring(L"H") : key == 116 ? std::wstring(L"F5") : std::wstring();
  };
  EXPECT_EQ(hot_key_display_text(kDefaultHotKey, names), L"Ctrl + Win + H");
  EXPECT_EQ(hot_key_display_text({116, kHotKeyAlt | kHotKeyShift}, names), L"Shift + Alt + F5");
  EXPECT_EQ(hot_key_display_text({200, 0}, names), L"200");  // no name: the code
  EXPECT_EQ(hot_key_display_text({0, kHotKeyCtrl | kHotKeyWin}, names), L"Ctrl + Win");
  EXPECT_EQ(hot_key_display_text({72, kHotKeyShift}, nullptr), L"Shift + 72");
}

}  // namespace
}  // namespace ui
