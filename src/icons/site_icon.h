// Finding a site's icon over HTTP and storing it in the icon cache. Runs on the
// icon finder's worker thread only, one request at a time, synchronously:
//
//   if (icons::DownloadSiteIcon(L"https://mail.example/login", L"id42"))
//     ...  // IconCachePath(L"id42") now holds the icon bytes as served
//
// Only http and https are fetched (pages, icons and redirects); at most five
// redirects are followed, never from https to http.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "icons/portable/icon_file.h"
#include "icons/portable/icon_link.h"

namespace icons {

// The bounds of one fetch. The defaults are the product's; tests shorten them.
struct fetch_limits_t {
  DWORD resolve_ms = 10000;
  DWORD connect_ms = 10000;
  DWORD send_ms = 10000;
  DWORD receive_ms = 15000;
  DWORD fetch_ms = 30000;  // the whole fetch, checked between reads
  int max_redirects = 5;
  int max_resends = 3;  // of ERROR_WINHTTP_RESEND_REQUEST
};

// Pages are read up to this size and searched there.
inline constexpr std::size_t kMaxPageBytes = 384 * 1024;

struct free_deleter_t {
  void operator()(void* p) const noexcept { std::free(p); }
};
using heap_bytes_t = std::unique_ptr<std::uint8_t, free_deleter_t>;

// What a successful fetch gives: the body (a C runtime heap buffer), its size,
// the Content-Type (empty when absent) and the base address (the Content-Base
// header, or the scheme, host and path of the request that answered).
struct fetch_result_t {
  heap_bytes_t body;
  std::size_t size = 0;
  std::wstring content_type;
  std::wstring base_url;
};

// How a body larger than the cap is treated: cut at the cap (pages) or
// refused (icons; a larger Content-Length is refused unread).
enum class over_cap_t { cut, refuse };

// GET url: true for status 200 with at least one body byte whose transfer
// decoding succeeded. The user's Internet proxy settings apply per request.
bool HttpGetResource(const std::wstring& url,
                     fetch_result_t& result,
                     std::size_t cap,
                     over_cap_t over_cap,
                     const fetch_limits_t& limits = {});

inline bool IsHtmlContentType(const std::wstring& content_type, std::wstring& charset) {
  return is_html_content_type(content_type, charset);
}
inline bool IsIconContentType(const std::wstring& content_type) {
  return is_icon_content_type(content_type);
}

// The page's text in the named charset through the system's character-set
// conversion service (ISO 8859-1 for a charset it does not know; UTF-16 in
// either byte order directly). Needs COM on the calling thread.
HRESULT DecodePageText(const std::wstring& charset,
                       const std::uint8_t* bytes,
                       std::size_t size,
                       std::wstring& text);

// The href of the page's icon link; false when the page has none.
bool FindIconLink(const std::uint8_t* bytes,
                  std::size_t size,
                  const std::wstring& charset,
                  std::wstring& icon_url);

// Fetches the page, finds its icon (or falls back to "/favicon.ico"), fetches
// the icon and writes it to the cache file of unique_id when it is labelled as
// an icon and its bytes pass the cached-icon checks. True when the file was
// written.
bool DownloadSiteIcon(const std::wstring& page_url,
                      const std::wstring& unique_id,
                      const fetch_limits_t& limits = {});

}  // namespace icons
