// The named in-memory storage: a tree of named entries and its binary image.
//
// Profiles travel between the dashboard, the resident agent and the protected
// storage as images of such trees. A section maps names (8-bit strings, ordered
// byte-wise) to entries held by shared ownership; entries are sections, values
// (a kind byte and a payload), arrays of sections and arrays of values.
//
// Image (little-endian):
//   A2 49 4D F3  D9 1E 9F 88  version (1)  root section
//   section        01 count { name NUL entry }        entries sorted by name
//   value          02 kind length bytes
//   sections array 03 count { section }
//   values array   04 kind count { length bytes }
// Counts and lengths use the variable widths of running_ptr.h.
//
// Operations take the storage and an optional section; without a section they
// act on the storage's root. Operations that add to the tree throw
// std::bad_alloc when memory runs out; Save and Load report it as failure (0).
// No locking: a storage belongs to one thread at a time; the entries' reference
// counts are atomic, so entries may be shared between storages on different
// threads.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/portable/entry_arena.h"
#include "store/portable/memory_block.h"
#include "store/portable/running_ptr.h"
#include "store/portable/secure_memory.h"

namespace serialization {
namespace StorageNamed {
namespace InMemStorageSpace {

// Entry tags, the first byte of every entry's encoding.
enum : std::uint8_t {
  kTagSection = 1,
  kTagValue = 2,
  kTagSectionsArray = 3,
  kTagValuesArray = 4,
};

// Value kinds.
enum : std::uint8_t {
  kKindInteger = 1,  // 32-bit integer, 4 bytes little-endian
  kKindString = 2,   // 8-bit string with its terminating NUL
  kKindWString = 3,  // UTF-16LE string with its terminating zero
};

inline constexpr std::uint32_t kImageMagic1 = 0xF34D49A2;
inline constexpr std::uint32_t kImageMagic2 = 0x889F1ED9;
inline constexpr std::uint8_t kImageVersion = 1;
inline constexpr std::size_t kImageHeaderSize = 9;
// Sections and arrays nested deeper than this in an image fail its load, so
// that a hostile image cannot exhaust the stack.
inline constexpr unsigned kMaxNesting = 64;

class ISSectionEntry {
 public:
  virtual ~ISSectionEntry() = default;
  // One of the kTag values.
  virtual std::uint8_t type() const noexcept = 0;
  // Bytes write() produces.
  virtual std::uint64_t serialized_size() const noexcept = 0;
  // Writes the entry, tag first; returns the bytes written, 0 when they do not fit.
  virtual std::size_t write(running_ptr& cursor) const noexcept = 0;
  // Replaces the entry's contents with the encoding at the cursor; returns the
  // bytes consumed, 0 when the tag there is not this entry's or the encoding is
  // damaged. depth is the nesting level of this entry. Throws std::bad_alloc.
  virtual std::size_t read(running_ptr& cursor, unsigned depth) = 0;

  // type() without a virtual call, for the walks over whole trees.
  std::uint8_t tag() const noexcept { return m_tag; }

 protected:
  explicit ISSectionEntry(std::uint8_t tag) noexcept : m_tag(tag) {}
  ISSectionEntry(const ISSectionEntry&) = delete;
  ISSectionEntry& operator=(const ISSectionEntry&) = delete;

 private:
  const std::uint8_t m_tag;
};

using entry_ptr = boost::shared_ptr<ISSectionEntry>;

class CSSection final : public ISSectionEntry {
 public:
  using value_type = std::pair<std::string, entry_ptr>;
  // Kept sorted by name (byte-wise), names unique.
  using map_type = std::vector<value_type, entries_allocator<value_type>>;

  CSSection() noexcept : ISSectionEntry(kTagSection) {}

  std::uint8_t type() const noexcept override { return kTagSection; }
  std::uint64_t serialized_size() const noexcept override;
  std::size_t write(running_ptr& cursor) const noexcept override;
  std::size_t read(running_ptr& cursor, unsigned depth) override;
  // The same, carving what it reads from the arena when one is given.
  std::size_t read(running_ptr& cursor, unsigned depth, entry_arena* arena);

  entry_ptr find(std::string_view name) const noexcept;
  // Inserts or replaces. Throws std::bad_alloc.
  void set(std::string_view name, entry_ptr entry);
  bool remove(std::string_view name) noexcept;
  void clear() noexcept { m_entries.clear(); }
  void swap(CSSection& other) noexcept { m_entries.swap(other.m_entries); }

  const map_type& entries() const noexcept { return m_entries; }
  std::size_t count() const noexcept { return m_entries.size(); }
  bool empty() const noexcept { return m_entries.empty(); }

 private:
  map_type::iterator lower_bound(std::string_view name) noexcept;
  map_type::const_iterator lower_bound(std::string_view name) const noexcept;

  map_type m_entries;
};

using section_ptr = boost::shared_ptr<CSSection>;

class CSValue final : public ISSectionEntry {
 public:
  explicit CSValue(std::uint8_t kind = 0) noexcept : ISSectionEntry(kTagValue), m_kind(kind) {}

  std::uint8_t type() const noexcept override { return kTagValue; }
  std::uint64_t serialized_size() const noexcept override;
  std::size_t write(running_ptr& cursor) const noexcept override;
  std::size_t read(running_ptr& cursor, unsigned depth) override;
  // The same, carving what it reads from the arena when one is given.
  std::size_t read(running_ptr& cursor, unsigned depth, entry_arena* arena);

  std::uint8_t kind() const noexcept { return m_kind; }
  void set_kind(std::uint8_t kind) noexcept { m_kind = kind; }
  CMemoryObjectEx& payload() noexcept { return m_payload; }
  const CMemoryObjectEx& payload() const noexcept { return m_payload; }

 private:
  std::uint8_t m_kind;
  CMemoryObjectEx m_payload;
};

// What the two array kinds have in common: their elements, in insertion order,
// and the entry operations (which the arrays implement once for both bases).
template <typename Element>
class CSEntriesArrayBase {
 public:
  using element_ptr = boost::shared_ptr<Element>;
  using element_list = std::vector<element_ptr, entries_allocator<element_ptr>>;

  virtual ~CSEntriesArrayBase() = default;
  virtual std::uint8_t type() const noexcept = 0;
  virtual std::uint64_t serialized_size() const noexcept = 0;
  virtual std::size_t write(running_ptr& cursor) const noexcept = 0;
  virtual std::size_t read(running_ptr& cursor, unsigned depth) = 0;

  const element_list& elements() const noexcept { return m_elements; }
  std::size_t count() const noexcept { return m_elements.size(); }
  void clear() noexcept { m_elements.clear(); }
  // Appends a new, empty element and returns it. Throws std::bad_alloc.
  element_ptr append() {
    element_ptr element = boost::make_shared<Element>();
    m_elements.push_back(element);
    return element;
  }
  void append(element_ptr element) { m_elements.push_back(std::move(element)); }

 protected:
  element_list m_elements;
};

class CSSectionsArray final : public ISSectionEntry, public CSEntriesArrayBase<CSSection> {
 public:
  CSSectionsArray() noexcept : ISSectionEntry(kTagSectionsArray) {}
  std::uint8_t type() const noexcept override { return kTagSectionsArray; }
  std::uint64_t serialized_size() const noexcept override;
  std::size_t write(running_ptr& cursor) const noexcept override;
  std::size_t read(running_ptr& cursor, unsigned depth) override;
  // The same, carving what it reads from the arena when one is given.
  std::size_t read(running_ptr& cursor, unsigned depth, entry_arena* arena);
};

class CSValuesArray final : public ISSectionEntry, public CSEntriesArrayBase<CMemoryObjectEx> {
 public:
  explicit CSValuesArray(std::uint8_t kind = 0) noexcept
      : ISSectionEntry(kTagValuesArray), m_kind(kind) {}

  std::uint8_t type() const noexcept override { return kTagValuesArray; }
  std::uint64_t serialized_size() const noexcept override;
  std::size_t write(running_ptr& cursor) const noexcept override;
  std::size_t read(running_ptr& cursor, unsigned depth) override;
  // The same, carving what it reads from the arena when one is given.
  std::size_t read(running_ptr& cursor, unsigned depth, entry_arena* arena);

  std::uint8_t kind() const noexcept { return m_kind; }
  void set_kind(std::uint8_t kind) noexcept { m_kind = kind; }

 private:
  std::uint8_t m_kind;
};

using sections_array_ptr = boost::shared_ptr<CSSectionsArray>;
using values_array_ptr = boost::shared_ptr<CSValuesArray>;

class CInMemStorage {
 public:
  CInMemStorage() = default;
  CInMemStorage(const CInMemStorage&) = delete;
  CInMemStorage& operator=(const CInMemStorage&) = delete;
  virtual ~CInMemStorage() = default;

  // Removes the entry of that name from the section (the root when none is
  // given); false when there was none.
  virtual bool Remove(std::string_view name, CSSection* section = nullptr) noexcept;

  CSSection& root() noexcept { return m_root; }
  const CSSection& root() const noexcept { return m_root; }

 private:
  CSSection m_root;
};

// Position in a sections array; keeps the array alive while it is walked.
struct sections_iterator {
  sections_array_ptr array;
  std::size_t index = 0;
};

// The entry of that name, or none.
entry_ptr Find(const CInMemStorage& storage, const CSSection* section, std::string_view name);

// Inserts the entry under the name, replacing an entry of that name. False for
// a null entry, a name holding a NUL (images end names with one) or an entry
// that contains the section itself.
bool SetEntry(CInMemStorage& storage,
              std::string_view name,
              entry_ptr entry,
              CSSection* section = nullptr);

// Stores a copy of the bytes as a value of that kind: a new value when the name
// is free, the existing value's payload and kind otherwise. False when the name
// holds an entry that is not a value.
bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              const memoryblock_T<aloocator_cpp>& bytes,
              std::uint8_t kind);
// Typed forms: an integer (kind 1), an 8-bit string (kind 2) and a wide string
// as UTF-16LE (kind 3), each string with its terminator.
bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::int32_t value);
bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::string_view value);
bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::wstring_view value);

// Copies a value's payload out; false when the entry is missing or not a value.
// The kind is not checked. An integer takes the first (up to) four payload bytes
// as its low-order bytes, its other bytes keep their value. A string takes the
// payload up to its first terminator, never beyond the payload; wide strings
// read UTF-16LE code units.
bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::int32_t& value);
bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::string& value);
bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::wstring& value);
bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              secure_wstring& value);
bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              CMemoryObjectEx& payload,
              std::uint8_t* kind = nullptr);

// The fresh, empty first section of a sections array of that name. An existing
// sections array is emptied and reused, an existing value is replaced; an
// existing section or values array makes the call fail (null). The array is
// handed out through array when asked.
section_ptr CreateSectionsArray(CInMemStorage& storage,
                                CSSection* section,
                                std::string_view name,
                                sections_array_ptr* array = nullptr);

// Appends a new, empty section to the array and returns it.
section_ptr AppendSection(CSSectionsArray& array);

// The first section of the sections array of that name, with the iterator on
// it; null when the entry is not a sections array or the array is empty.
section_ptr OpenSectionsArray(const CInMemStorage& storage,
                              const CSSection* section,
                              std::string_view name,
                              sections_iterator& iterator);

// The next section of the array, or null at the end.
section_ptr NextSection(sections_iterator& iterator) noexcept;

bool Remove(CInMemStorage& storage, std::string_view name, CSSection* section = nullptr) noexcept;

// Size of the storage's image (header included).
std::uint64_t ImageSize(const CInMemStorage& storage) noexcept;
// Writes the image into out, whose size must be ImageSize(storage).
bool WriteImage(const CInMemStorage& storage, std::uint8_t* out, std::size_t size) noexcept;

// Writes the image into the block, allocated through the block's own policy at
// exactly the image size (the only allocation). Returns the image size, 0 on
// failure (the block is then empty).
template <typename Allocator>
std::uint32_t Save(const CInMemStorage& storage, memoryblock_T<Allocator>& block) noexcept {
  const std::uint64_t size = ImageSize(storage);
  if (size > UINT32_MAX) {
    block.release();
    return 0;
  }
  std::uint8_t* out = nullptr;
  try {
    out = block.allocate(static_cast<std::uint32_t>(size));
  } catch (...) {
    return 0;
  }
  if (!WriteImage(storage, out, static_cast<std::size_t>(size))) {
    block.release();
    return 0;
  }
  return static_cast<std::uint32_t>(size);
}

// Reads an image into the storage's root; returns the bytes consumed (header
// included), 0 when the bytes are not an image: 9 bytes or fewer, a wrong magic,
// a version above 1, or a damaged or too deeply nested tree. On failure the
// storage is left as it was.
std::size_t Load(const std::uint8_t* bytes, std::size_t size, CInMemStorage& storage) noexcept;

// Where a load places the entries it makes: carved from shared chunks (what Load
// does) or each in a heap block of its own. The benchmark compares the two.
enum class load_placement_t { chunks, heap };
std::size_t Load(const std::uint8_t* bytes,
                 std::size_t size,
                 CInMemStorage& storage,
                 load_placement_t placement) noexcept;

template <typename Allocator>
std::size_t Load(const memoryblock_T<Allocator>& block, CInMemStorage& storage) noexcept {
  std::uint32_t size = 0;
  const std::uint8_t* bytes = block.data(&size);
  return Load(bytes, size, storage);
}

}  // namespace InMemStorageSpace
}  // namespace StorageNamed
}  // namespace serialization
