// A hot key as the settings keep it: a virtual-key code and a set of modifier
// bits, its stored text ("Ctrl+Win+72": modifier names in a fixed order, then
// the key's code in decimal, joined with '+') and the text shown to the user
// ("Ctrl + Win + H", the key's name supplied by the caller).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ui {

// Modifier bits, listed in the order the texts name them.
inline constexpr std::uint16_t kHotKeyCtrl = 0x02;
inline constexpr std::uint16_t kHotKeyShift = 0x01;
inline constexpr std::uint16_t kHotKeyAlt = 0x04;
inline constexpr std::uint16_t kHotKeyWin = 0x10;
inline constexpr std::uint16_t kHotKeyModifierMask =
    kHotKeyCtrl | kHotKeyShift | kHotKeyAlt | kHotKeyWin;

struct hot_key_t {
  std::uint16_t key = 0;        // virtual-key code; 0 for none
  std::uint16_t modifiers = 0;  // kHotKey* bits

  friend bool operator==(const hot_key_t&, const hot_key_t&) = default;
};

// Ctrl+Win+H, the hot key when none is stored or the stored text is not one.
inline constexpr hot_key_t kDefaultHotKey{72, kHotKeyCtrl | kHotKeyWin};
inline constexpr wchar_t kDefaultHotKeyText[] = L"Ctrl+Win+72";

// The stored text: the names of the known modifier bits that are set, then the
// key's code. Bits outside kHotKeyModifierMask are left out.
std::wstring hot_key_text(const hot_key_t& hot_key);

// The hot key of a stored text, or nothing when the text is not one: each
// part but the last a modifier name (each at most once, exact spelling), the
// last the key's code as decimal digits, 1 to 65535.
std::optional<hot_key_t> parse_hot_key(std::wstring_view text);

// The hot key of a stored text, kDefaultHotKey when it does not parse (the
// caller traces that; `parsed` tells it).
hot_key_t hot_key_or_default(std::wstring_view text, bool* parsed = nullptr);

// The displayed text: the modifier names and the key's name joined with
// " + ". The name comes from key_name; an empty name shows the key's code,
// and a key of 0 shows the modifiers only.
using key_name_fn = std::function<std::wstring(std::uint16_t key)>;
std::wstring hot_key_display_text(const hot_key_t& hot_key, const key_name_fn& key_name);

}  // namespace ui
