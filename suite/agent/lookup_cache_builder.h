// The agent's writer of its template lookup cache: folders, entries in two
// bucket tables, and the image laid out as the component reads it.
//
//   standin::lookup_cache_builder_t builder;
//   const auto folder = builder.add_folder("C:\\Users\\me\\Logons\\");
//   builder.add_entry(0, "mail", folder, "mail.cvm");
//   const std::vector<std::uint8_t> image = builder.build();
//
// Layout decisions of this writer (the reader needs none of them):
// - header (0x28 bytes): "CVLC", version 1, image size, generation, folder
//   count, entry count, the offset of the entries, zero;
// - bucket of a key: the 32-bit FNV-1a hash of its bytes, modulo 128; a chain
//   holds its entries in the order they were added;
// - each distinct string is stored once, after the folder table; the entries
//   follow the strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

class lookup_cache_builder_t {
 public:
  // The index of the folder (an equal folder added before keeps its index).
  std::uint32_t add_folder(std::string_view utf8_path);
  // table: 0 for the first bucket table, 1 for the second.
  void add_entry(int table,
                 std::string_view key,
                 std::uint32_t folder,
                 std::string_view file,
                 std::uint8_t flag = 0);

  std::vector<std::uint8_t> build(std::uint32_t generation = 0) const;

  std::size_t folder_count() const { return m_folders.size(); }
  std::size_t entry_count() const { return m_entries.size(); }
  static std::uint32_t bucket_of(std::string_view key);

 private:
  struct entry_t {
    int table;
    std::string key;
    std::uint32_t folder;
    std::string file;
    std::uint8_t flag;
  };
  std::vector<std::string> m_folders;
  std::vector<entry_t> m_entries;
};

inline constexpr char kLookupCacheMagic[4] = {'C', 'V', 'L', 'C'};

}  // namespace standin
