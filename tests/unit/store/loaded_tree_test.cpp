// Trees read from images live in chunks and keep short payloads inline; these
// tests hold on to, change and drop such entries in the ways the rest of the
// product may, and check that nothing read, kept or reused goes wrong (the
// host build runs them under the address sanitizer).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "store/portable/memory_block.h"
#include "store/portable/storage_named.h"
#include "store_test_support.h"

namespace serialization::StorageNamed::InMemStorageSpace {
namespace {

using storetest::bytes_of;
using storetest::bytes_t;
using storetest::save;

std::string payload_text(int record, int field) {
  // Some payloads fit inline, some are carved: lengths 4 to 58.
  return "r" + std::to_string(record) + "f" + std::to_string(field) +
         std::string(static_cast<std::size_t>((record * 7 + field * 13) % 56), 'x');
}

// A list of records, each with string values of varied lengths, a values array
// and a nested sections array: every kind of entry, many chunks' worth.
bytes_t sample_image(int records) {
  CInMemStorage storage;
  sections_array_ptr array;
  section_ptr record = CreateSectionsArray(storage, nullptr, "records", &array);
  for (int r = 0; r < records; ++r) {
    if (r > 0)
      record = AppendSection(*array);
    for (int f = 0; f < 5; ++f)
      SetValue(storage, record.get(), "field" + std::to_string(f),
               std::string_view(payload_text(r, f)));
    SetValue(storage, record.get(), "index", r);
    auto values = boost::make_shared<CSValuesArray>(kKindString);
    for (int v = 0; v < 3; ++v) {
      const std::string text = payload_text(r + v, 9);
      values->append(boost::make_shared<CMemoryObjectEx>(text.data(),
                                                         static_cast<std::uint32_t>(text.size())));
    }
    SetEntry(storage, "values", values, record.get());
    sections_array_ptr items;
    section_ptr item = CreateSectionsArray(storage, record.get(), "items", &items);
    SetValue(storage, item.get(), "name", std::string_view("item of " + std::to_string(r)));
  }
  return save(storage);
}

std::string text_of(const CInMemStorage& storage, const CSSection* section, std::string_view name) {
  std::string text;
  EXPECT_TRUE(GetValue(storage, section, name, text)) << name;
  return text;
}

std::vector<section_ptr> records_of(const CInMemStorage& storage) {
  std::vector<section_ptr> records;
  sections_iterator it;
  for (section_ptr s = OpenSectionsArray(storage, nullptr, "records", it); s; s = NextSection(it))
    records.push_back(s);
  return records;
}

// Moves between the inline bytes and the heap, the source lying in the block's
// own bytes each time.
TEST(CMemoryObjectEx, MovesBetweenInlineBytesAndTheHeapFromItsOwnBytes) {
  const std::string longer = std::string(CMemoryObjectEx::kInlineCapacity, 'a') + "b";
  CMemoryObjectEx block(longer.data(), 4);
  block.set(longer.data(), static_cast<std::uint32_t>(longer.size()));
  EXPECT_FALSE(block.is_inline());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), block.size()), longer);
  block.set(block.data() + 1, 4);  // from the heap back inside
  EXPECT_TRUE(block.is_inline());
  block.set(block.data() + 2, 2);  // shrinking inside
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), block.size()), "aa");

  CMemoryObjectEx moved(std::move(block));
  EXPECT_EQ(moved.size(), 2u);
  EXPECT_EQ(block.data(), nullptr);
  // Detaching inline bytes hands out a heap copy the receiver deletes.
  const std::unique_ptr<std::uint8_t[]> handed(moved.detach());
  ASSERT_NE(handed, nullptr);
  EXPECT_EQ(handed[0], 'a');
  EXPECT_EQ(moved.size(), 0u);
  EXPECT_NE(moved.allocate(CMemoryObjectEx::kInlineCapacity + 1), nullptr);
}

TEST(LoadedTree, EntriesKeptOutliveTheirStorageAndItsChunks) {
  const bytes_t image = sample_image(300);
  std::vector<section_ptr> kept;
  std::vector<boost::shared_ptr<CSValuesArray>> kept_arrays;
  for (int round = 0; round < 4; ++round) {
    auto storage = std::make_unique<CInMemStorage>();
    ASSERT_EQ(Load(image.data(), image.size(), *storage), image.size());
    const auto records = records_of(*storage);
    kept.push_back(records[static_cast<std::size_t>(round * 97 % 300)]);
    kept_arrays.push_back(boost::static_pointer_cast<CSValuesArray>(
        Find(*storage, records[static_cast<std::size_t>(round * 31 % 300)].get(), "values")));
    // Everything else goes; the chunks it freed serve the next round's load.
  }
  for (int round = 0; round < 4; ++round) {
    const int r = round * 97 % 300;
    for (int f = 0; f < 5; ++f) {
      const std::string name = "field" + std::to_string(f);
      const auto value = boost::static_pointer_cast<CSValue>(kept[round]->find(name));
      ASSERT_TRUE(value);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(value->payload().data()),
                            value->payload().size() - 1),
                payload_text(r, f));
    }
    const int a = round * 31 % 300;
    ASSERT_EQ(kept_arrays[round]->count(), 3u);
    const std::string third = payload_text(a + 2, 9);
    EXPECT_EQ(bytes_of(*kept_arrays[round]->elements()[2]), bytes_t(third.begin(), third.end()));
  }
  // Dropped on another thread, their chunks come back and serve the next load,
  // which saves back to the image it came from.
  std::thread other([sections = std::move(kept), arrays = std::move(kept_arrays)]() mutable {
    sections.clear();
    arrays.clear();
  });
  other.join();
  CInMemStorage storage;
  ASSERT_EQ(Load(image.data(), image.size(), storage), image.size());
  EXPECT_EQ(save(storage), image);
}

TEST(LoadedTree, ChangesToLoadedEntriesMoveTheirBytesSafely) {
  const bytes_t image = sample_image(50);
  CInMemStorage storage;
  ASSERT_EQ(Load(image.data(), image.size(), storage), image.size());
  const auto records = records_of(storage);
  CSSection* record = records[7].get();
  const std::string same(payload_text(7, 1).size(), 'S');
  const std::string longer(300, 'L');
  // Same size (written in place), longer (to the heap), shorter (inline).
  ASSERT_TRUE(SetValue(storage, record, "field1", std::string_view(same)));
  ASSERT_TRUE(SetValue(storage, record, "field2", std::string_view(longer)));
  ASSERT_TRUE(SetValue(storage, record, "field3", std::string_view("s")));
  // New names make the loaded section's entry list grow onto the heap.
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(SetValue(storage, record, "added" + std::to_string(i), i));
  ASSERT_TRUE(Remove(storage, "field4", record));
  records[8]->clear();

  EXPECT_EQ(text_of(storage, record, "field1"), same);
  EXPECT_EQ(text_of(storage, record, "field2"), longer);
  EXPECT_EQ(text_of(storage, record, "field3"), "s");
  EXPECT_EQ(text_of(storage, record, "field0"), payload_text(7, 0));
  std::int32_t added = 0;
  EXPECT_TRUE(GetValue(storage, record, "added39", added));
  EXPECT_EQ(added, 39);

  // The changed tree saves and loads like any other.
  const bytes_t changed = save(storage);
  CInMemStorage again;
  ASSERT_EQ(Load(changed.data(), changed.size(), again), changed.size());
  EXPECT_EQ(save(again), changed);
}

}  // namespace
}  // namespace serialization::StorageNamed::InMemStorageSpace
