#include "templates/portable/lookup_cache.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>
#include <utility>

#include "templates/portable/manifest_text.h"

namespace templates {
namespace {

// Reads a 32-bit value at `offset` if all four bytes lie inside the view.
bool read_u32(std::span<const std::uint8_t> view, std::size_t offset, std::uint32_t& value) {
  if (offset > view.size() || view.size() - offset < 4)
    return false;
  const std::uint8_t* at = view.data() + offset;
  value = static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
          static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
  return true;
}

// The zero-terminated string at `offset`: false for offset 0, an offset
// outside the view, or a string whose zero is not inside the view.
bool read_string(std::span<const std::uint8_t> view, std::uint32_t offset, std::string_view& text) {
  if (offset == 0 || offset >= view.size())
    return false;
  const auto* begin = reinterpret_cast<const char*>(view.data()) + offset;
  const std::size_t room = view.size() - offset;
  const void* zero = std::memchr(begin, 0, room);
  if (!zero)
    return false;
  text = std::string_view(begin, static_cast<std::size_t>(static_cast<const char*>(zero) - begin));
  return true;
}

// The whole entry must lie inside the view (and not at offset 0).
bool entry_fits(std::span<const std::uint8_t> view, std::uint32_t offset) {
  return offset != 0 && offset < view.size() && view.size() - offset >= kLookupEntrySize;
}

void count(std::size_t lookup_walk_stats_t::*field, lookup_walk_stats_t* stats) {
  if (stats)
    ++(stats->*field);
}

// UTF-16 code-unit order of two wide strings, whatever the width of wchar_t:
// with 32-bit characters the code points from U+E000 to U+FFFF sort after the
// supplementary planes, as their UTF-16 units do.
std::uint32_t utf16_weight(wchar_t c) {
  const auto value = static_cast<std::uint32_t>(c);
  return (value >= 0xE000 && value <= 0xFFFF) ? value + 0x110000 : value;
}

bool utf16_less(const std::wstring& a, const std::wstring& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](wchar_t x, wchar_t y) { return utf16_weight(x) < utf16_weight(y); });
}

std::size_t utf16_length(const std::wstring& text) {
  std::size_t length = text.size();
  if constexpr (sizeof(wchar_t) > 2)
    for (wchar_t c : text)
      if ((static_cast<std::uint32_t>(c) >> 16) != 0)
        ++length;
  return length;
}

}  // namespace

void walk_lookup_chains(std::span<const std::uint8_t> view,
                        std::size_t table_offset,
                        std::string_view key_filter,
                        std::vector<lookup_record_t>& out,
                        lookup_walk_stats_t* stats) {
  // An entry belongs to one chain; meeting it again (a loop, or chains run
  // together) ends the chain, so a walk visits each offset at most once.
  std::unordered_set<std::uint32_t> walked;
  for (std::size_t bucket = 0; bucket < kLookupBucketCount; ++bucket) {
    std::uint32_t offset = 0;
    if (!read_u32(view, table_offset + 4 * bucket, offset) || offset == 0)
      continue;
    while (offset != 0) {
      if (!entry_fits(view, offset) || !walked.insert(offset).second) {
        count(&lookup_walk_stats_t::cut_chains, stats);
        break;
      }
      std::uint32_t key_offset = 0, folder_index = 0, file_offset = 0, next = 0;
      read_u32(view, offset + kLookupEntryKey, key_offset);
      read_u32(view, offset + kLookupEntryFolder, folder_index);
      read_u32(view, offset + kLookupEntryFile, file_offset);
      read_u32(view, offset + kLookupEntryNext, next);
      const std::uint8_t flag = view[offset + kLookupEntryFlag];

      lookup_record_t record;
      record.flag = flag;
      std::uint32_t folder_offset = 0;
      const std::uint64_t folder_slot =
          kLookupFolderTable + 4 * static_cast<std::uint64_t>(folder_index);
      const bool readable = read_string(view, key_offset, record.key) &&
                            read_string(view, file_offset, record.file) &&
                            folder_slot < view.size() &&
                            read_u32(view, static_cast<std::size_t>(folder_slot), folder_offset) &&
                            read_string(view, folder_offset, record.folder);
      if (!readable)
        count(&lookup_walk_stats_t::damaged_entries, stats);
      else if (key_filter.empty() || record.key == key_filter)
        out.push_back(record);
      offset = next;
    }
  }
}

std::vector<std::wstring> lookup_cache_paths(std::span<const std::uint8_t> view,
                                             lookup_walk_stats_t* stats) {
  std::vector<lookup_record_t> records;
  walk_lookup_chains(view, kLookupFirstTable, {}, records, stats);
  walk_lookup_chains(view, kLookupSecondTable, {}, records, stats);

  // Equal byte pairs first become one, so a view that names one template many
  // times costs one conversion.
  std::set<std::pair<std::string_view, std::string_view>> live;
  for (const auto& record : records)
    if (record.flag == kLookupLiveFlag)
      live.emplace(record.folder, record.file);

  std::vector<std::wstring> paths;
  paths.reserve(live.size());
  for (const auto& [folder, file] : live) {
    if (folder.size() + file.size() > 4 * kLookupMaxPath) {
      count(&lookup_walk_stats_t::long_paths, stats);
      continue;
    }
    std::wstring path = utf8_to_wide(folder) + utf8_to_wide(file);
    if (utf16_length(path) > kLookupMaxPath) {
      count(&lookup_walk_stats_t::long_paths, stats);
      continue;
    }
    paths.push_back(std::move(path));
  }
  std::sort(paths.begin(), paths.end(), utf16_less);
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  return paths;
}

}  // namespace templates
