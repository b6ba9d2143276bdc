// The template lookup cache the resident agent publishes in shared memory,
// walked over a byte view. The agent owns the section and may rewrite it at
// any time; the walker trusts nothing in it: every offset and every string is
// checked against the view, chains that loop end, and unreadable entries are
// skipped and counted.
//
//   std::span<const std::uint8_t> view = ...;   // a private copy of the section
//   std::vector<std::wstring> paths = templates::lookup_cache_paths(view);
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace templates {

// The layout (byte offsets from the start of the section, 32-bit
// little-endian integers, zero-terminated UTF-8 strings; offset 0 means none).
inline constexpr std::size_t kLookupHeaderSize = 0x28;
inline constexpr std::size_t kLookupBucketCount = 128;
inline constexpr std::size_t kLookupFirstTable = 0x028;
inline constexpr std::size_t kLookupSecondTable = 0x228;
inline constexpr std::size_t kLookupFolderTable = 0x554;
// An entry: key offset, folder index, file name offset, flag byte, next entry offset.
inline constexpr std::size_t kLookupEntrySize = 17;
inline constexpr std::size_t kLookupEntryKey = 0;
inline constexpr std::size_t kLookupEntryFolder = 4;
inline constexpr std::size_t kLookupEntryFile = 8;
inline constexpr std::size_t kLookupEntryFlag = 12;
inline constexpr std::size_t kLookupEntryNext = 13;
// The flag of a live template; any other value means "skip".
inline constexpr std::uint8_t kLookupLiveFlag = 0;

// One entry met on a walk. The strings point into the walked view.
struct lookup_record_t {
  std::string_view key;
  std::string_view folder;
  std::string_view file;
  std::uint8_t flag = 0;
};

// What a walk had to leave out of a damaged view.
struct lookup_walk_stats_t {
  std::size_t damaged_entries = 0;  // strings or folder index unreadable: entry skipped
  std::size_t cut_chains = 0;       // a link left the view or met an entry walked before
  std::size_t long_paths = 0;       // joined paths longer than a path can be: dropped

  bool clean() const { return damaged_entries == 0 && cut_chains == 0 && long_paths == 0; }
};

// Walks every chain of the bucket table at `table_offset` (kLookupFirstTable
// or kLookupSecondTable), buckets 0 to 127 in order. With a non-empty
// `key_filter` only entries whose key is exactly those bytes are taken.
// Records are appended to `out`.
void walk_lookup_chains(std::span<const std::uint8_t> view,
                        std::size_t table_offset,
                        std::string_view key_filter,
                        std::vector<lookup_record_t>& out,
                        lookup_walk_stats_t* stats = nullptr);

// Every live template of both tables as a full path (folder path followed by
// the file name, converted to UTF-16), sorted by UTF-16 code units, each path
// once.
std::vector<std::wstring> lookup_cache_paths(std::span<const std::uint8_t> view,
                                             lookup_walk_stats_t* stats = nullptr);

// The longest path the system can open, in UTF-16 code units.
inline constexpr std::size_t kLookupMaxPath = 32767;

}  // namespace templates
