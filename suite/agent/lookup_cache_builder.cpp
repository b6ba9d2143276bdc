#include "suite/agent/lookup_cache_builder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace standin {
namespace {

constexpr std::size_t kFirstTable = 0x028;
constexpr std::size_t kSecondTable = 0x228;
constexpr std::size_t kFolderTable = 0x554;
constexpr std::size_t kBuckets = 128;
constexpr std::size_t kEntrySize = 17;

void put_u32(std::vector<std::uint8_t>& image, std::size_t at, std::size_t value) {
  if (value > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("lookup cache larger than 4 GB");
  for (int i = 0; i < 4; ++i)
    image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::uint32_t lookup_cache_builder_t::bucket_of(std::string_view key) {
  std::uint32_t hash = 2166136261u;
  for (const char c : key) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 16777619u;
  }
  return hash % kBuckets;
}

std::uint32_t lookup_cache_builder_t::add_folder(std::string_view utf8_path) {
  const auto found = std::find(m_folders.begin(), m_folders.end(), utf8_path);
  if (found != m_folders.end())
    return static_cast<std::uint32_t>(found - m_folders.begin());
  m_folders.emplace_back(utf8_path);
  return static_cast<std::uint32_t>(m_folders.size() - 1);
}

void lookup_cache_builder_t::add_entry(int table,
                                       std::string_view key,
                                       std::uint32_t folder,
                                       std::string_view file,
                                       std::uint8_t flag) {
  if (table != 0 && table != 1)
    throw std::invalid_argument("bucket table 0 or 1");
  m_entries.push_back({table, std::string(key), folder, std::string(file), flag});
}

std::vector<std::uint8_t> lookup_cache_builder_t::build(std::uint32_t generation) const {
  // Strings: each distinct one once, in the order first needed.
  std::map<std::string, std::size_t> string_offsets;
  std::vector<const std::string*> strings;
  std::size_t next = kFolderTable + 4 * m_folders.size();
  auto place = [&](const std::string& text) {
    if (string_offsets.emplace(text, next).second) {
      strings.push_back(&text);
      next += text.size() + 1;
    }
  };
  for (const auto& folder : m_folders)
    place(folder);
  for (const auto& entry : m_entries) {
    place(entry.key);
    place(entry.file);
  }
  const std::size_t entries_at = next;
  const std::size_t size = entries_at + kEntrySize * m_entries.size();
  std::vector<std::uint8_t> image(size, 0);

  std::memcpy(image.data(), kLookupCacheMagic, 4);
  put_u32(image, 4, 1);
  put_u32(image, 8, size);
  put_u32(image, 12, generation);
  put_u32(image, 16, m_folders.size());
  put_u32(image, 20, m_entries.size());
  put_u32(image, 24, entries_at);

  for (const std::string* text : strings)
    std::memcpy(&image[string_offsets[*text]], text->c_str(), text->size() + 1);
  for (std::size_t i = 0; i < m_folders.size(); ++i)
    put_u32(image, kFolderTable + 4 * i, string_offsets[m_folders[i]]);

  // Entries in the order added; each is linked behind the last entry of its
  // chain, so a chain keeps that order.
  std::vector<std::size_t> tails(2 * kBuckets, 0);
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    const entry_t& entry = m_entries[i];
    const std::size_t at = entries_at + kEntrySize * i;
    put_u32(image, at, string_offsets[entry.key]);
    put_u32(image, at + 4, entry.folder);
    put_u32(image, at + 8, string_offsets[entry.file]);
    image[at + 12] = entry.flag;
    const std::size_t chain = entry.table * kBuckets + bucket_of(entry.key);
    if (tails[chain] == 0)
      put_u32(image, (entry.table == 0 ? kFirstTable : kSecondTable) + 4 * bucket_of(entry.key),
              at);
    else
      put_u32(image, tails[chain] + 13, at);
    tails[chain] = at;
  }
  return image;
}

}  // namespace standin
