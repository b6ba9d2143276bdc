// The platform-free side of the icon finder: the icon link in a page's head,
// the icon address beside the page, content types and the checks of a cached
// icon file. Arbitrary input is the fuzz targets'; quoted-printable bodies are
// checked through a fetch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "icons/portable/icon_file.h"
#include "icons/portable/icon_link.h"
#include "unit/icons/icon_samples.h"

namespace icons {
namespace {

TEST(IconLink, FoundInTheHead) {
  const struct {
    const wchar_t* page;
    const wchar_t* link;
  } cases[] = {
      {L"<html><head><link rel=\"stylesheet\" href=\"a.css\">\n<LINK  "
       L"REL=\"icon\"\tHREF=\"/img/i.ico\">"
       L"</head></html>",
       L"/img/i.ico"},
      // The shortcut marker wins over a plain one that comes first.
      {L"<head><link rel=\"icon\" href=\"plain.ico\"><link rel=\"shortcut icon\" "
       L"href=\"short.ico\"></head>",
       L"short.ico"},
      // The marker's own tag, not the href of an earlier tag.
      {L"<head><link href=\"a.css\"><link rel=\"icon\" type=\"x\" href=\"b.ico\"></head>",
       L"b.ico"},
      // White space in the marker is joined to one space.
      {L"<head><link rel=\"shortcut\r\n   icon\" href=\"s.ico\"></head>", L"s.ico"},
      // The href after the marker's tag when the tag has none.
      {L"<head><link rel=\"icon\"><link href=\"next.ico\"></head>", L"next.ico"},
      {L"<head><link rel=icon href=\"x.ico\"></head>", L"(none)"},
      {L"<head><link rel=\"icon\" href='x.ico'></head>", L"(none)"},
      {L"<head><link rel=\"icon\" href=\"\"></head>", L"(none)"},
      {L"<head><link rel=\"icon\" href=\"open</head>", L"(none)"},
      {L"<head><meta rel=\"icon\" href=\"x.ico\"></head>", L"(none)"},
      {L"<link rel=\"icon\" href=\"x.ico\"></head>", L"(none)"},
      // Only the head counts.
      {L"<head><title>t</title></head><body><link rel=\"icon\" href=\"x.ico\"></body>", L"(none)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(find_icon_link_in_text(c.page).value_or(L"(none)"), c.link)
        << std::string(c.page, c.page + wcslen(c.page));
}

TEST(IconLink, ManyLinkTagsStayLinear) {
  std::wstring page = L"<head>";
  for (int i = 0; i < 384 * 1024 / 6; ++i)
    page += L"<link ";
  page += L"rel=\"icon\" href=\"last.ico\"></head>";
  EXPECT_EQ(find_icon_link_in_text(page).value_or(L""), L"last.ico");
}

TEST(IconUrl, SplitAndResolved) {
  const struct {
    const wchar_t* page;
    const wchar_t* link;
    const wchar_t* icon;
  } cases[] = {
      {L"http://h.test:8080/a/b/page.html?q=1", L"icon.ico", L"http://h.test/a/b/icon.ico"},
      {L"https://h.test", L"icon.ico", L"https://h.test/icon.ico"},
      {L"https://h.test/a/p", L"HTTPS://cdn.test/i.ico", L"HTTPS://cdn.test/i.ico"},
      {L"http://h.test/a/p#x", L"", L"http://h.test/favicon.ico"},
      // Protocol-relative and dot-dot links get nothing special.
      {L"http://h.test/a/p", L"//cdn.test/i.ico", L"http://h.test//cdn.test/i.ico"},
      {L"http://h.test/a/p", L"../i.ico", L"http://h.test/a/../i.ico"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(resolve_icon_url(split_url(c.page).value(), c.link), c.icon);
  const auto parts = split_url(L"HTTPS://user@h.test:444/x?y").value();
  EXPECT_TRUE(parts.kind == scheme_kind_t::https && parts.host == L"h.test" && parts.port == 444 &&
              parts.path == L"/x");
  EXPECT_EQ(split_url(L"ftp://h.test/f")->kind, scheme_kind_t::other);
  for (const wchar_t* bad : {L"", L"h.test/x", L"http://", L"http://:80/", L"http://h:0/",
                             L"http://h:99999/", L"http://h:8x/", L"ht tp://h/"})
    EXPECT_FALSE(split_url(bad).has_value()) << bad;
}

TEST(ContentTypes, HtmlAndIcon) {
  const struct {
    const wchar_t* type;
    bool html;
    const wchar_t* charset;
    bool icon;
  } cases[] = {
      {L"text/html", true, L"", false},
      {L" TEXT/HTML ; foo ; Charset = windows-1251 ; charset=utf-8", true, L"windows-1251", false},
      {L"text/htmlx", false, L"", false},
      {L"", false, L"", false},
      {L";text/html", false, L"", false},
      {L"image/x-icon", false, L"", true},
      {L"Image/Vnd.Microsoft.Icon; q=1", false, L"", true},
      {L"image/png", false, L"", false},
  };
  for (const auto& c : cases) {
    std::wstring charset;
    EXPECT_EQ(is_html_content_type(c.type, charset), c.html) << c.type;
    EXPECT_EQ(charset, c.charset) << c.type;
    EXPECT_EQ(is_icon_content_type(c.type), c.icon) << c.type;
  }
}

const std::uint8_t* bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

TEST(IconFile, AcceptsWholeIconsOnly) {
  const std::string dib = icontest::dib_icon();
  const std::string png = icontest::png_icon();
  const auto a = small_icon_image(bytes(dib), dib.size()).value();
  EXPECT_TRUE(!a.png && a.offset == 22u && a.size == dib.size() - 22);
  EXPECT_TRUE(small_icon_image(bytes(png), png.size()).value().png);

  // Of two entries the 16 x 16 one, wherever it lies.
  const std::string two =
      icontest::icon_file_of({{icontest::dib_image(32, 1), 32}, {icontest::dib_image(16, 2), 16}});
  const auto c = small_icon_image(bytes(two), two.size()).value();
  EXPECT_TRUE(c.width == 16u && c.offset == 6 + 32 + icontest::dib_image(32, 1).size());

  std::string cursor = dib;
  cursor[2] = 2;
  std::string outside = dib;
  outside[14] = static_cast<char>(0xFF);  // the entry's size runs past the end
  std::string huge = dib;
  huge[22 + 4] = 0;
  huge[22 + 5] = 2;  // 512 pixels wide
  for (const std::string& bad : {cursor, outside, huge, dib.substr(0, dib.size() - 1),
                                 png.substr(0, 40), std::string("<html>not an icon</html>"),
                                 std::string(6, '\0'), dib + std::string(kMaxIconFileBytes, '\0')})
    EXPECT_FALSE(small_icon_image(bytes(bad), bad.size()).has_value());
}

}  // namespace
}  // namespace icons
