#include "icons/portable/icon_link.h"

#include <algorithm>
#include <initializer_list>

namespace icons {
namespace {

wchar_t ascii_lower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool equals_ci(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return ascii_lower(x) == ascii_lower(y); });
}

bool starts_with_ci(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && equals_ci(text.substr(0, prefix.size()), prefix);
}

// The first occurrence of needle (lower case) at or after from, without regard
// to case; npos when none. The needles are short, so this stays linear.
std::size_t find_ci(std::wstring_view text, std::wstring_view needle, std::size_t from = 0) {
  if (needle.empty() || text.size() < needle.size())
    return std::wstring_view::npos;
  const std::size_t last = text.size() - needle.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (ascii_lower(text[i]) != needle[0])
      continue;
    std::size_t k = 1;
    while (k < needle.size() && ascii_lower(text[i + k]) == needle[k])
      ++k;
    if (k == needle.size())
      return i;
  }
  return std::wstring_view::npos;
}

bool is_space(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring_view trim(std::wstring_view s) {
  while (!s.empty() && (is_space(s.front()) || s.front() == L'\f' || s.front() == L'\v'))
    s.remove_prefix(1);
  while (!s.empty() && (is_space(s.back()) || s.back() == L'\f' || s.back() == L'\v'))
    s.remove_suffix(1);
  return s;
}

// The semicolon-separated parts of a content type, each trimmed.
std::vector<std::wstring_view> content_type_parts(std::wstring_view type) {
  std::vector<std::wstring_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t semicolon = type.find(L';', start);
    parts.push_back(trim(type.substr(start, semicolon - start)));
    if (semicolon == std::wstring_view::npos)
      return parts;
    start = semicolon + 1;
  }
}

std::wstring collapse_white_space(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_space(text[i]))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !is_space(text[i]))
      ++i;
    if (i > start) {
      if (!out.empty())
        out.push_back(L' ');
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

int hex_value(std::uint8_t c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::wstring site_root(const url_parts_t& page) {
  return page.scheme + L"://" + page.host;
}

// Scheme, host and, when it is not the scheme's default, the port.
std::wstring origin(const url_parts_t& page) {
  const bool default_port = (page.kind == scheme_kind_t::http && page.port == 80) ||
                            (page.kind == scheme_kind_t::https && page.port == 443);
  if (default_port || page.port == 0)
    return site_root(page);
  return site_root(page) + L":" + std::to_wstring(page.port);
}

}  // namespace

std::optional<url_parts_t> split_url(std::wstring_view url) {
  const std::size_t colon = url.find(L"://");
  if (colon == std::wstring_view::npos || colon == 0)
    return std::nullopt;
  url_parts_t parts;
  parts.scheme.assign(url.substr(0, colon));
  for (wchar_t c : parts.scheme) {
    const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                    (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
    if (!ok)
      return std::nullopt;
  }
  if (equals_ci(parts.scheme, L"http")) {
    parts.kind = scheme_kind_t::http;
    parts.port = 80;
  } else if (equals_ci(parts.scheme, L"https")) {
    parts.kind = scheme_kind_t::https;
    parts.port = 443;
  }
  std::wstring_view rest = url.substr(colon + 3);
  const std::size_t authority_end = rest.find_first_of(L"/?#");
  std::wstring_view authority = rest.substr(0, authority_end);
  std::wstring_view tail =
      authority_end == std::wstring_view::npos ? std::wstring_view() : rest.substr(authority_end);
  // User information is not part of the host.
  if (const std::size_t at = authority.rfind(L'@'); at != std::wstring_view::npos)
    authority.remove_prefix(at + 1);
  std::wstring_view host = authority;
  const std::size_t port_colon = authority.rfind(L':');
  const bool bracketed = !authority.empty() && authority.front() == L'[';
  if (port_colon != std::wstring_view::npos && (!bracketed || authority.find(L']') < port_colon)) {
    host = authority.substr(0, port_colon);
    const std::wstring_view digits = authority.substr(port_colon + 1);
    if (digits.empty() || digits.size() > 5)
      return std::nullopt;
    unsigned value = 0;
    for (wchar_t c : digits) {
      if (c < L'0' || c > L'9')
        return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > 65535)
      return std::nullopt;
    parts.port = static_cast<std::uint16_t>(value);
  }
  if (host.empty())
    return std::nullopt;
  parts.host.assign(host);
  const std::size_t path_end = tail.find_first_of(L"?#");
  parts.path.assign(tail.substr(0, path_end));
  if (parts.path.empty())
    parts.path = L"/";
  return parts;
}

bool is_html_content_type(std::wstring_view content_type, std::wstring& charset) {
  const auto parts = content_type_parts(content_type);
  if (!equals_ci(parts[0], L"text/html"))
    return false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t equals = parts[i].find(L'=');
    if (equals == std::wstring_view::npos)
      continue;
    if (equals_ci(trim(parts[i].substr(0, equals)), L"charset")) {
      charset.assign(trim(parts[i].substr(equals + 1)));
      break;
    }
  }
  return true;
}

bool is_icon_content_type(std::wstring_view content_type) {
  if (content_type.empty())
    return false;
  const std::wstring_view first = content_type_parts(content_type)[0];
  return equals_ci(first, L"image/x-icon") || equals_ci(first, L"image/vnd.microsoft.icon");
}

std::optional<std::wstring> find_icon_link_in_text(std::wstring_view text) {
  const std::size_t head = find_ci(text, L"<head>");
  if (head == std::wstring_view::npos)
    return std::nullopt;
  const std::size_t head_end = find_ci(text, L"</head>", head + 6);
  if (head_end == std::wstring_view::npos)
    return std::nullopt;
  const std::wstring head_text = collapse_white_space(text.substr(head, head_end + 7 - head));
  const std::wstring_view h = head_text;

  std::size_t marker = find_ci(h, L"rel=\"shortcut icon\"");
  if (marker == std::wstring_view::npos)
    marker = find_ci(h, L"rel=\"icon\"");
  if (marker == std::wstring_view::npos)
    return std::nullopt;

  std::size_t tag = std::wstring_view::npos;
  for (std::size_t at = find_ci(h, L"<link "); at != std::wstring_view::npos && at < marker;
       at = find_ci(h, L"<link ", at + 1))
    tag = at;
  if (tag == std::wstring_view::npos) {
    // No tag begins before the marker: the first tag of the head, when any.
    tag = find_ci(h, L"<link ");
    if (tag == std::wstring_view::npos)
      return std::nullopt;
  }

  const std::size_t href = find_ci(h, L"href=\"", tag);
  if (href == std::wstring_view::npos)
    return std::nullopt;
  const std::size_t value = href + 6;
  const std::size_t close = h.find(L'"', value);
  if (close == std::wstring_view::npos || close == value)
    return std::nullopt;
  return std::wstring(h.substr(value, close - value));
}

std::wstring favicon_url(const url_parts_t& page) {
  return site_root(page) + L"/favicon.ico";
}

std::wstring resolve_icon_url(const url_parts_t& base, std::wstring_view link) {
  if (link.empty())
    return favicon_url(base);
  if (starts_with_ci(link, base.scheme))
    return std::wstring(link);
  if (link.front() == L'/')
    return site_root(base) + std::wstring(link);
  const std::size_t slash = base.path.rfind(L'/');
  const std::wstring folder = slash == std::wstring::npos ? L"" : base.path.substr(0, slash);
  return site_root(base) + folder + L"/" + std::wstring(link);
}

std::wstring resolve_location(const url_parts_t& current, std::wstring_view location) {
  const std::size_t scheme_end = location.find(L"://");
  if (scheme_end != std::wstring_view::npos && location.find_first_of(L"/?#") > scheme_end)
    return std::wstring(location);
  if (location.substr(0, 2) == L"//")
    return current.scheme + L":" + std::wstring(location);
  if (!location.empty() && location.front() == L'/')
    return origin(current) + std::wstring(location);
  const std::size_t slash = current.path.rfind(L'/');
  const std::wstring folder = slash == std::wstring::npos ? L"" : current.path.substr(0, slash);
  return origin(current) + folder + L"/" + std::wstring(location);
}

std::optional<std::vector<std::uint8_t>> decode_quoted_printable(const std::uint8_t* data,
                                                                 std::size_t size) {
  std::vector<std::uint8_t> out;
  out.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t c = data[i];
    if (c != '=') {
      out.push_back(c);
      ++i;
      continue;
    }
    // A soft line break: "=" then CR LF or LF, with optional white space before
    // the line end.
    std::size_t k = i + 1;
    while (k < size && (data[k] == ' ' || data[k] == '\t'))
      ++k;
    if (k < size && data[k] == '\r' && k + 1 < size && data[k + 1] == '\n') {
      i = k + 2;
      continue;
    }
    if (k < size && data[k] == '\n') {
      i = k + 1;
      continue;
    }
    if (k == size) {
      i = k;  // "=" ending the body: a soft break without the line end
      continue;
    }
    const int high = i + 1 < size ? hex_value(data[i + 1]) : -1;
    const int low = i + 2 < size ? hex_value(data[i + 2]) : -1;
    if (high < 0 || low < 0)
      return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    i += 3;
  }
  return out;
}

std::wstring latin1_text(const std::uint8_t* data, std::size_t size) {
  std::wstring text(size, L'\0');
  for (std::size_t i = 0; i < size; ++i)
    text[i] = static_cast<wchar_t>(data[i]);
  return text;
}

unsigned utf16_code_page(std::wstring_view charset) {
  for (const wchar_t* name : {L"utf-16", L"utf-16le", L"unicode", L"ucs-2"})
    if (equals_ci(charset, name))
      return 1200;
  for (const wchar_t* name : {L"utf-16be", L"unicodefffe"})
    if (equals_ci(charset, name))
      return 1201;
  return 0;
}

std::wstring utf16_text(const std::uint8_t* data, std::size_t size, bool big_endian) {
  std::wstring text(size / 2, L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned a = data[2 * i];
    const unsigned b = data[2 * i + 1];
    text[i] = static_cast<wchar_t>(big_endian ? (a << 8 | b) : (b << 8 | a));
  }
  return text;
}

}  // namespace icons
