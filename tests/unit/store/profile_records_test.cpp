#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/portable/profile_records.h"
#include "store_test_support.h"

namespace serialization {
namespace {

using named::CInMemStorage;
using storetest::bytes_t;
using storetest::hex;

// Image bytes written as a mix of names and byte lists.
struct image_text {
  bytes_t bytes = storetest::kHeader;
  image_text& name(std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return *this;
  }
  image_text& raw(std::initializer_list<int> list) {
    for (int b : list)
      bytes.push_back(static_cast<std::uint8_t>(b));
    return *this;
  }
  image_text& field(std::string_view text, std::initializer_list<int> list) {
    return name(text).raw(list);
  }
};

cvprofileitem_t item(int n, std::wstring value) {
  cvprofileitem_t it;
  it.value_op = n;
  it.displayname_op = n + 100;
  it.displayname = L"Field " + std::to_wstring(n);
  it.value = value;
  it.dbname = "db" + std::to_string(n);
  it.memid = n * 7;
  return it;
}

cvprofile_t record(int n, int item_count) {
  cvprofile_t r;
  r.operation = n % 4;
  r.profileindex = n;
  r.profilename = L"Profile \u00E9\u4E2D " + std::to_wstring(n);
  r.qlinkname = L"Link " + std::to_wstring(n);
  r.submitprofile = n & 1;
  r.updatedate = "2024-05-0" + std::to_string(n % 10) + " 12:00";
  r.formindex = -n;
  for (int i = 0; i < item_count; ++i)
    r.items.push_back(item(i, L"550-08-60 secret" + std::to_wstring(i)));
  return r;
}

TEST(ProfileRecords, ARecordIsStoredUnderItsNamesAndKinds) {
  cvprofile_t r;
  r.operation = 1;
  r.profileindex = 2;
  r.qlinkname = L"Q";
  r.items.emplace_back();  // defaults: memid -1
  r.items.back().value = L"v";
  r.items.back().dbname = "d";
  const bytes_t expected = image_text()
                               .raw({0x01, 0x20})  // eight entries, sorted by name
                               .field("formindex", {0x02, 0x01, 0x10, 0, 0, 0, 0})
                               .field("operation", {0x02, 0x01, 0x10, 1, 0, 0, 0})
                               .field("profileindex", {0x02, 0x01, 0x10, 2, 0, 0, 0})
                               .field("profileitems", {0x03, 0x04, 0x01, 0x18})  // 1 of 6
                               .field("dbname", {0x02, 0x02, 0x08, 'd', 0})
                               .field("displayname", {0x02, 0x03, 0x08, 0, 0})
                               .field("displayname_op", {0x02, 0x01, 0x10, 0, 0, 0, 0})
                               .field("memid", {0x02, 0x01, 0x10, 0xFF, 0xFF, 0xFF, 0xFF})
                               .field("value", {0x02, 0x03, 0x10, 'v', 0, 0, 0})
                               .field("value_op", {0x02, 0x01, 0x10, 0, 0, 0, 0})
                               .field("profilename", {0x02, 0x03, 0x08, 0, 0})
                               .field("qlinkname", {0x02, 0x03, 0x10, 'Q', 0, 0, 0})
                               .field("submitprofile", {0x02, 0x01, 0x10, 0, 0, 0, 0})
                               .field("updatedate", {0x02, 0x02, 0x04, 0})
                               .bytes;
  CMemoryObjectEx block;
  ASSERT_NE(SaveProfileImage(r, block), 0u);
  EXPECT_EQ(hex(storetest::bytes_of(block)), hex(expected));
}

TEST(ProfileRecords, ARecordWithoutItemsStoresNoItemList) {
  CInMemStorage s;
  // A list left over from an earlier record goes too.
  ASSERT_TRUE(StoreProfile(record(1, 2), s));
  ASSERT_TRUE(named::Find(s, nullptr, "profileitems"));
  ASSERT_TRUE(StoreProfile(record(1, 0), s));
  EXPECT_FALSE(named::Find(s, nullptr, "profileitems"));
  cvprofile_t back;
  ASSERT_TRUE(LoadProfile(s, nullptr, back));
  EXPECT_TRUE(back.items.empty());
}

TEST(ProfileRecords, MissingOrMistypedFieldsKeepTheirValues) {
  CInMemStorage s;
  ASSERT_TRUE(named::SetValue(s, nullptr, "profileindex", std::int32_t{9}));
  ASSERT_TRUE(named::SetEntry(s, "operation", boost::make_shared<named::CSSection>()));
  const std::uint8_t two[] = {0x22, 0x11};
  ASSERT_TRUE(named::SetValue(s, nullptr, "formindex", fake_memblock_t(two, 2), 1));
  cvprofile_t r;
  r.operation = 42;
  r.profilename = L"kept";
  r.formindex = static_cast<std::int32_t>(0x7F000000);
  r.items.push_back(item(1, L"x"));
  ASSERT_TRUE(LoadProfile(s, nullptr, r));
  EXPECT_EQ(r.operation, 42);  // a section where a value belongs counts as missing
  EXPECT_EQ(r.profileindex, 9);
  EXPECT_EQ(r.profilename, L"kept");
  EXPECT_EQ(r.formindex, 0x7F001122);  // two payload bytes, the others kept
  EXPECT_EQ(r.items.size(), 1u);
  CInMemStorage empty;
  EXPECT_FALSE(LoadProfile(empty, nullptr, r));
}

TEST(ProfileRecords, ListsKeepTheirOrder) {
  cvprofiles_t list = {record(3, 2), record(1, 0), record(2, 6)};
  CMemoryObjectEx block;
  ASSERT_NE(SaveProfilesImage(list, block), 0u);
  CInMemStorage s;
  ASSERT_NE(named::Load(block, s), 0u);
  ASSERT_EQ(s.root().count(), 1u);
  EXPECT_EQ(s.root().entries()[0].first, "cvprofiles_t");
  cvprofiles_t back = {record(9, 1)};  // loading appends
  ASSERT_TRUE(LoadProfilesImage(block.data(), block.size(), back));
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[0], record(9, 1));
  EXPECT_EQ(cvprofiles_t(back.begin() + 1, back.end()), list);
}

TEST(ProfileRecords, ListElementsStartFromTheDefaults) {
  // The second record's section lacks fields the first one has.
  CInMemStorage s;
  named::sections_array_ptr array;
  const named::section_ptr first = named::CreateSectionsArray(s, nullptr, "cvprofiles_t", &array);
  ASSERT_TRUE(StoreProfile(record(4, 1), s, first.get()));
  const named::section_ptr second = named::AppendSection(*array);
  ASSERT_TRUE(named::SetValue(s, second.get(), "profileindex", std::int32_t{8}));
  cvprofiles_t list;
  ASSERT_TRUE(LoadProfiles(s, nullptr, list));
  ASSERT_EQ(list.size(), 2u);
  cvprofile_t expected;
  expected.profileindex = 8;
  EXPECT_EQ(list[1], expected);
}

TEST(ProfileRecords, AnEmptyListWritesAnArrayWithoutSections) {
  CInMemStorage s;
  ASSERT_TRUE(StoreProfiles({record(1, 1)}, s));
  ASSERT_TRUE(StoreProfiles({}, s));
  CMemoryObjectEx block;
  ASSERT_NE(named::Save(s, block), 0u);
  const image_text expected = image_text().raw({0x01, 0x04}).field("cvprofiles_t", {0x03, 0x00});
  EXPECT_EQ(hex(storetest::bytes_of(block)), hex(expected.bytes));
  // It reads back as no record at all.
  cvprofiles_t list;
  EXPECT_FALSE(LoadProfilesImage(block.data(), block.size(), list));
  EXPECT_TRUE(list.empty());
}

TEST(ProfileRecords, StoringSucceedsWhenAnyFieldGoesIn) {
  // Sections under every name of a record with items: nothing can be written.
  CInMemStorage s;
  for (const char* name : {"formindex", "operation", "profileindex", "profileitems", "profilename",
                           "qlinkname", "submitprofile", "updatedate"})
    ASSERT_TRUE(named::SetEntry(s, name, boost::make_shared<named::CSSection>()));
  const bytes_t before = storetest::save(s);
  EXPECT_FALSE(StoreProfile(record(1, 1), s));
  EXPECT_EQ(storetest::save(s), before);
  // One field free is enough; the sections stay.
  ASSERT_TRUE(named::Remove(s, "operation"));
  EXPECT_TRUE(StoreProfile(record(1, 1), s));
  EXPECT_EQ(named::Find(s, nullptr, "operation")->type(), named::kTagValue);
  EXPECT_EQ(named::Find(s, nullptr, "profileitems")->type(), named::kTagSection);
}

// ---- References ----

struct recording_resolver : reference_resolver {
  std::vector<std::wstring> asked;
  secure_wstring Resolve(std::wstring_view name) override {
    asked.emplace_back(name);
    return secure_wstring(L"real:" + std::wstring(name));
  }
};

TEST(ProfileReferences, OnlyTheMarkerFollowedByANameIsAReference) {
  struct {
    const wchar_t* value;
    const wchar_t* name;  // null: not a reference
  } const cases[] = {
      {L"550-08-60 pw1", L"pw1"},   {L"550-08-60 x", L"x"},     {L"550-08-60  spaced", L" spaced"},
      {L"550-08-60 ", nullptr},     {L"550-08-60", nullptr},    {L"550-08-60x", nullptr},
      {L" 550-08-60 pw", nullptr},  {L"550-08-61 pw", nullptr}, {L"", nullptr},
      {L"plain password", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsReference(c.value), c.name != nullptr) << c.value;
    EXPECT_EQ(ReferenceName(c.value), std::wstring_view(c.name ? c.name : L"")) << c.value;
    recording_resolver resolver;
    const secure_wstring resolved = ResolveValue(c.value, resolver);
    if (c.name) {
      EXPECT_EQ(resolver.asked, std::vector<std::wstring>{c.name});
      EXPECT_EQ(resolved, std::wstring_view(L"real:" + std::wstring(c.name)));
    } else {
      EXPECT_TRUE(resolver.asked.empty());
      EXPECT_EQ(resolved, std::wstring_view(c.value));
    }
    // An item resolves through its value.
    EXPECT_EQ(ResolveValue(item(1, c.value), resolver).view(), resolved.view()) << c.value;
  }
}

}  // namespace
}  // namespace serialization
