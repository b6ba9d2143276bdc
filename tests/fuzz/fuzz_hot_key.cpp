// Fuzzes the stored hot-key text: any text is a hot key whose own text reads
// back as itself, or the default.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "ui/portable/hot_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  bool parsed = false;
  const ui::hot_key_t hot_key = ui::hot_key_or_default(text, &parsed);
  fuzzcheck::check(parsed || hot_key == ui::kDefaultHotKey);
  fuzzcheck::check(hot_key.key != 0 && (hot_key.modifiers & ~ui::kHotKeyModifierMask) == 0);
  fuzzcheck::check(ui::parse_hot_key(ui::hot_key_text(hot_key)) == hot_key);
  (void)ui::hot_key_display_text(hot_key, nullptr);
  return 0;
}
