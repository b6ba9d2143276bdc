// DER blobs through the real CryptoAPI.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "store/blobs.h"
#include "store_test_support.h"

namespace serialization {
namespace {

using storetest::bytes_t;
using storetest::hex;

bytes_t der(const CMemoryObjectEx& block) {
  return storetest::bytes_of(block);
}

TEST(Blobs, IntegersEncodeAsMinimalDerIntegers) {
  struct {
    std::int32_t value;
    bytes_t encoding;
  } const cases[] = {
      {1, {0x02, 0x01, 0x01}},
      {0, {0x02, 0x01, 0x00}},
      {127, {0x02, 0x01, 0x7F}},
      {128, {0x02, 0x02, 0x00, 0x80}},
      {-1, {0x02, 0x01, 0xFF}},
      {-129, {0x02, 0x02, 0xFF, 0x7F}},
      {INT_MAX, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
      {INT_MIN, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    const CCVIntBlob blob(c.value);
    EXPECT_EQ(blob.Size(), 4u);
    const bytes_t encoding = der(blob.Encode());
    EXPECT_EQ(hex(encoding), hex(c.encoding)) << c.value;
    CCVIntBlob back;
    ASSERT_TRUE(back.Decode(encoding.data(), static_cast<DWORD>(encoding.size()))) << c.value;
    EXPECT_EQ(back.Value(), c.value);
    EXPECT_EQ(back.Size(), 4u);
  }
  EXPECT_EQ(hex(der(CCVIntBlob().Encode())), hex({0x02, 0x01, 0x00}));
}

TEST(Blobs, OctetStringsCarryTheBytesAsTheyAre) {
  EXPECT_EQ(hex(der(CCVAnyBlob().Encode())), hex({0x04, 0x00}));
  const std::uint8_t bytes[] = {0x00, 0x30, 0xFF};
  const bytes_t encoding = der(CCVAnyBlob(bytes, 3).Encode());
  EXPECT_EQ(hex(encoding), hex({0x04, 0x03, 0x00, 0x30, 0xFF}));
  CCVAnyBlob back;
  ASSERT_TRUE(back.Decode(encoding.data(), static_cast<DWORD>(encoding.size())));
  EXPECT_EQ(bytes_t(back.Data(), back.Data() + back.Size()), bytes_t(bytes, bytes + 3));
  const bytes_t empty = {0x04, 0x00};
  ASSERT_TRUE(back.Decode(empty.data(), 2));
  EXPECT_TRUE(back.Empty());
}

TEST(Blobs, WideStringsAreBmpStringsWithTheirTerminator) {
  EXPECT_EQ(hex(der(CCVWStrBlob(L"A").Encode())), hex({0x1E, 0x04, 0x00, 0x41, 0x00, 0x00}));
  EXPECT_EQ(hex(der(CCVWStrBlob(L"").Encode())), hex({0x1E, 0x02, 0x00, 0x00}));
  for (const wchar_t* text : {L"", L"bank.example", L"J\u00FCrgen \u4E2D\u6587"}) {
    const bytes_t encoding = der(CCVWStrBlob(text).Encode());
    ASSERT_FALSE(encoding.empty());
    CCVWStrBlob back;
    ASSERT_TRUE(back.Decode(encoding.data(), static_cast<DWORD>(encoding.size())));
    EXPECT_EQ(back.Value(), text);
    EXPECT_EQ(back.Size(), (std::wcslen(text) + 1) * sizeof(wchar_t));
  }
}

// Sequences of these, nested, are checked byte for byte against the backup
// image (backup_image_test.cpp).
TEST(Blobs, BadEncodingsLeaveEmptyBlobs) {
  struct {
    const char* what;
    bytes_t bytes;
  } const garbage[] = {
      {"nothing", {}},
      {"truncated", {0x02, 0x05, 0x01}},
      {"wrong tag", {0x05, 0x00}},
  };
  for (const auto& g : garbage) {
    CCVIntBlob number(5);
    EXPECT_FALSE(number.Decode(g.bytes.data(), static_cast<DWORD>(g.bytes.size()))) << g.what;
    EXPECT_TRUE(number.Empty()) << g.what;
    CCVBlobSequence sequence;
    EXPECT_FALSE(sequence.Decode(g.bytes.data(), static_cast<DWORD>(g.bytes.size()))) << g.what;
    EXPECT_EQ(sequence.Count(), 0u);
  }
  // Well-formed DER of the wrong kind for the blob.
  const bytes_t octets = {0x04, 0x01, 0x07};
  CCVIntBlob number(5);
  EXPECT_FALSE(number.Decode(octets.data(), 3));
  const bytes_t too_wide = {0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(number.Decode(too_wide.data(), 7));
  const bytes_t ia5 = {0x16, 0x01, 'A'};
  CCVWStrBlob text(L"x");
  EXPECT_FALSE(text.Decode(ia5.data(), 3));
  EXPECT_TRUE(text.Empty());
  // A failed encoding is no element.
  CCVBlobSequence sequence;
  EXPECT_EQ(sequence.Append(CMemoryObjectEx()), E_INVALIDARG);
  EXPECT_EQ(hex(der(sequence.Encode())), hex({0x30, 0x00}));
}

}  // namespace
}  // namespace serialization
