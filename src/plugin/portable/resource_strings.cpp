#include "plugin/portable/resource_strings.h"

namespace plugin {

std::optional<std::wstring> string_table_entry(const std::uint8_t* block,
                                               std::size_t size,
                                               unsigned index) {
  std::size_t offset = 0;
  auto read_unit = [&](std::size_t at) {
    return static_cast<std::uint16_t>(block[at] | (block[at + 1] << 8));
  };
  for (unsigned entry = 0; entry <= index && entry < 16; ++entry) {
    if (offset + 2 > size)
      return std::nullopt;
    const std::size_t length = read_unit(offset);
    offset += 2;
    if (length * 2 > size - offset)
      return std::nullopt;
    if (entry == index) {
      if (length == 0)
        return std::nullopt;
      std::wstring text(length, L'\0');
      for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<wchar_t>(read_unit(offset + 2 * i));
      return text;
    }
    offset += length * 2;
  }
  return std::nullopt;
}

std::wstring replace_product_name(std::wstring text, std::wstring_view product_name) {
  if (text.find(L"<<%") == std::wstring::npos)
    return text;
  constexpr std::wstring_view kPlaceholder = L"<<%PN%>>";
  std::size_t at = 0;
  while ((at = text.find(kPlaceholder, at)) != std::wstring::npos) {
    text.replace(at, kPlaceholder.size(), product_name);
    at += product_name.size();
  }
  return text;
}

}  // namespace plugin
