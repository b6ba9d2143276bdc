// Site icons over HTTP against the test server: the page, its icon link or the
// "/favicon.ico" fallback, the icon written to the cache; the fetch's bounds
// (schemes, redirects, sizes, time); the page texts in their charsets.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icons/icon_cache.h"
#include "icons/site_icon.h"
#include "support/http_test_server.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "unit/icons/icon_samples.h"

namespace icons {
namespace {

using testsupport::http_response_t;
using testsupport::http_test_server_t;

// Short bounds so that the slow cases end quickly.
const fetch_limits_t kLimits{2000, 2000, 2000, 1000, 2500, 5, 3};

http_response_t typed(const std::string& type, std::string body, int status = 200) {
  http_response_t r{status, {}, std::move(body)};
  if (!type.empty())
    r.headers.push_back({"Content-Type", type});
  return r;
}
http_response_t icon_answer(const std::string& bytes) {
  return typed("image/x-icon", bytes);
}
std::string page_with_link(const std::string& href) {
  return "<html><HEAD><title>t</title>\n<link rel=\"stylesheet\" href=\"s.css\">\n<link "
         "rel=\"icon\" href=\"" +
         href + "\"></HEAD><body></body></html>";
}

class SiteIcon : public testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    ::DeleteFileW(IconCachePath(m_id).c_str());
  }
  void TearDown() override {
    ::DeleteFileW(IconCachePath(m_id).c_str());
    ::CoUninitialize();
  }
  std::string cached() const { return testsupport::read_file(IconCachePath(m_id)); }
  bool download(const std::wstring& url) { return DownloadSiteIcon(url, m_id, kLimits); }

  const std::wstring m_id = L"site_icon_test_" + std::to_wstring(::GetCurrentProcessId());
};

TEST_F(SiteIcon, PageTextsInTheirCharsets) {
  const struct {
    const wchar_t* charset;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {L"utf-8", "\xD0\x96<", L"\x0416<"},
      {L"windows-1251", "\xC0\xFF", L"\x0410\x044F"},
      {L"", "\xC0\xFF", L"\x00C0\x00FF"},
      {L"no-such-charset", "\xE9", L"\x00E9"},
      {L"utf-16", std::string("<\0\x16\x04", 4), L"<\x0416"},
      {L"unicodeFFFE", std::string("\0<\x04\x16", 4), L"<\x0416"},
      {L"utf-16", std::string("<", 1), L""},
  };
  for (const auto& c : cases) {
    std::wstring text;
    EXPECT_EQ(DecodePageText(c.charset, reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                             c.bytes.size(), text),
              S_OK);
    EXPECT_EQ(text, c.text) << c.charset;
  }
}

TEST_F(SiteIcon, FallbacksAndRelativeLinksOnTheSiteRoot) {
  // Relative links and the fallback name the host without the page's port:
  // this group needs the server on port 80.
  http_test_server_t server(80);
  if (!server.ok())
    GTEST_SKIP() << "port 80 is not free here";
  const std::string icon = icontest::png_icon();
  for (const char* path :
       {"/favicon.ico", "/img/i.ico", "/a/b/icon.ico", "/icon.ico", "/base/dir/c.ico"})
    server.route(path, icon_answer(icon));
  http_response_t with_base = typed("text/html", page_with_link("c.ico"));
  with_base.headers.push_back({"Content-Base", "http://127.0.0.1/base/dir/x.html"});
  const struct {
    const char* name;
    const char* path;
    http_response_t page;
    const char* icon_path;
  } cases[] = {
      {"root-relative link", "/p", typed("text/html", page_with_link("/img/i.ico")), "/img/i.ico"},
      {"relative link", "/a/b/page.html", typed("text/html", page_with_link("icon.ico")),
       "/a/b/icon.ico"},
      {"relative link, no folder", "/page", typed("text/html", page_with_link("icon.ico")),
       "/icon.ico"},
      {"Content-Base", "/p", with_base, "/base/dir/c.ico"},
      {"no icon link", "/p", typed("text/html", "<head><title>t</title></head>"), "/favicon.ico"},
      {"no </head>", "/p", typed("text/html", "<head><link rel=\"icon\" href=\"/img/i.ico\">"),
       "/favicon.ico"},
      {"not HTML", "/p", typed("text/plain", page_with_link("/img/i.ico")), "/favicon.ico"},
      {"page 404", "/p", typed("text/html", page_with_link("/img/i.ico"), 404), "/favicon.ico"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.route(c.path, c.page);
    ::DeleteFileW(IconCachePath(m_id).c_str());
    const std::size_t before = server.requests().size();
    ASSERT_TRUE(
        download(L"http://127.0.0.1" + std::wstring(c.path, c.path + strlen(c.path)) + L"?q=1"));
    EXPECT_EQ(cached(), icon);
    EXPECT_EQ(server.requests().size(), before + 2);
    EXPECT_EQ(server.requests().back(), c.icon_path);
  }
  EXPECT_EQ(server.peak_connections(), 1);
}

TEST_F(SiteIcon, IconAnswersThatWriteNothing) {
  http_test_server_t server;
  ASSERT_TRUE(server.ok());
  const std::string icon = icontest::dib_icon();
  server.route("/page", typed("text/html", page_with_link(server.url("/i.ico"))));
  for (const auto& answer : {typed("image/png", icontest::png_image()), typed("", icon),
                             typed("image/x-icon", icon, 404), icon_answer("<html>nope</html>"),
                             icon_answer(icon.substr(0, icon.size() / 2)), icon_answer("")}) {
    server.route("/i.ico", answer);
    EXPECT_FALSE(download(server.wurl("/page"))) << answer.body.size();
    EXPECT_EQ(::GetFileAttributesW(IconCachePath(m_id).c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// HttpGetResource with the result's body as text; "(failed)" when it fails.
std::string get(const std::wstring& url,
                std::size_t cap = kMaxIconFileBytes,
                over_cap_t over = over_cap_t::refuse) {
  fetch_result_t result;
  if (!HttpGetResource(url, result, cap, over, kLimits))
    return "(failed)";
  return std::string(reinterpret_cast<const char*>(result.body.get()), result.size);
}

TEST_F(SiteIcon, TransferEncodingsAndBaseAddress) {
  http_test_server_t server;
  ASSERT_TRUE(server.ok());
  const std::string icon = icontest::dib_icon();
  const auto coded = [](const char* coding, std::string body) {
    http_response_t r = icon_answer(std::move(body));
    r.headers.push_back({"Content-Transfer-Encoding", coding});
    return r;
  };
  http_response_t close_delimited = icon_answer(icon), chunked = icon_answer(icon);
  close_delimited.no_length = true;
  chunked.chunked = true;
  const struct {
    http_response_t answer;
    std::string body;
  } cases[] = {
      {close_delimited, icon},
      {chunked, icon},
      {coded("BASE64", "AAABAAEA\r\nEBA=\r\n"), std::string("\0\0\1\0\1\0\x10\x10", 8)},
      {coded("quoted-printable", "a=3Db=\r\nc"), "a=bc"},
      {coded("quoted-printable", "a=ZZ"), "(failed)"},
      {coded("8bit", "as is"), "as is"},
  };
  for (const auto& c : cases) {
    server.route("/other", c.answer);
    EXPECT_EQ(get(server.wurl("/other")), c.body);
  }
  fetch_result_t result;
  HttpGetResource(server.wurl("/other?x=1"), result, kMaxIconFileBytes, over_cap_t::refuse,
                  kLimits);
  EXPECT_EQ(result.content_type, L"image/x-icon");
  EXPECT_EQ(result.base_url, L"http://127.0.0.1/other");
}

TEST_F(SiteIcon, FetchBounds) {
  http_test_server_t server;
  ASSERT_TRUE(server.ok());
  const auto answer = [](int status, const char* location, std::string body = "") {
    http_response_t r{status, {{"Content-Type", "image/x-icon"}}, std::move(body)};
    if (location)
      r.headers.push_back({"Location", location});
    return r;
  };
  for (int i = 1; i <= 8; ++i)
    server.route("/r" + std::to_string(i), answer(302, ("/r" + std::to_string(i - 1)).c_str()));
  server.route("/r0", answer(200, nullptr, "end"));
  server.route("/loop", answer(302, server.url("/loop").c_str()));
  server.route("/ftp", answer(302, "ftp://127.0.0.1/x.ico"));
  server.route("/relative", answer(302, "r0"));
  server.route("/empty", answer(200, nullptr));
  http_response_t declared = answer(200, nullptr), endless = declared, late = declared,
                  trickle = answer(200, nullptr, std::string(200, 'x'));
  declared.filler_bytes = 50ull * 1024 * 1024;
  endless.endless = true;
  late.header_delay_ms = 8000;
  trickle.trickle_ms = 50;
  server.route("/50mb", declared);
  server.route("/endless", endless);
  server.route("/slow", late);
  server.route("/trickle", trickle);

  for (const char* path : {"/r3", "/r5", "/relative"})
    EXPECT_EQ(get(server.wurl(path)), "end") << path;
  for (const char* failing : {"/r6", "/r8", "/loop", "/ftp", "/empty", "/missing"})
    EXPECT_EQ(get(server.wurl(failing)), "(failed)") << failing;

  // Other schemes are refused before connecting.
  const std::size_t before = server.requests().size();
  EXPECT_EQ(get(L"ftp://127.0.0.1:" + std::to_wstring(server.port()) + L"/x.ico"), "(failed)");
  EXPECT_EQ(server.requests().size(), before);

  // Sizes: an icon over the cap fails, a page is cut there.
  const ULONGLONG start = ::GetTickCount64();
  for (const char* big : {"/50mb", "/endless"}) {
    EXPECT_EQ(get(server.wurl(big)), "(failed)");
    EXPECT_EQ(get(server.wurl(big), kMaxPageBytes, over_cap_t::cut).size(), kMaxPageBytes);
  }
  EXPECT_LT(::GetTickCount64() - start, 8000u);

  // Time: slow headers end with the receive bound, a trickle with the fetch's.
  for (const char* slow : {"/slow", "/trickle"}) {
    const ULONGLONG begin = ::GetTickCount64();
    EXPECT_EQ(get(server.wurl(slow)), "(failed)") << slow;
    EXPECT_LT(::GetTickCount64() - begin, kLimits.fetch_ms + 1500u) << slow;
  }
}

// Wine ignores a request's proxy option, so what is checked is the proxy the
// fetch asked for, from its trace.
TEST_F(SiteIcon, TheUsersProxySettingsPerRequest) {
  http_test_server_t server;
  ASSERT_TRUE(server.ok());
  server.route("/i.ico", icon_answer("x"));
  // The user's Internet settings as the system keeps them; put back afterwards.
  const std::wstring key =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  const wchar_t* value = L"DefaultConnectionSettings";
  std::vector<BYTE> old(4096);
  DWORD old_size = static_cast<DWORD>(old.size());
  const bool had = ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_BINARY, nullptr,
                                  old.data(), &old_size) == ERROR_SUCCESS;
  // Flags 1 direct, 2 static proxy, 8 automatic detection.
  for (const auto& [flags, expected] :
       {std::pair{1u, "Proxy settings: auto-detect = 0, script = , proxy = , bypass = "},
        std::pair{3u, "Static proxy = 127.0.0.1:3128"},
        std::pair{9u, "Proxy settings: auto-detect = 1"}}) {
    std::string blob;
    for (std::uint32_t word : {0x46u, 1u, flags, 14u})
      icontest::put32(blob, word);
    blob += "127.0.0.1:3128";
    icontest::put32(blob, 7);
    blob += "<local>" + std::string(32, '\0');
    testsupport::set_reg_value(HKEY_CURRENT_USER, key, value, REG_BINARY, blob.data(),
                               static_cast<DWORD>(blob.size()));
    testsupport::new_trace_lines();
    get(server.wurl("/i.ico"));
    EXPECT_TRUE(icontest::traced(testsupport::new_trace_lines(), expected)) << expected;
  }
  if (had)
    testsupport::set_reg_value(HKEY_CURRENT_USER, key, value, REG_BINARY, old.data(), old_size);
  else
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), value);
}

}  // namespace
}  // namespace icons
