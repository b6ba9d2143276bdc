// The lookup-cache walker over images written by the agent's cache builder,
// sound and damaged. (That no walk leaves the view, whatever the bytes, is the
// fuzz target's.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "suite/agent/lookup_cache_builder.h"
#include "templates/portable/lookup_cache.h"

namespace templates {
namespace {

using standin::lookup_cache_builder_t;
using image_t = std::vector<std::uint8_t>;

std::uint32_t get_u32(const image_t& image, std::size_t at) {
  return image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
         static_cast<std::uint32_t>(image[at + 3]) << 24;
}
void put_u32(image_t& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
// Where the builder put entry i (the header says where the entries begin).
std::size_t entry_at(const image_t& image, std::size_t i) {
  return get_u32(image, 24) + kLookupEntrySize * i;
}

TEST(LookupCache, PathsAreSortedJoinedAndListedOnce) {
  lookup_cache_builder_t builder;
  const auto own = builder.add_folder("C:\\own\\");
  lookup_walk_stats_t stats;
  EXPECT_TRUE(lookup_cache_paths(builder.build(), &stats).empty());  // empty tables
  EXPECT_TRUE(stats.clean());
  const auto alien = builder.add_folder("D:\\alien\\");
  builder.add_entry(0, "mail", own, "mail.cvm");
  builder.add_entry(1, "mail", own, "mail.cvm");  // both tables
  builder.add_entry(0, "post", own, "mail.cvm");  // another key
  builder.add_entry(0, "bank", alien, "Bank.cvm");
  builder.add_entry(0, "bank", own, "bank.cvm");        // same name, other folder
  builder.add_entry(0, "gone", own, "gone.cvm", 1);     // skipped
  builder.add_entry(1, "odd", alien, "odd.cvm", 0x80);  // any non-zero flag skips
  const auto paths = lookup_cache_paths(builder.build(), &stats);
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"C:\\own\\bank.cvm", L"C:\\own\\mail.cvm",
                                              L"D:\\alien\\Bank.cvm"}));
  EXPECT_TRUE(stats.clean());
}

TEST(LookupCache, WalkTakesEveryEntryOrOnlyTheFilteredKey) {
  lookup_cache_builder_t builder;
  const auto folder = builder.add_folder("C:\\t\\");
  builder.add_entry(0, "a", folder, "a1.cvm");
  builder.add_entry(0, "a", folder, "a2.cvm", 1);
  builder.add_entry(0, "ab", folder, "ab.cvm");
  builder.add_entry(1, "a", folder, "a3.cvm");
  const image_t image = builder.build();

  std::vector<lookup_record_t> all;
  walk_lookup_chains(image, kLookupFirstTable, {}, all);
  ASSERT_EQ(all.size(), 3u);
  std::vector<lookup_record_t> only_a;
  walk_lookup_chains(image, kLookupFirstTable, "a", only_a);
  ASSERT_EQ(only_a.size(), 2u);  // "ab" is not "a"; the flag does not filter
  EXPECT_EQ(only_a[0].file, "a1.cvm");
  EXPECT_EQ(only_a[1].file, "a2.cvm");
  EXPECT_EQ(only_a[1].flag, 1);
  EXPECT_EQ(only_a[0].folder, "C:\\t\\");
  std::vector<lookup_record_t> second;
  walk_lookup_chains(image, kLookupSecondTable, "a", second);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].file, "a3.cvm");
}

TEST(LookupCache, Utf8NamesBecomeUtf16AndSortByCodeUnits) {
  lookup_cache_builder_t builder;
  const auto folder = builder.add_folder("C:\\t\\");
  builder.add_entry(0, "k1", folder, "\xEF\xBC\xA1.cvm");      // U+FF21
  builder.add_entry(0, "k2", folder, "\xF0\x9F\x98\x80.cvm");  // U+1F600, a surrogate pair
  builder.add_entry(0, "k3", folder, "\xC3\xA9.cvm");          // U+00E9
  const auto paths = lookup_cache_paths(builder.build());
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0], std::wstring(L"C:\\t\\\u00E9.cvm"));
  EXPECT_EQ(paths[1], std::wstring(L"C:\\t\\") + L"\U0001F600" + L".cvm");  // 0xD83D < 0xFF21
  EXPECT_EQ(paths[2], std::wstring(L"C:\\t\\\uFF21.cvm"));
}

// Two entries in one chain, the second or the link behind it damaged: what
// is sound must survive and the damage must be counted.
struct damage_case_t {
  const char* name;
  void (*damage)(image_t& image);
  std::size_t damaged_entries;
  std::size_t cut_chains;
};

image_t two_entry_image() {
  lookup_cache_builder_t builder;
  const auto folder = builder.add_folder("C:\\t\\");
  builder.add_entry(0, "k", folder, "first.cvm");   // entry 0
  builder.add_entry(0, "k", folder, "second.cvm");  // entry 1, linked behind entry 0
  return builder.build();
}

const damage_case_t kDamage[] = {
    {"next beyond the view",
     [](image_t& i) { put_u32(i, entry_at(i, 1) + 13, static_cast<std::uint32_t>(i.size()) + 4); },
     0, 1},
    {"next so close to the end that the entry is cut",
     [](image_t& i) { put_u32(i, entry_at(i, 1) + 13, static_cast<std::uint32_t>(i.size()) - 5); },
     0, 1},
    {"key offset 0", [](image_t& i) { put_u32(i, entry_at(i, 1), 0); }, 1, 0},
    {"file offset beyond the view", [](image_t& i) { put_u32(i, entry_at(i, 1) + 8, 0xFFFFFFF0u); },
     1, 0},
    {"folder index beyond the view", [](image_t& i) { put_u32(i, entry_at(i, 1) + 4, 5000); }, 1,
     0},
    {"folder index that wraps a 32-bit offset",
     [](image_t& i) { put_u32(i, entry_at(i, 1) + 4, 0x3FFFFEABu); }, 1, 0},
    {"folder slot holding 0",
     [](image_t& i) {
       // A folder slot at the end of the view, holding 0.
       while ((i.size() - kLookupFolderTable) % 4 != 0)
         i.push_back(0);
       const auto index = static_cast<std::uint32_t>((i.size() - kLookupFolderTable) / 4);
       i.insert(i.end(), 4, 0);
       put_u32(i, entry_at(i, 1) + 4, index);
     },
     1, 0},
    {"entry loops onto itself",
     [](image_t& i) {
       put_u32(i, entry_at(i, 1) + 13, static_cast<std::uint32_t>(entry_at(i, 1)));
     },
     0, 1},
    {"chain loops back to its head",
     [](image_t& i) {
       put_u32(i, entry_at(i, 1) + 13, static_cast<std::uint32_t>(entry_at(i, 0)));
     },
     0, 1},
    {"string runs to the end without a zero",
     [](image_t& i) {
       // The file name of entry 1 moves to the last bytes of the view, unterminated.
       i.insert(i.end(), {'x', 'y', 'z'});
       put_u32(i, entry_at(i, 1) + 8, static_cast<std::uint32_t>(i.size()) - 3);
     },
     1, 0},
};

TEST(LookupCache, DamagedViewsKeepTheSoundEntries) {
  for (const auto& c : kDamage) {
    SCOPED_TRACE(c.name);
    image_t image = two_entry_image();
    c.damage(image);
    lookup_walk_stats_t stats;
    const auto paths = lookup_cache_paths(image, &stats);
    // Damage to a link loses nothing already read; damage to the second
    // entry's strings loses that entry.
    const std::size_t expected = c.damaged_entries ? 1 : 2;
    ASSERT_EQ(paths.size(), expected);
    EXPECT_EQ(paths[0], L"C:\\t\\first.cvm");
    EXPECT_EQ(stats.damaged_entries, c.damaged_entries);
    EXPECT_EQ(stats.cut_chains, c.cut_chains);
  }
}

}  // namespace
}  // namespace templates
