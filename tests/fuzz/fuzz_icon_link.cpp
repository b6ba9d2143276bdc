// The icon link finder on arbitrary page text (bytes read as Latin-1, the
// fallback of the page decoding), with the content-type checks on the first
// line and the address join of what it finds against a page address.
#include <cstdint>
#include <cstdlib>

#include "icons/portable/icon_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = icons::latin1_text(data, size);
  const std::wstring_view first_line = std::wstring_view(text).substr(0, text.find(L'\n'));
  std::wstring charset;
  if (!icons::is_html_content_type(first_line, charset) && !charset.empty())
    std::abort();
  (void)icons::is_icon_content_type(first_line);

  const auto link = icons::find_icon_link_in_text(text);
  if (link && (link->empty() || link->find(L'"') != std::wstring::npos))
    std::abort();
  if (const auto page = icons::split_url(first_line)) {
    const std::wstring url = icons::resolve_icon_url(*page, link.value_or(L""));
    if (url.empty())
      std::abort();
  }
  (void)icons::utf16_text(data, size, size % 2 == 0);
  return 0;
}
