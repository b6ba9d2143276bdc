// The backup image: known bytes and what the reader refuses (natively and under
// Wine), and, under Wine, agreement with the component's CryptoAPI blobs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/portable/backup_image.h"

#ifdef _WIN32
#include "store/blobs.h"
#endif

namespace backup {
namespace {

using bytes_t = std::vector<std::uint8_t>;

const image_t kUser{{{u"a.cvm", "<x/>"}},
                    {{u"M", u"h", u"a.cvm", 128, u"{1}"}},
                    {{u"W", u"a"}, {u"E", u""}}};

// The image of kUser, element by element.
const bytes_t kUserBytes = {
    0x30, 0x60,                                                                    // image
    0x30, 0x16, 0x30, 0x14,                                                        // templates
    0x1E, 0x0C, 0,    'a',  0,    '.',  0,    'c',  0,    'v',  0,    'm',  0, 0,  // name
    0x04, 0x04, '<',  'x',  '/',  '>',                                             // bytes
    0x30, 0x2A, 0x30, 0x28,                                                        // links
    0x1E, 0x04, 0,    'M',  0,    0,    0x1E, 0x04, 0,    'h',  0,    0,           // name, target
    0x1E, 0x0C, 0,    'a',  0,    '.',  0,    'c',  0,    'v',  0,    'm',  0, 0,  // template file
    0x02, 0x02, 0x00, 0x80,                                                        // profile
    0x1E, 0x08, 0,    '{',  0,    '1',  0,    '}',  0,    0,                       // template id
    0x30, 0x1A, 0x30, 0x0C, 0x1E, 0x04, 0,    'W',  0,    0,    0x1E, 0x04, 0, 'a',
    0,    0,  // categories
    0x30, 0x0A, 0x1E, 0x04, 0,    'E',  0,    0,    0x1E, 0x02, 0,    0};

TEST(BackupImage, KnownBytesAndRoundTrip) {
  EXPECT_EQ(build(kUser), kUserBytes);
  const auto parsed = parse(kUserBytes.data(), kUserBytes.size());
  ASSERT_TRUE(parsed && parsed->templates && parsed->links && parsed->categories);
  EXPECT_EQ((image_t{*parsed->templates, *parsed->links, *parsed->categories}), kUser);
  const bytes_t empty = build(image_t{});
  EXPECT_EQ(empty, (bytes_t{0x30, 0x06, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00}));
  // A long element takes the long length form.
  const bytes_t big = build(image_t{{{u"b.cvm", std::string(300, 'x')}}, {}, {}});
  EXPECT_EQ(bytes_t(big.begin(), big.begin() + 8),
            (bytes_t{0x30, 0x82, 0x01, 0x4A, 0x30, 0x82, 0x01, 0x42}));
}

TEST(BackupImage, RefusesWholeImagesOrSkipsParts) {
  auto with = [](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    bytes_t b = kUserBytes;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  // A bad outer length or tag, and DER's longer length form where the short one
  // fits, refuse the whole image (the host test tries truncated and two-part ones).
  const bytes_t long_form_short = {0x30, 0x81, 0x06, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00};
  for (const bytes_t& bad : {long_form_short, with(1, {0x5F}), with(0, {0x31})})
    EXPECT_FALSE(parse(bad.data(), bad.size()));
  // Bad elements inside one part: only that part is missing.
  struct {
    bytes_t bytes;
    bool templates, links, categories;
  } const cases[] = {
      {with(18, {0, 'x'}), false, true, true},                  // a text without its terminator
      {with(14, {0, 0}), false, true, true},                    // a zero inside a text
      {with(56, {0x02, 0x02, 0x00, 0x7F}), true, false, true},  // integer not in shortest form
      {with(20, {0x1E}), false, true, true},                    // OCTET STRING expected
      {with(86, {0x31}), true, true, false},                    // not a SEQUENCE
  };
  for (const auto& c : cases) {
    const auto parsed = parse(c.bytes.data(), c.bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->templates.has_value(), c.templates);
    EXPECT_EQ(parsed->links.has_value(), c.links);
    EXPECT_EQ(parsed->categories.has_value(), c.categories);
  }
  for (const char16_t* good : {u"a.cvm", u"Site x.CVM", u"a.b.cvm"})
    EXPECT_TRUE(is_template_file_name(good));
  for (const char16_t* bad : {u".cvm", u"a.cvmx", u"..\\a.cvm", u"a/b.cvm", u"C:a.cvm", u"a..cvm",
                              u"a\u0001.cvm", u"*.cvm"})
    EXPECT_FALSE(is_template_file_name(bad));
}

#ifdef _WIN32
// The same image made of the component's CryptoAPI blobs, and read back by them.
TEST(BackupImage, AgreesWithTheCryptoApiBlobs) {
  using namespace serialization;
  auto seq = [](std::initializer_list<CMemoryObjectEx> items) {
    CCVBlobSequence s;
    for (const CMemoryObjectEx& item : items)
      EXPECT_EQ(s.Append(item), S_OK);
    return s.Encode();
  };
  const CMemoryObjectEx blobs =
      seq({seq({seq({CCVWStrBlob(L"a.cvm").Encode(), CCVAnyBlob("<x/>", 4).Encode()})}),
           seq({seq({CCVWStrBlob(L"M").Encode(), CCVWStrBlob(L"h").Encode(),
                     CCVWStrBlob(L"a.cvm").Encode(), CCVIntBlob(128).Encode(),
                     CCVWStrBlob(L"{1}").Encode()})}),
           seq({seq({CCVWStrBlob(L"W").Encode(), CCVWStrBlob(L"a").Encode()}),
                seq({CCVWStrBlob(L"E").Encode(), CCVWStrBlob(L"").Encode()})})});
  EXPECT_EQ(bytes_t(blobs.data(), blobs.data() + blobs.size()), kUserBytes);

  CCVBlobSequence outer;
  ASSERT_TRUE(outer.Decode(kUserBytes.data(), static_cast<DWORD>(kUserBytes.size())));
  ASSERT_EQ(outer.Count(), 3u);
  CCVBlobSequence links;
  ASSERT_TRUE(links.Decode(outer.Element(1)));
  CCVBlobSequence link;
  ASSERT_TRUE(link.Decode(links.Element(0)));
  ASSERT_EQ(link.Count(), 5u);
  CCVWStrBlob text;
  CCVIntBlob number;
  ASSERT_TRUE(text.Decode(link.Element(4)) && number.Decode(link.Element(3)));
  EXPECT_EQ(text.Value(), L"{1}");
  EXPECT_EQ(number.Value(), 128);
}
#endif

}  // namespace
}  // namespace backup
