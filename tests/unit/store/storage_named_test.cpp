#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/portable/memory_block.h"
#include "store/portable/running_ptr.h"
#include "store/portable/storage_named.h"
#include "store_test_support.h"

namespace serialization::StorageNamed::InMemStorageSpace {
namespace {

using storetest::bytes_of;
using storetest::bytes_t;
using storetest::hex;
using storetest::image_of;
using storetest::save;

bool set_bytes(CInMemStorage& s,
               CSSection* section,
               std::string_view name,
               const bytes_t& bytes,
               std::uint8_t kind) {
  return SetValue(s, section, name,
                  fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size())), kind);
}

// ---- The image, byte for byte ----

// The header, then every kind of entry (an empty section among them).
TEST(NamedImage, EveryEntryKindIsEncodedAsLaidDown) {
  CInMemStorage s;
  // Inserted out of name order on purpose.
  ASSERT_TRUE(SetValue(s, nullptr, "v", std::int32_t{1}));
  auto section = boost::make_shared<CSSection>();
  ASSERT_TRUE(SetEntry(s, "s", section));
  ASSERT_TRUE(SetValue(s, section.get(), "x", std::string_view("hi")));
  auto values = boost::make_shared<CSValuesArray>(kKindWString);
  values->append(boost::make_shared<CMemoryObjectEx>("\x41\0\0\0", 4));
  values->append();
  ASSERT_TRUE(SetEntry(s, "w", values));
  sections_array_ptr array;
  ASSERT_TRUE(CreateSectionsArray(s, nullptr, "a", &array));
  ASSERT_TRUE(SetValue(s, AppendSection(*array).get(), "n", std::int32_t{2}));

  const bytes_t expected = image_of({
      0x01, 0x10,                                                           // root, 4 entries
      'a',  0,    0x03, 0x08,                                               // sections array of 2
      0x01, 0x00,                                                           //   empty section
      0x01, 0x04, 'n',  0,    0x02, 0x01, 0x10, 0x02, 0x00, 0x00, 0x00,     //   { n: 2 }
      's',  0,    0x01, 0x04, 'x',  0,    0x02, 0x02, 0x0C, 'h',  'i',  0,  // section { x: "hi" }
      'v',  0,    0x02, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00,                 // value 1
      'w',  0,    0x04, 0x03, 0x08, 0x10, 0x41, 0x00, 0x00, 0x00, 0x00,     // values array of 2
  });
  EXPECT_EQ(hex(save(s)), hex(expected));
  EXPECT_EQ(ImageSize(s), expected.size());
}

// ---- Counts and the cursor ----

// Counts (and the lengths of payloads, written the same way) take the smallest
// width that holds them.
TEST(RunningPtr, CountsUseTheirWidthsAndReadBack) {
  struct {
    std::uint64_t value;
    bytes_t bytes;
  } const cases[] = {
      {0, {0x00}},
      {63, {0xFC}},
      {64, {0x01, 0x01}},
      {16383, {0xFD, 0xFF}},
      {16384, {0x02, 0x00, 0x01, 0x00}},
      {0x3FFFFFFF, {0xFE, 0xFF, 0xFF, 0xFF}},
      {0x40000000, {0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
      {kMaxCount, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    std::uint8_t buffer[8] = {};
    running_ptr writer(buffer, sizeof buffer);
    ASSERT_EQ(writer.write_count(c.value), c.bytes.size()) << c.value;
    EXPECT_EQ(count_width(c.value), c.bytes.size());
    EXPECT_EQ(hex(bytes_t(buffer, buffer + c.bytes.size())), hex(c.bytes));
    running_ptr reader = running_ptr::for_reading(buffer, c.bytes.size());
    std::uint64_t back = 0;
    EXPECT_EQ(reader.read_count(back), c.bytes.size());
    EXPECT_EQ(back, c.value);
    if (c.value > 16384)
      continue;
    CInMemStorage s;
    ASSERT_TRUE(set_bytes(s, nullptr, "p", bytes_t(c.value, 0x5A), 7));
    const bytes_t image = save(s);
    // header, 01 04, 'p' 0, 02 07, then the length.
    const std::size_t at = 9 + 2 + 2 + 2;
    ASSERT_EQ(image.size(), at + c.bytes.size() + c.value) << c.value;
    EXPECT_EQ(hex(bytes_t(image.begin() + at, image.begin() + at + c.bytes.size())), hex(c.bytes));
  }
  EXPECT_EQ(count_width(kMaxCount + 1), 0u);
}

TEST(RunningPtr, ReadersAcceptWiderCountsThanNeeded) {
  const bytes_t wide[] = {{0x15, 0x00}, {0x16, 0x00, 0x00, 0x00}, {0x17, 0, 0, 0, 0, 0, 0, 0}};
  for (const auto& bytes : wide) {
    running_ptr reader = running_ptr::for_reading(bytes.data(), bytes.size());
    std::uint64_t value = 0;
    EXPECT_EQ(reader.read_count(value), bytes.size());
    EXPECT_EQ(value, 5u);
  }
}

TEST(RunningPtr, WritesNeverMovePastTheSize) {
  std::uint8_t buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  running_ptr w(buffer, 4);  // the last two bytes are outside the range
  EXPECT_EQ(w.write_bytes("abc", 3), 3u);
  EXPECT_EQ(w.write_count(64), 0u);  // needs two, one left
  EXPECT_EQ(w.write_name("x"), 0u);  // needs two
  EXPECT_EQ(w.write_bytes("yz", 2), 0u);
  EXPECT_EQ(w.offset(), 3u);
  EXPECT_EQ(w.write_byte(1), 1u);
  EXPECT_EQ(w.write_byte(2), 0u);
  EXPECT_EQ(buffer[4], 0xEE);
  EXPECT_EQ(buffer[5], 0xEE);
  // Reading stops the same way: the damaged images below cut counts, names and
  // payloads short.
}

// ---- Loading ----

// An empty image whose header has one byte changed.
bytes_t header_with(std::size_t at, std::uint8_t value) {
  bytes_t image = image_of({0x01, 0x00});
  image[at] = value;
  return image;
}

TEST(NamedLoad, HeadersThatAreNotImagesLoadNothing) {
  struct {
    const char* what;
    bytes_t image;
    std::size_t consumed;
  } const cases[] = {
      {"nine header bytes only", storetest::kHeader, 0},
      {"version 2", header_with(8, 2), 0},
      {"version 0", header_with(8, 0), 11},
      {"first magic", header_with(0, 0xA3), 0},
      {"second magic", header_with(7, 0x89), 0},
      {"short", bytes_t{0xA2, 0x49}, 0},
      {"root not a section", image_of({0x02, 0x01, 0x00}), 0},
      {"trailing bytes are not consumed", image_of({0x01, 0x00, 0x77, 0x77}), 11},
  };
  for (const auto& c : cases) {
    CInMemStorage s;
    ASSERT_TRUE(SetValue(s, nullptr, "keep", std::int32_t{1}));
    EXPECT_EQ(Load(c.image.data(), c.image.size(), s), c.consumed) << c.what;
    EXPECT_EQ(s.root().count(), c.consumed ? 0u : 1u) << c.what;
  }
  CInMemStorage s;
  EXPECT_EQ(Load(nullptr, 20, s), 0u);
}

TEST(NamedLoad, DamagedTreesFailWholeAndLeaveTheStorageAlone) {
  struct {
    const char* what;
    bytes_t image;
  } const cases[] = {
      {"count claims more entries", image_of({0x01, 0x08, 'a', 0, 0x02, 0x01, 0x00})},
      {"count of 2^62-1 entries", image_of({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"count width cut short", image_of({0x01, 0x02, 0x00})},
      {"name without NUL", image_of({0x01, 0x04, 'a', 'b'})},
      {"name with nothing after it", image_of({0x01, 0x04, 'a', 0})},
      {"value length beyond the end", image_of({0x01, 0x04, 'a', 0, 0x02, 0x01, 0x14, 1, 2})},
      {"value length of 2^62-1",
       image_of({0x01, 0x04, 'a', 0, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"value without kind", image_of({0x01, 0x04, 'a', 0, 0x02})},
      {"array element not a section", image_of({0x01, 0x04, 'a', 0, 0x03, 0x04, 0x02, 0, 0})},
      {"array claims more sections", image_of({0x01, 0x04, 'a', 0, 0x03, 0x08, 0x01, 0x00})},
      {"values array element beyond the end",
       image_of({0x01, 0x04, 'a', 0, 0x04, 0x01, 0x04, 0x08, 1})},
      {"values array claims more", image_of({0x01, 0x04, 'a', 0, 0x04, 0x01, 0x08, 0x00})},
  };
  for (const auto& c : cases) {
    CInMemStorage s;
    ASSERT_TRUE(SetValue(s, nullptr, "keep", std::int32_t{1}));
    EXPECT_EQ(Load(c.image.data(), c.image.size(), s), 0u) << c.what;
    std::int32_t kept = 0;
    EXPECT_TRUE(GetValue(s, nullptr, "keep", kept)) << c.what;
    EXPECT_EQ(s.root().count(), 1u) << c.what;
  }
}

// Sections nested n deep below the root: "a" { "a" { ... {} } }.
bytes_t nested_image(unsigned depth) {
  bytes_t image = storetest::kHeader;
  for (unsigned i = 0; i < depth; ++i)
    image.insert(image.end(), {0x01, 0x04, 'a', 0});
  image.insert(image.end(), {0x01, 0x00});
  return image;
}

TEST(NamedLoad, NestingIsBounded) {
  CInMemStorage s;
  const bytes_t deepest = nested_image(kMaxNesting);
  EXPECT_EQ(Load(deepest.data(), deepest.size(), s), deepest.size());
  const bytes_t too_deep = nested_image(kMaxNesting + 1);
  EXPECT_EQ(Load(too_deep.data(), too_deep.size(), s), 0u);
  const bytes_t far_too_deep = nested_image(100000);
  EXPECT_EQ(Load(far_too_deep.data(), far_too_deep.size(), s), 0u);
}

TEST(NamedLoad, AnUnknownTagEndsItsSectionAfterTheEntriesRead) {
  for (std::uint8_t tag : {0x05, 0x00, 0xFF}) {
    // Root: two entries announced; "a" is read, "b" carries the unknown tag.
    const bytes_t image = image_of({0x01, 0x08, 'a', 0, 0x02, 0x01, 0x04, 0x07, 'b', 0, tag, 0x00});
    CInMemStorage s;
    EXPECT_EQ(Load(image.data(), image.size(), s), 19u) << int(tag);
    ASSERT_EQ(s.root().count(), 1u);
    std::int32_t a = 0;
    EXPECT_TRUE(GetValue(s, nullptr, "a", a));
    EXPECT_EQ(a, 7);
  }
  // The same inside a nested section that is its parent's last entry.
  const bytes_t nested =
      image_of({0x01, 0x04, 's', 0, 0x01, 0x08, 'a', 0, 0x02, 0x01, 0x00, 'b', 0, 0x05});
  CInMemStorage s;
  EXPECT_EQ(Load(nested.data(), nested.size(), s), nested.size() - 1);
  const entry_ptr section = Find(s, nullptr, "s");
  ASSERT_TRUE(section && section->type() == kTagSection);
  EXPECT_EQ(static_cast<CSSection&>(*section).count(), 1u);
}

TEST(NamedLoad, UnsortedAndRepeatedNamesEndSortedWithTheLaterEntry) {
  const bytes_t image = image_of({0x01, 0x0C,                            // three entries
                                  'b',  0,    0x02, 0x01, 0x04, 0x01,    // b = 1
                                  'a',  0,    0x02, 0x01, 0x04, 0x02,    // a = 2
                                  'b',  0,    0x02, 0x01, 0x04, 0x03});  // b = 3 replaces
  CInMemStorage s;
  ASSERT_EQ(Load(image.data(), image.size(), s), image.size());
  ASSERT_EQ(s.root().count(), 2u);
  EXPECT_EQ(s.root().entries()[0].first, "a");
  std::int32_t b = 0;
  EXPECT_TRUE(GetValue(s, nullptr, "b", b));
  EXPECT_EQ(b, 3);
  EXPECT_EQ(
      hex(save(s)),
      hex(image_of({0x01, 0x08, 'a', 0, 0x02, 0x01, 0x04, 0x02, 'b', 0, 0x02, 0x01, 0x04, 0x03})));
}

// ---- Operations ----

TEST(NamedOperations, SetValueReplacesValuesButNeverOtherEntries) {
  CInMemStorage s;
  auto section = boost::make_shared<CSSection>();
  ASSERT_TRUE(SetEntry(s, "sec", section));
  ASSERT_TRUE(SetValue(s, section.get(), "inner", std::int32_t{5}));
  EXPECT_FALSE(SetValue(s, nullptr, "sec", std::int32_t{1}));
  EXPECT_EQ(Find(s, nullptr, "sec"), section);
  EXPECT_EQ(section->count(), 1u);

  ASSERT_TRUE(SetValue(s, nullptr, "v", std::int32_t{1}));
  ASSERT_TRUE(SetValue(s, nullptr, "v", std::string_view("text")));
  CMemoryObjectEx payload;
  std::uint8_t kind = 0;
  ASSERT_TRUE(GetValue(s, nullptr, "v", payload, &kind));
  EXPECT_EQ(kind, kKindString);
  EXPECT_EQ(bytes_of(payload), (bytes_t{'t', 'e', 'x', 't', 0}));
  EXPECT_FALSE(SetValue(s, nullptr, std::string_view("a\0b", 3), std::int32_t{1}));
}

TEST(NamedOperations, GetValueCopiesWithinThePayload) {
  CInMemStorage s;
  ASSERT_TRUE(set_bytes(s, nullptr, "short", {0x34, 0x12}, kKindInteger));
  ASSERT_TRUE(set_bytes(s, nullptr, "long", {1, 0, 0, 0, 9, 9}, kKindInteger));
  ASSERT_TRUE(set_bytes(s, nullptr, "unterminated", {'a', 'b'}, kKindString));
  ASSERT_TRUE(set_bytes(s, nullptr, "early", {'a', 0, 'b', 0}, kKindString));
  ASSERT_TRUE(set_bytes(s, nullptr, "wide", {'h', 0, 'i', 0, 0, 0, 'x', 0}, kKindWString));
  ASSERT_TRUE(set_bytes(s, nullptr, "odd", {'h', 0, 'i'}, kKindWString));
  ASSERT_TRUE(SetEntry(s, "sec", boost::make_shared<CSSection>()));

  std::int32_t value = static_cast<std::int32_t>(0xAABBCCDD);
  EXPECT_TRUE(GetValue(s, nullptr, "short", value));
  EXPECT_EQ(static_cast<std::uint32_t>(value), 0xAABB1234u);  // upper bytes kept
  EXPECT_TRUE(GetValue(s, nullptr, "long", value));
  EXPECT_EQ(value, 1);
  std::string text;
  EXPECT_TRUE(GetValue(s, nullptr, "unterminated", text));
  EXPECT_EQ(text, "ab");
  EXPECT_TRUE(GetValue(s, nullptr, "early", text));
  EXPECT_EQ(text, "a");
  EXPECT_TRUE(GetValue(s, nullptr, "wide", text));  // the kind is not checked
  EXPECT_EQ(text, "h");
  std::wstring wide;
  EXPECT_TRUE(GetValue(s, nullptr, "wide", wide));
  EXPECT_EQ(wide, L"hi");
  EXPECT_TRUE(GetValue(s, nullptr, "odd", wide));
  EXPECT_EQ(wide, L"h");
  secure_wstring secret;
  EXPECT_TRUE(GetValue(s, nullptr, "wide", secret));
  EXPECT_EQ(secret, std::wstring_view(L"hi"));

  value = 77;
  EXPECT_FALSE(GetValue(s, nullptr, "missing", value));
  EXPECT_FALSE(GetValue(s, nullptr, "sec", value));
  EXPECT_EQ(value, 77);
}

TEST(NamedOperations, CreateSectionsArrayReusesReplacesOrRefuses) {
  CInMemStorage s;
  sections_array_ptr first_array;
  section_ptr first = CreateSectionsArray(s, nullptr, "arr", &first_array);
  ASSERT_TRUE(first);
  ASSERT_TRUE(SetValue(s, first.get(), "x", std::int32_t{1}));
  AppendSection(*first_array);
  sections_array_ptr second_array;
  section_ptr second = CreateSectionsArray(s, nullptr, "arr", &second_array);
  ASSERT_TRUE(second);
  EXPECT_EQ(second_array, first_array);  // reused, emptied
  EXPECT_EQ(second_array->count(), 1u);
  EXPECT_TRUE(second->empty());
  EXPECT_EQ(hex(save(s)), hex(image_of({0x01, 0x04, 'a', 'r', 'r', 0, 0x03, 0x04, 0x01, 0x00})));

  ASSERT_TRUE(SetValue(s, nullptr, "val", std::int32_t{1}));
  EXPECT_TRUE(CreateSectionsArray(s, nullptr, "val"));
  EXPECT_EQ(Find(s, nullptr, "val")->type(), kTagSectionsArray);

  ASSERT_TRUE(SetEntry(s, "sec", boost::make_shared<CSSection>()));
  ASSERT_TRUE(SetEntry(s, "vals", boost::make_shared<CSValuesArray>(kKindInteger)));
  EXPECT_FALSE(CreateSectionsArray(s, nullptr, "sec"));
  EXPECT_FALSE(CreateSectionsArray(s, nullptr, "vals"));
  EXPECT_EQ(Find(s, nullptr, "sec")->type(), kTagSection);
}

TEST(NamedOperations, SectionsArraysAreWalkedInOrder) {
  CInMemStorage s;
  sections_array_ptr array;
  const section_ptr first = CreateSectionsArray(s, nullptr, "list", &array);
  const section_ptr second = AppendSection(*array);
  sections_iterator it;
  EXPECT_EQ(OpenSectionsArray(s, nullptr, "list", it), first);
  EXPECT_EQ(NextSection(it), second);
  EXPECT_FALSE(NextSection(it));
  EXPECT_FALSE(NextSection(it));

  // Only arrays that hold sections open.
  ASSERT_TRUE(SetValue(s, nullptr, "value", std::int32_t{1}));
  sections_iterator none;
  EXPECT_FALSE(OpenSectionsArray(s, nullptr, "value", none));
  EXPECT_FALSE(OpenSectionsArray(s, nullptr, "missing", none));
  EXPECT_FALSE(NextSection(none));
  const bytes_t empty_array = image_of({0x01, 0x04, 'e', 0, 0x03, 0x00});
  ASSERT_TRUE(Load(empty_array.data(), empty_array.size(), s));
  EXPECT_FALSE(OpenSectionsArray(s, nullptr, "e", none));
}

TEST(NamedOperations, RemovedEntriesLiveOnWhileShared) {
  CInMemStorage s;
  auto section = boost::make_shared<CSSection>();
  ASSERT_TRUE(SetEntry(s, "sec", section));
  ASSERT_TRUE(SetValue(s, section.get(), "x", std::int32_t{3}));
  EXPECT_FALSE(Remove(s, "x"));  // not at the root
  EXPECT_TRUE(Remove(s, "x", section.get()));
  ASSERT_TRUE(SetValue(s, section.get(), "x", std::int32_t{4}));
  const entry_ptr held = Find(s, nullptr, "sec");
  EXPECT_TRUE(s.Remove("sec"));
  EXPECT_FALSE(s.Remove("sec"));
  EXPECT_FALSE(Find(s, nullptr, "sec"));
  std::int32_t x = 0;
  EXPECT_TRUE(GetValue(s, static_cast<CSSection*>(held.get()), "x", x));
  EXPECT_EQ(x, 4);
}

TEST(NamedOperations, SetEntryRefusesNullNulNamesAndCycles) {
  CInMemStorage s;
  auto outer = boost::make_shared<CSSection>();
  auto inner = boost::make_shared<CSSection>();
  ASSERT_TRUE(SetEntry(s, "outer", outer));
  ASSERT_TRUE(SetEntry(s, "inner", inner, outer.get()));
  EXPECT_FALSE(SetEntry(s, "loop", outer, inner.get()));
  EXPECT_FALSE(SetEntry(s, "self", outer, outer.get()));
  sections_array_ptr array;
  section_ptr element = CreateSectionsArray(s, inner.get(), "arr", &array);
  EXPECT_FALSE(SetEntry(s, "loop", array, element.get()));
  EXPECT_FALSE(SetEntry(s, "null", entry_ptr()));
  EXPECT_FALSE(SetEntry(s, std::string_view("a\0", 2), boost::make_shared<CSValue>()));
  // Sharing one entry between two places is fine.
  EXPECT_TRUE(SetEntry(s, "again", inner));
  EXPECT_EQ(save(s).size(), ImageSize(s));
}

// ---- Saving and memory blocks ----

TEST(NamedSave, AllocatesTheImageOnceAtItsExactSize) {
  CInMemStorage s;
  ASSERT_TRUE(SetValue(s, nullptr, "a", std::wstring_view(L"secret")));
  ASSERT_TRUE(CreateSectionsArray(s, nullptr, "b"));
  storetest::spy_allocator::reset();
  {
    storetest::spy_block block;
    block.allocate(3);  // a block that held something before
    storetest::spy_allocator::reset();
    const std::uint32_t size = Save(s, block);
    EXPECT_EQ(size, ImageSize(s));
    EXPECT_EQ(block.size(), size);
    EXPECT_EQ(storetest::spy_allocator::allocations, 1);
    EXPECT_EQ(storetest::spy_allocator::last_size, size);
    EXPECT_EQ(bytes_of(block), save(s));
  }
  // The image (which holds the secret) was wiped before it was freed, and so
  // was the old buffer.
  EXPECT_EQ(storetest::spy_allocator::frees, 2);
  EXPECT_EQ(storetest::spy_allocator::frees_not_wiped, 0);

  fake_memblock_t view;  // a view cannot hold an image
  EXPECT_EQ(Save(s, view), 0u);
}

TEST(MemoryBlock, SetReusesEqualSizesAndReleasesOnEmpty) {
  storetest::spy_allocator::reset();
  {
    storetest::spy_block block;
    const std::uint8_t four[] = {1, 2, 3, 4};
    const std::uint8_t other[] = {5, 6, 7, 8};
    block.set(four, 4);
    const std::uint8_t* first = block.data();
    block.set(other, 4);
    EXPECT_EQ(block.data(), first);  // same size: copied in place
    EXPECT_EQ(bytes_of(block), (bytes_t{5, 6, 7, 8}));
    block.set(four, 2);
    EXPECT_EQ(block.size(), 2u);
    EXPECT_EQ(storetest::spy_allocator::last_size, 2u);
    block.set(block.data() + 1, 1);  // the source inside the block itself
    EXPECT_EQ(bytes_of(block), (bytes_t{2}));
    block.set(nullptr, 5);
    EXPECT_EQ(block.data(), nullptr);
    EXPECT_EQ(block.size(), 0u);
    block.set(four, 0);
    EXPECT_EQ(block.data(), nullptr);
    storetest::spy_block copy;
    block.set(four, 4);
    copy.assign(block);
    EXPECT_TRUE(copy == block);
    EXPECT_NE(copy.data(), block.data());
    EXPECT_EQ(copy.allocate(0), nullptr);
  }
  EXPECT_EQ(storetest::spy_allocator::allocations, storetest::spy_allocator::frees);
  EXPECT_EQ(storetest::spy_allocator::frees_not_wiped, 0);
}

}  // namespace
}  // namespace serialization::StorageNamed::InMemStorageSpace
