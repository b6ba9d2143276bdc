// HttpGetResource: one synchronous WinHTTP GET with the user's proxy settings,
// redirects followed here (so that each hop's scheme can be checked), the
// body read into one growing C runtime heap buffer and transfer-decoded.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <optional>

#include "crypto/base64.h"
#include "icons/site_icon.h"
#include "plugin/branding.h"
#include "support/unique_any.h"
#include "tracing/trace.h"

namespace icons {
namespace {

using unique_hinternet =
    support::unique_any<HINTERNET, decltype(&::WinHttpCloseHandle), ::WinHttpCloseHandle>;

void free_global(void* p) {
  if (p != nullptr)
    ::GlobalFree(p);
}

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The text of a response header; empty when the response has none.
std::wstring query_header(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0)
    return {};
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
    return {};
  text.resize(bytes / sizeof(wchar_t));
  return text;
}

// Sets the proxy the user's Internet settings ask for on the request: the
// automatic configuration's answer for the address, else the static proxy;
// without settings the request goes direct.
void apply_user_proxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    tracecore::trace_lasterror("WinHttpGetIEProxyConfigForCurrentUser");
    return;
  }
  support::scope_exit release([&] {
    free_global(config.lpszAutoConfigUrl);
    free_global(config.lpszProxy);
    free_global(config.lpszProxyBypass);
  });
  tracecore::trace_format(
      "Proxy settings: auto-detect = %d, script = %ls, proxy = %ls, bypass = %ls",
      config.fAutoDetect ? 1 : 0, config.lpszAutoConfigUrl ? config.lpszAutoConfigUrl : L"",
      config.lpszProxy ? config.lpszProxy : L"",
      config.lpszProxyBypass ? config.lpszProxyBypass : L"");
  bool set = false;
  // Automatic detection that just failed (no proxy announced on this network)
  // is not tried again for a minute: every detection waits for its lookups.
  static std::atomic<ULONGLONG> detection_failed_at{0};
  const ULONGLONG failed_at = detection_failed_at.load();
  const bool detect_again = failed_at == 0 || ::GetTickCount64() - failed_at > 60000;
  if (config.fAutoDetect && config.lpszAutoConfigUrl == nullptr && !detect_again) {
    tracecore::trace_text("Automatic proxy detection failed within the last minute: not repeated");
  } else if (config.fAutoDetect || config.lpszAutoConfigUrl != nullptr) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (config.fAutoDetect) {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (config.lpszAutoConfigUrl != nullptr) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = config.lpszAutoConfigUrl;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (::WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
      tracecore::trace_format("Proxy for the address: access type %u, proxy = %ls",
                              static_cast<unsigned>(info.dwAccessType),
                              info.lpszProxy ? info.lpszProxy : L"");
      set = ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info) != FALSE;
      free_global(info.lpszProxy);
      free_global(info.lpszProxyBypass);
      detection_failed_at = 0;
    } else if (::GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED &&
               config.lpszAutoConfigUrl == nullptr) {
      tracecore::trace_lasterror("WinHttpGetProxyForUrl");
      detection_failed_at = std::max<ULONGLONG>(::GetTickCount64(), 1);
    }
  }
  if (!set && config.lpszProxy != nullptr) {
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.lpszProxy,
                            config.lpszProxyBypass};
    tracecore::trace_format("Static proxy = %ls", config.lpszProxy);
    ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
  }
}

// Whether a Content-Length value names more than cap bytes (a value that is
// no number counts as more).
bool content_length_over(const std::wstring& length, std::size_t cap) {
  std::uint64_t value = 0;
  for (wchar_t c : length) {
    if (c < L'0' || c > L'9' || value > (1ull << 40))
      return true;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return value > cap;
}

// A host written as an address (IPv4 digits and dots, or IPv6) needs no name
// lookup.
bool is_address_literal(const std::wstring& host) {
  if (host.find(L':') != std::wstring::npos)
    return true;
  return !host.empty() && std::all_of(host.begin(), host.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || c == L'.';
  });
}

bool is_redirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class fetch_clock_t {
 public:
  explicit fetch_clock_t(DWORD limit_ms) : m_start(::GetTickCount64()), m_limit(limit_ms) {}
  bool expired() const { return ::GetTickCount64() - m_start > m_limit; }

 private:
  ULONGLONG m_start;
  ULONGLONG m_limit;
};

// Reads the body into a growing heap buffer; false on a failing call, an
// allocation failure, the fetch's time running out or (refuse) a body over cap.
bool read_body(HINTERNET request,
               std::size_t cap,
               over_cap_t over_cap,
               const fetch_clock_t& clock,
               fetch_result_t& result) {
  heap_bytes_t body;
  std::size_t size = 0;
  for (;;) {
    if (clock.expired()) {
      tracecore::trace_error("The fetch took too long", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
      return false;
    }
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) {
      tracecore::trace_lasterror("WinHttpQueryDataAvailable");
      return false;
    }
    if (available == 0)
      break;
    std::size_t wanted = available;
    if (size + wanted > cap) {
      if (over_cap == over_cap_t::refuse) {
        tracecore::trace_format("The body is larger than %u bytes: refused",
                                static_cast<unsigned>(cap));
        return false;
      }
      wanted = cap - size;
      if (wanted == 0)
        break;  // pages are searched within the cap
    }
    auto* grown = static_cast<std::uint8_t*>(std::realloc(body.get(), size + wanted + 1));
    if (grown == nullptr) {
      tracecore::trace_error("realloc", E_OUTOFMEMORY);
      return false;
    }
    body.release();
    body.reset(grown);
    DWORD got = 0;
    if (!::WinHttpReadData(request, body.get() + size, static_cast<DWORD>(wanted), &got)) {
      tracecore::trace_lasterror("WinHttpReadData");
      return false;
    }
    if (got == 0)
      break;
    size += got;
  }
  result.body = std::move(body);
  result.size = size;
  return true;
}

// The body after its Content-Transfer-Encoding, in a new buffer of the body's
// size; false when it does not decode.
bool transfer_decode(const std::wstring& encoding, fetch_result_t& result) {
  const std::wstring kind = lower(encoding);
  std::vector<std::uint8_t> decoded;
  const std::wstring_view name = kind;
  if (name == L"quoted-printable") {
    auto bytes = decode_quoted_printable(result.body.get(), result.size);
    if (!bytes)
      return false;
    decoded = std::move(*bytes);
  } else if (name == L"base64") {
    std::wstring text;
    text.reserve(result.size);
    for (std::size_t i = 0; i < result.size; ++i) {
      const std::uint8_t c = result.body.get()[i];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
        text.push_back(static_cast<wchar_t>(c));
    }
    crypto::_auto_heap_mem<unsigned char> bytes;
    if (FAILED(crypto::Base64Decode(text, bytes)))
      return false;
    decoded.assign(bytes.get(), bytes.get() + bytes.size());
  } else {
    return true;
  }
  heap_bytes_t buffer(static_cast<std::uint8_t*>(std::malloc(result.size)));
  if (buffer == nullptr)
    return false;
  if (!decoded.empty())
    std::memcpy(buffer.get(), decoded.data(), decoded.size());
  result.body = std::move(buffer);
  result.size = decoded.size();
  return result.size > 0;
}

}  // namespace

bool HttpGetResource(const std::wstring& url,
                     fetch_result_t& result,
                     std::size_t cap,
                     over_cap_t over_cap,
                     const fetch_limits_t& limits) {
  tracecore::trace_scope scope("HttpGetResource");
  result = fetch_result_t{};
  const fetch_clock_t clock(limits.fetch_ms);
  std::wstring current = url;
  std::optional<url_parts_t> parts = split_url(current);
  if (!parts) {
    tracecore::trace_format("Not a web address: %ls", current.c_str());
    return false;
  }
  if (!is_web_scheme(*parts)) {
    tracecore::trace_format("Only http and https are fetched: %ls", current.c_str());
    return false;
  }

  const std::wstring agent = plugin::CBranding::ProductName();
  unique_hinternet session(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    tracecore::trace_lasterror("WinHttpOpen");
    return false;
  }
  for (int redirects = 0;; ++redirects) {
    // A bounded name lookup runs on a thread of its own (one started for each
    // fetch under Wine): an address needs none, so it gets no bound.
    ::WinHttpSetTimeouts(session.get(),
                         is_address_literal(parts->host) ? 0 : static_cast<int>(limits.resolve_ms),
                         static_cast<int>(limits.connect_ms), static_cast<int>(limits.send_ms),
                         static_cast<int>(limits.receive_ms));
    unique_hinternet connection(
        ::WinHttpConnect(session.get(), parts->host.c_str(), parts->port, 0));
    if (!connection) {
      tracecore::trace_lasterror("WinHttpConnect");
      return false;
    }
    const DWORD flags = parts->kind == scheme_kind_t::https ? WINHTTP_FLAG_SECURE : 0;
    unique_hinternet request(::WinHttpOpenRequest(connection.get(), L"GET", parts->path.c_str(),
                                                  nullptr, WINHTTP_NO_REFERER,
                                                  WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) {
      tracecore::trace_lasterror("WinHttpOpenRequest");
      return false;
    }
    // The wait for the response's headers has a bound of its own.
    DWORD response_ms = limits.receive_ms;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_ms,
                       sizeof response_ms);
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    apply_user_proxy(session.get(), request.get(), current);

    for (int resends = 0;; ++resends) {
      if (::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
          ::WinHttpReceiveResponse(request.get(), nullptr))
        break;
      const DWORD error = ::GetLastError();
      if (error == ERROR_WINHTTP_RESEND_REQUEST && resends < limits.max_resends)
        continue;
      tracecore::trace_error("WinHttpSendRequest", static_cast<long>(HRESULT_FROM_WIN32(error)));
      return false;
    }

    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                               WINHTTP_NO_HEADER_INDEX)) {
      tracecore::trace_lasterror("WinHttpQueryHeaders");
      return false;
    }
    if (is_redirect(status)) {
      const std::wstring location = query_header(request.get(), WINHTTP_QUERY_LOCATION);
      if (location.empty() || redirects >= limits.max_redirects) {
        tracecore::trace_format("Redirect %u not followed (%d so far): %ls",
                                static_cast<unsigned>(status), redirects, location.c_str());
        return false;
      }
      const std::wstring next = resolve_location(*parts, location);
      const auto next_parts = split_url(next);
      if (!next_parts || !is_web_scheme(*next_parts) ||
          (parts->kind == scheme_kind_t::https && next_parts->kind == scheme_kind_t::http)) {
        tracecore::trace_format("Redirect refused: %ls", next.c_str());
        return false;
      }
      current = next;
      parts = next_parts;
      if (clock.expired()) {
        tracecore::trace_error("The fetch took too long", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        return false;
      }
      continue;
    }
    if (status != 200) {
      tracecore::trace_format("Status %u for %ls", static_cast<unsigned>(status), current.c_str());
      return false;
    }

    result.content_type = query_header(request.get(), WINHTTP_QUERY_CONTENT_TYPE);
    result.base_url = query_header(request.get(), WINHTTP_QUERY_CONTENT_BASE);
    const std::wstring encoding =
        query_header(request.get(), WINHTTP_QUERY_CONTENT_TRANSFER_ENCODING);
    if (over_cap == over_cap_t::refuse) {
      const std::wstring length = query_header(request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
      if (!length.empty() && content_length_over(length, cap)) {
        tracecore::trace_format("Content-Length %ls is larger than %u bytes: refused",
                                length.c_str(), static_cast<unsigned>(cap));
        return false;
      }
    }
    if (!read_body(request.get(), cap, over_cap, clock, result))
      return false;
    request.reset();
    connection.reset();
    session.reset();
    if (result.size == 0) {
      tracecore::trace_format("Empty body from %ls", current.c_str());
      return false;
    }
    if (result.base_url.empty())
      result.base_url = parts->scheme + L"://" + parts->host + parts->path;
    if (!transfer_decode(encoding, result)) {
      tracecore::trace_format("The body does not decode as %ls", encoding.c_str());
      return false;
    }
    return true;
  }
}

}  // namespace icons
