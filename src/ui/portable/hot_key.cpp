#include "ui/portable/hot_key.h"

#include <array>

namespace ui {
namespace {

struct modifier_name_t {
  std::uint16_t bit;
  const wchar_t* name;
};

constexpr std::array<modifier_name_t, 4> kModifierNames{{
    {kHotKeyCtrl, L"Ctrl"},
    {kHotKeyShift, L"Shift"},
    {kHotKeyAlt, L"Alt"},
    {kHotKeyWin, L"Win"},
}};

std::wstring join_modifiers(std::uint16_t modifiers, std::wstring_view separator) {
  std::wstring text;
  for (const auto& modifier : kModifierNames) {
    if ((modifiers & modifier.bit) == 0)
      continue;
    if (!text.empty())
      text += separator;
    text += modifier.name;
  }
  return text;
}

// 1 to 65535 written in decimal digits only.
std::optional<std::uint16_t> parse_key_code(std::wstring_view digits) {
  if (digits.empty())
    return std::nullopt;
  std::uint32_t value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - L'0');
    if (value > 0xFFFF)
      return std::nullopt;
  }
  if (value == 0)
    return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::wstring hot_key_text(const hot_key_t& hot_key) {
  std::wstring text = join_modifiers(hot_key.modifiers, L"+");
  if (!text.empty())
    text += L'+';
  text += std::to_wstring(static_cast<unsigned long>(hot_key.key));
  return text;
}

std::optional<hot_key_t> parse_hot_key(std::wstring_view text) {
  hot_key_t hot_key;
  for (;;) {
    const std::size_t plus = text.find(L'+');
    if (plus == std::wstring_view::npos)
      break;
    const std::wstring_view part = text.substr(0, plus);
    text.remove_prefix(plus + 1);
    std::uint16_t bit = 0;
    for (const auto& modifier : kModifierNames)
      if (part == modifier.name)
        bit = modifier.bit;
    if (bit == 0 || (hot_key.modifiers & bit) != 0)
      return std::nullopt;
    hot_key.modifiers |= bit;
  }
  const auto key = parse_key_code(text);
  if (!key)
    return std::nullopt;
  hot_key.key = *key;
  return hot_key;
}

hot_key_t hot_key_or_default(std::wstring_view text, bool* parsed) {
  const auto hot_key = parse_hot_key(text);
  if (parsed != nullptr)
    *parsed = hot_key.has_value();
  return hot_key.value_or(kDefaultHotKey);
}

std::wstring hot_key_display_text(const hot_key_t& hot_key, const key_name_fn& key_name) {
  std::wstring text = join_modifiers(hot_key.modifiers, L" + ");
  if (hot_key.key == 0)
    return text;
  std::wstring name = key_name ? key_name(hot_key.key) : std::wstring();
  if (name.empty())
    name = std::to_wstring(static_cast<unsigned long>(hot_key.key));
  if (!text.empty())
    text += L" + ";
  return text + name;
}

}  // namespace ui
