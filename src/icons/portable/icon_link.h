// The text side of finding a site's icon: web addresses split and joined,
// HTTP content types, the icon link in a page's head, and the
// quoted-printable transfer decoding. Platform-free.
//
//   auto page = icons::split_url(L"https://example.com/a/b/page.html");
//   auto link = icons::find_icon_link_in_text(page_text);        // L"icon.ico"
//   auto url = icons::resolve_icon_url(*page, link.value_or(L"")); // .../a/b/icon.ico
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace icons {

enum class scheme_kind_t { http, https, other };

// A web address split into its parts; the query and fragment are dropped.
struct url_parts_t {
  std::wstring scheme;  // as written, e.g. "HTTP"
  scheme_kind_t kind = scheme_kind_t::other;
  std::wstring host;
  std::uint16_t port = 0;  // the scheme's default when the address names none
  std::wstring path;       // begins with "/"; "/" when the address has none
};

// nullopt when the address has no "scheme://", no host, or a bad port number.
std::optional<url_parts_t> split_url(std::wstring_view url);

// True for the schemes a fetch may use: http and https.
inline bool is_web_scheme(const url_parts_t& parts) {
  return parts.kind != scheme_kind_t::other;
}

// Content type "text/html" (any case) with parameters; charset receives the
// first "charset" parameter's value, or stays empty.
bool is_html_content_type(std::wstring_view content_type, std::wstring& charset);

// Content type "image/x-icon" or "image/vnd.microsoft.icon" (any case).
bool is_icon_content_type(std::wstring_view content_type);

// The href of the icon link in the head of a page's text: the last "<link "
// that begins before the rel="shortcut icon" (else rel="icon") marker, its
// double-quoted href. nullopt when the head, the marker, the tag or a
// non-empty value is missing. Linear in the text's length.
std::optional<std::wstring> find_icon_link_in_text(std::wstring_view text);

// The address of the icon for a page whose base address is base: the link when
// it begins with the page's scheme name (any case); a root-relative link on the
// page's host; otherwise the link beside the base path's last slash. An empty
// link gives "/favicon.ico" on the page's host. The page's port and query are
// not carried over.
std::wstring resolve_icon_url(const url_parts_t& base, std::wstring_view link);

// The address a redirect's Location names, against the address that answered:
// absolute, protocol-relative, root-relative or beside the path's last slash.
std::wstring resolve_location(const url_parts_t& current, std::wstring_view location);

// "scheme://host/favicon.ico" of a page.
std::wstring favicon_url(const url_parts_t& page);

// Quoted-printable decoding: "=XX" (hex digits in either case) is a byte,
// "=" at the end of a line a soft break, every other byte itself. nullopt for
// an "=" followed by anything else.
std::optional<std::vector<std::uint8_t>> decode_quoted_printable(const std::uint8_t* data,
                                                                 std::size_t size);

// The text of a page in a single-byte character set whose bytes are the first
// 256 code points (the fallback when no conversion service knows the charset).
std::wstring latin1_text(const std::uint8_t* data, std::size_t size);

// The code page of the UTF-16 charset names (1200 little-endian, 1201
// big-endian), 0 for any other name. Windows' conversion service knows them;
// Wine's knows only "unicode", so the page decoding asks here when the
// service does not know a name.
unsigned utf16_code_page(std::wstring_view charset);

// UTF-16 text of little- (or, swapped, big-) endian bytes; an odd last byte is
// dropped.
std::wstring utf16_text(const std::uint8_t* data, std::size_t size, bool big_endian);

}  // namespace icons
