#include "store/portable/storage_named.h"

#include <algorithm>
#include <climits>
#include <new>
#include <tuple>

#include "store/portable/entry_arena.h"

namespace serialization {
namespace StorageNamed {
namespace InMemStorageSpace {

namespace {

// Smallest encodings, used to bound what a count may make us reserve.
constexpr std::size_t kMinSectionEntrySize = 3;  // NUL, tag, one more byte
constexpr std::size_t kMinSectionSize = 2;       // tag, count

std::uint32_t read_u32le(const std::uint8_t* p) noexcept {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void write_u32le(std::uint8_t* p, std::uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool starts_with_tag(running_ptr& cursor, std::uint8_t tag) noexcept {
  std::uint8_t found = 0;
  return cursor.peek_byte(found) && found == tag && cursor.read_byte(found);
}

// Whether a comes before b, byte-wise; names are short, so a plain loop beats
// a library call.
bool name_before(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i)
    if (a[i] != b[i])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  return a.size() < b.size();
}

std::size_t reserve_bound(std::uint64_t count, std::size_t remaining, std::size_t min_size) {
  const std::uint64_t fits = remaining / min_size;
  return static_cast<std::size_t>(count < fits ? count : fits);
}

template <typename T, typename... Args>
boost::shared_ptr<T> make_read_entry(entry_arena* arena, Args&&... args) {
  return arena ? arena->make<T>(std::forward<Args>(args)...)
               : boost::make_shared<T>(std::forward<Args>(args)...);
}

// Where a payload read from an image goes beside the heap: the load's chunk.
arena_chunk* payload_chunk(entry_arena* arena, std::uint32_t size) {
  return arena ? arena->chunk_for(size) : nullptr;
}

entry_ptr make_entry(std::uint8_t tag, entry_arena* arena) {
  switch (tag) {
    case kTagSection:
      return make_read_entry<CSSection>(arena);
    case kTagValue:
      return make_read_entry<CSValue>(arena);
    case kTagSectionsArray:
      return make_read_entry<CSSectionsArray>(arena);
    case kTagValuesArray:
      return make_read_entry<CSValuesArray>(arena);
    default:
      return entry_ptr();
  }
}

// Size and writing dispatched on the tag: the entry classes are final, so each
// call below is direct (and the small ones inlined), where a virtual call per
// entry would cost a good part of a walk over a large tree.
std::uint64_t size_of(const ISSectionEntry& entry) noexcept {
  switch (entry.tag()) {
    case kTagValue:
      return static_cast<const CSValue&>(entry).serialized_size();
    case kTagSection:
      return static_cast<const CSSection&>(entry).serialized_size();
    case kTagSectionsArray:
      return static_cast<const CSSectionsArray&>(entry).serialized_size();
    case kTagValuesArray:
      return static_cast<const CSValuesArray&>(entry).serialized_size();
    default:
      return entry.serialized_size();
  }
}

std::size_t write_entry(const ISSectionEntry& entry, running_ptr& cursor) noexcept {
  switch (entry.tag()) {
    case kTagValue:
      return static_cast<const CSValue&>(entry).write(cursor);
    case kTagSection:
      return static_cast<const CSSection&>(entry).write(cursor);
    case kTagSectionsArray:
      return static_cast<const CSSectionsArray&>(entry).write(cursor);
    case kTagValuesArray:
      return static_cast<const CSValuesArray&>(entry).write(cursor);
    default:
      return entry.write(cursor);
  }
}

std::size_t read_entry(ISSectionEntry& entry,
                       running_ptr& cursor,
                       unsigned depth,
                       entry_arena* arena) {
  switch (entry.tag()) {
    case kTagValue:
      return static_cast<CSValue&>(entry).read(cursor, depth, arena);
    case kTagSection:
      return static_cast<CSSection&>(entry).read(cursor, depth, arena);
    case kTagSectionsArray:
      return static_cast<CSSectionsArray&>(entry).read(cursor, depth, arena);
    case kTagValuesArray:
      return static_cast<CSValuesArray&>(entry).read(cursor, depth, arena);
    default:
      return entry.read(cursor, depth);
  }
}

bool valid_name(std::string_view name) noexcept {
  return name.find('\0') == std::string_view::npos;
}

const CSSection& target_of(const CInMemStorage& storage, const CSSection* section) noexcept {
  return section ? *section : storage.root();
}

CSSection& target_of(CInMemStorage& storage, CSSection* section) noexcept {
  return section ? *section : storage.root();
}

// Whether the entry is, or holds somewhere below it, the section.
bool contains(const ISSectionEntry& entry, const CSSection& section) noexcept {
  if (&entry == &section)
    return true;
  if (entry.type() == kTagSection) {
    for (const auto& child : static_cast<const CSSection&>(entry).entries())
      if (contains(*child.second, section))
        return true;
  } else if (entry.type() == kTagSectionsArray) {
    for (const auto& element : static_cast<const CSSectionsArray&>(entry).elements())
      if (contains(*element, section))
        return true;
  }
  return false;
}

// The value stored under the name, created when the name is free; null when
// the name holds another kind of entry.
CSValue* value_slot(CInMemStorage& storage, CSSection* section, std::string_view name) {
  if (!valid_name(name))
    return nullptr;
  CSSection& target = target_of(storage, section);
  entry_ptr existing = target.find(name);
  if (existing)
    return existing->type() == kTagValue ? static_cast<CSValue*>(existing.get()) : nullptr;
  boost::shared_ptr<CSValue> value = boost::make_shared<CSValue>();
  target.set(name, value);
  return value.get();
}

// The payload's buffer at exactly size bytes (the existing one when it fits).
std::uint8_t* payload_buffer(CMemoryObjectEx& payload, std::uint32_t size) {
  return payload.size() == size ? payload.data() : payload.allocate(size);
}

const CSValue* find_value(const CInMemStorage& storage,
                          const CSSection* section,
                          std::string_view name) noexcept {
  const entry_ptr entry = target_of(storage, section).find(name);
  return entry && entry->type() == kTagValue ? static_cast<const CSValue*>(entry.get()) : nullptr;
}

// The string's storage resized to length characters, to be overwritten.
wchar_t* prepare(std::wstring& out, std::size_t length) {
  out.assign(length, L'\0');
  return out.data();
}
wchar_t* prepare(secure_wstring& out, std::size_t length) {
  return out.allocate(length);
}

// UTF-16LE code units of the payload up to the first zero unit (a trailing odd
// byte is not a unit). Each code unit becomes one wchar_t.
template <typename WideString>
void assign_utf16le(WideString& out, const CMemoryObjectEx& payload) {
  std::uint32_t size = 0;
  const std::uint8_t* bytes = payload.data(&size);
  std::size_t units = 0;
  while (units < size / 2 && (bytes[2 * units] | bytes[2 * units + 1]) != 0)
    ++units;
  wchar_t* chars = prepare(out, units);
  for (std::size_t i = 0; i < units; ++i)
    chars[i] = static_cast<wchar_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

}  // namespace

// ---- CSSection ----

std::uint64_t CSSection::serialized_size() const noexcept {
  std::uint64_t size = 1 + count_width(m_entries.size());
  for (const auto& [name, entry] : m_entries)
    size += name.size() + 1 + size_of(*entry);
  return size;
}

std::size_t CSSection::write(running_ptr& cursor) const noexcept {
  const std::size_t start = cursor.offset();
  if (!cursor.write_byte(kTagSection) || !cursor.write_count(m_entries.size()))
    return 0;
  for (const auto& [name, entry] : m_entries)
    if (!cursor.write_name(name) || !write_entry(*entry, cursor))
      return 0;
  return cursor.offset() - start;
}

std::size_t CSSection::read(running_ptr& cursor, unsigned depth) {
  return read(cursor, depth, nullptr);
}

std::size_t CSSection::read(running_ptr& cursor, unsigned depth, entry_arena* arena) {
  m_entries.clear();
  if (depth > kMaxNesting)
    return 0;
  const std::size_t start = cursor.offset();
  std::uint64_t count = 0;
  if (!starts_with_tag(cursor, kTagSection) || !cursor.read_count(count))
    return 0;
  reserve_read_list(m_entries, reserve_bound(count, cursor.remaining(), kMinSectionEntrySize),
                    arena);
  // Images written by this code come sorted; anything else is sorted once at
  // the end rather than by an insertion per entry.
  bool in_order = true;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::string_view name;
    std::uint8_t tag = 0;
    if (!cursor.read_name(name) || !cursor.peek_byte(tag))
      return 0;
    entry_ptr child = make_entry(tag, arena);
    if (!child)
      break;  // an unknown tag ends the section after the entries read so far
    if (!read_entry(*child, cursor, depth + 1, arena))
      return 0;
    if (!m_entries.empty() && !name_before(m_entries.back().first, name))
      in_order = false;
    // Built from byte iterators, the string copies its few characters in a
    // loop rather than through a library call (which costs more under Wine).
    const auto* first = reinterpret_cast<const std::uint8_t*>(name.data());
    m_entries.emplace_back(std::piecewise_construct,
                           std::forward_as_tuple(first, first + name.size()),
                           std::forward_as_tuple(std::move(child)));
  }
  if (!in_order) {
    // A later entry of the same name replaces an earlier one: keep the last of
    // each run of equal names (a stable sort keeps them in reading order).
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const value_type& a, const value_type& b) { return a.first < b.first; });
    auto out = m_entries.begin();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
      if (it + 1 != m_entries.end() && (it + 1)->first == it->first)
        continue;
      if (out != it)
        *out = std::move(*it);
      ++out;
    }
    m_entries.erase(out, m_entries.end());
  }
  return cursor.offset() - start;
}

CSSection::map_type::iterator CSSection::lower_bound(std::string_view name) noexcept {
  return std::lower_bound(m_entries.begin(), m_entries.end(), name,
                          [](const value_type& entry, std::string_view key) {
                            return std::string_view(entry.first) < key;
                          });
}

CSSection::map_type::const_iterator CSSection::lower_bound(std::string_view name) const noexcept {
  return std::lower_bound(m_entries.begin(), m_entries.end(), name,
                          [](const value_type& entry, std::string_view key) {
                            return std::string_view(entry.first) < key;
                          });
}

entry_ptr CSSection::find(std::string_view name) const noexcept {
  const auto it = lower_bound(name);
  return it != m_entries.end() && it->first == name ? it->second : entry_ptr();
}

void CSSection::set(std::string_view name, entry_ptr entry) {
  const auto it = lower_bound(name);
  if (it != m_entries.end() && it->first == name)
    it->second = std::move(entry);
  else
    m_entries.emplace(it, std::string(name), std::move(entry));
}

bool CSSection::remove(std::string_view name) noexcept {
  const auto it = lower_bound(name);
  if (it == m_entries.end() || it->first != name)
    return false;
  m_entries.erase(it);
  return true;
}

// ---- CSValue ----

std::uint64_t CSValue::serialized_size() const noexcept {
  return 2 + count_width(m_payload.size()) + m_payload.size();
}

std::size_t CSValue::write(running_ptr& cursor) const noexcept {
  // One bounds check for the whole entry.
  const std::uint32_t length = m_payload.size();
  const std::size_t width = count_width(length);
  const std::size_t total = 2 + width + length;
  std::uint8_t* out = cursor.claim(total);
  if (out == nullptr)
    return 0;
  out[0] = kTagValue;
  out[1] = m_kind;
  put_count(out + 2, length, width);
  copy_bytes(out + 2 + width, m_payload.data(), length);
  return total;
}

std::size_t CSValue::read(running_ptr& cursor, unsigned depth) {
  return read(cursor, depth, nullptr);
}

std::size_t CSValue::read(running_ptr& cursor, unsigned, entry_arena* arena) {
  const std::size_t start = cursor.offset();
  std::uint64_t length = 0;
  if (!starts_with_tag(cursor, kTagValue) || !cursor.read_byte(m_kind) ||
      !cursor.read_count(length) || length > cursor.remaining())
    return 0;
  const auto size = static_cast<std::uint32_t>(length);
  m_payload.set_carved(cursor.take(size), size, payload_chunk(arena, size));
  return cursor.offset() - start;
}

// ---- CSSectionsArray ----

std::uint64_t CSSectionsArray::serialized_size() const noexcept {
  std::uint64_t size = 1 + count_width(m_elements.size());
  for (const auto& element : m_elements)
    size += element->CSSection::serialized_size();
  return size;
}

std::size_t CSSectionsArray::write(running_ptr& cursor) const noexcept {
  const std::size_t start = cursor.offset();
  if (!cursor.write_byte(kTagSectionsArray) || !cursor.write_count(m_elements.size()))
    return 0;
  for (const auto& element : m_elements)
    if (!element->CSSection::write(cursor))
      return 0;
  return cursor.offset() - start;
}

std::size_t CSSectionsArray::read(running_ptr& cursor, unsigned depth) {
  return read(cursor, depth, nullptr);
}

std::size_t CSSectionsArray::read(running_ptr& cursor, unsigned depth, entry_arena* arena) {
  m_elements.clear();
  if (depth > kMaxNesting)
    return 0;
  const std::size_t start = cursor.offset();
  std::uint64_t count = 0;
  if (!starts_with_tag(cursor, kTagSectionsArray) || !cursor.read_count(count))
    return 0;
  reserve_read_list(m_elements, reserve_bound(count, cursor.remaining(), kMinSectionSize), arena);
  for (std::uint64_t i = 0; i < count; ++i) {
    section_ptr element = make_read_entry<CSSection>(arena);
    if (!element->read(cursor, depth + 1, arena))
      return 0;
    m_elements.push_back(std::move(element));
  }
  return cursor.offset() - start;
}

// ---- CSValuesArray ----

std::uint64_t CSValuesArray::serialized_size() const noexcept {
  std::uint64_t size = 2 + count_width(m_elements.size());
  for (const auto& element : m_elements)
    size += count_width(element->size()) + element->size();
  return size;
}

std::size_t CSValuesArray::write(running_ptr& cursor) const noexcept {
  const std::size_t start = cursor.offset();
  if (!cursor.write_byte(kTagValuesArray) || !cursor.write_byte(m_kind) ||
      !cursor.write_count(m_elements.size()))
    return 0;
  for (const auto& element : m_elements) {
    if (!cursor.write_count(element->size()))
      return 0;
    if (element->size() && !cursor.write_bytes(element->data(), element->size()))
      return 0;
  }
  return cursor.offset() - start;
}

std::size_t CSValuesArray::read(running_ptr& cursor, unsigned depth) {
  return read(cursor, depth, nullptr);
}

std::size_t CSValuesArray::read(running_ptr& cursor, unsigned depth, entry_arena* arena) {
  m_elements.clear();
  if (depth > kMaxNesting)
    return 0;
  const std::size_t start = cursor.offset();
  std::uint64_t count = 0;
  if (!starts_with_tag(cursor, kTagValuesArray) || !cursor.read_byte(m_kind) ||
      !cursor.read_count(count))
    return 0;
  reserve_read_list(m_elements, reserve_bound(count, cursor.remaining(), 1), arena);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t length = 0;
    if (!cursor.read_count(length) || length > cursor.remaining())
      return 0;
    const auto size = static_cast<std::uint32_t>(length);
    boost::shared_ptr<CMemoryObjectEx> element = make_read_entry<CMemoryObjectEx>(arena);
    element->set_carved(cursor.take(size), size, payload_chunk(arena, size));
    m_elements.push_back(std::move(element));
  }
  return cursor.offset() - start;
}

// ---- CInMemStorage and the operations ----

bool CInMemStorage::Remove(std::string_view name, CSSection* section) noexcept {
  return target_of(*this, section).remove(name);
}

entry_ptr Find(const CInMemStorage& storage, const CSSection* section, std::string_view name) {
  return target_of(storage, section).find(name);
}

bool SetEntry(CInMemStorage& storage, std::string_view name, entry_ptr entry, CSSection* section) {
  CSSection& target = target_of(storage, section);
  if (!entry || !valid_name(name) || contains(*entry, target))
    return false;
  target.set(name, std::move(entry));
  return true;
}

bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              const memoryblock_T<aloocator_cpp>& bytes,
              std::uint8_t kind) {
  CSValue* value = value_slot(storage, section, name);
  if (!value)
    return false;
  value->payload().assign(bytes);
  value->set_kind(kind);
  return true;
}

bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::int32_t value) {
  std::uint8_t bytes[4];
  write_u32le(bytes, static_cast<std::uint32_t>(value));
  return SetValue(storage, section, name, fake_memblock_t(bytes, sizeof bytes), kKindInteger);
}

bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::string_view value) {
  if (value.size() >= UINT32_MAX)
    return false;
  CSValue* slot = value_slot(storage, section, name);
  if (!slot)
    return false;
  const auto size = static_cast<std::uint32_t>(value.size() + 1);
  std::uint8_t* out = payload_buffer(slot->payload(), size);
  if (!value.empty())
    std::memcpy(out, value.data(), value.size());
  out[value.size()] = 0;
  slot->set_kind(kKindString);
  return true;
}

bool SetValue(CInMemStorage& storage,
              CSSection* section,
              std::string_view name,
              std::wstring_view value) {
  // Characters beyond the 16-bit range (hosts with a 32-bit wchar_t) become
  // surrogate pairs.
  std::size_t units = value.size();
  if constexpr (sizeof(wchar_t) > 2) {
    for (wchar_t c : value) {
      const auto code = static_cast<std::uint32_t>(c);
      if (code > 0xFFFF)
        ++units;
    }
  }
  if (units >= UINT32_MAX / 2)
    return false;
  CSValue* slot = value_slot(storage, section, name);
  if (!slot)
    return false;
  const auto size = static_cast<std::uint32_t>((units + 1) * 2);
  std::uint8_t* out = payload_buffer(slot->payload(), size);
  auto put = [&out](std::uint32_t unit) {
    *out++ = static_cast<std::uint8_t>(unit);
    *out++ = static_cast<std::uint8_t>(unit >> 8);
  };
  for (wchar_t c : value) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code > 0xFFFF && code <= 0x10FFFF) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else if (code > 0xFFFF) {
      put(0xFFFD);
      put(0xFFFD);
    } else {
      put(code);
    }
  }
  put(0);
  slot->set_kind(kKindWString);
  return true;
}

bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::int32_t& value) {
  const CSValue* found = find_value(storage, section, name);
  if (!found)
    return false;
  std::uint32_t size = 0;
  const std::uint8_t* bytes = found->payload().data(&size);
  auto result = static_cast<std::uint32_t>(value);
  for (std::uint32_t i = 0; i < size && i < 4; ++i)
    result = (result & ~(std::uint32_t{0xFF} << (8 * i))) | std::uint32_t{bytes[i]} << (8 * i);
  value = static_cast<std::int32_t>(result);
  return true;
}

bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::string& value) {
  const CSValue* found = find_value(storage, section, name);
  if (!found)
    return false;
  std::uint32_t size = 0;
  const auto* bytes = reinterpret_cast<const char*>(found->payload().data(&size));
  std::size_t length = 0;
  while (length < size && bytes[length] != 0)
    ++length;
  value.assign(bytes ? bytes : "", length);
  return true;
}

bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              std::wstring& value) {
  const CSValue* found = find_value(storage, section, name);
  if (!found)
    return false;
  assign_utf16le(value, found->payload());
  return true;
}

bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              secure_wstring& value) {
  const CSValue* found = find_value(storage, section, name);
  if (!found)
    return false;
  assign_utf16le(value, found->payload());
  return true;
}

bool GetValue(const CInMemStorage& storage,
              const CSSection* section,
              std::string_view name,
              CMemoryObjectEx& payload,
              std::uint8_t* kind) {
  const CSValue* found = find_value(storage, section, name);
  if (!found)
    return false;
  payload.assign(found->payload());
  if (kind)
    *kind = found->kind();
  return true;
}

section_ptr CreateSectionsArray(CInMemStorage& storage,
                                CSSection* section,
                                std::string_view name,
                                sections_array_ptr* array_out) {
  if (!valid_name(name))
    return section_ptr();
  CSSection& target = target_of(storage, section);
  sections_array_ptr array;
  if (const entry_ptr existing = target.find(name)) {
    if (existing->type() == kTagSectionsArray) {
      array = boost::static_pointer_cast<CSSectionsArray>(existing);
      array->clear();
    } else if (existing->type() != kTagValue) {
      return section_ptr();
    }
  }
  if (!array) {
    array = boost::make_shared<CSSectionsArray>();
    target.set(name, array);
  }
  section_ptr first = array->append();
  if (array_out)
    *array_out = array;
  return first;
}

section_ptr AppendSection(CSSectionsArray& array) {
  return array.append();
}

section_ptr OpenSectionsArray(const CInMemStorage& storage,
                              const CSSection* section,
                              std::string_view name,
                              sections_iterator& iterator) {
  const entry_ptr entry = target_of(storage, section).find(name);
  if (!entry || entry->type() != kTagSectionsArray)
    return section_ptr();
  sections_array_ptr array = boost::static_pointer_cast<CSSectionsArray>(entry);
  if (array->count() == 0)
    return section_ptr();
  iterator.array = std::move(array);
  iterator.index = 0;
  return iterator.array->elements().front();
}

section_ptr NextSection(sections_iterator& iterator) noexcept {
  if (!iterator.array)
    return section_ptr();
  const std::size_t count = iterator.array->count();
  if (iterator.index + 1 >= count) {
    iterator.index = count;
    return section_ptr();
  }
  return iterator.array->elements()[++iterator.index];
}

bool Remove(CInMemStorage& storage, std::string_view name, CSSection* section) noexcept {
  return storage.Remove(name, section);
}

std::uint64_t ImageSize(const CInMemStorage& storage) noexcept {
  return kImageHeaderSize + storage.root().serialized_size();
}

bool WriteImage(const CInMemStorage& storage, std::uint8_t* out, std::size_t size) noexcept {
  if (out == nullptr || size < kImageHeaderSize)
    return false;
  write_u32le(out, kImageMagic1);
  write_u32le(out + 4, kImageMagic2);
  out[8] = kImageVersion;
  running_ptr cursor(out + kImageHeaderSize, size - kImageHeaderSize);
  const std::size_t written = storage.root().write(cursor);
  return written != 0 && written == size - kImageHeaderSize;
}

std::size_t Load(const std::uint8_t* bytes, std::size_t size, CInMemStorage& storage) noexcept {
  return Load(bytes, size, storage, load_placement_t::chunks);
}

std::size_t Load(const std::uint8_t* bytes,
                 std::size_t size,
                 CInMemStorage& storage,
                 load_placement_t placement) noexcept {
  if (bytes == nullptr || size <= kImageHeaderSize || read_u32le(bytes) != kImageMagic1 ||
      read_u32le(bytes + 4) != kImageMagic2 || bytes[8] > kImageVersion)
    return 0;
  try {
    CSSection root;
    entry_arena arena;
    running_ptr cursor =
        running_ptr::for_reading(bytes + kImageHeaderSize, size - kImageHeaderSize);
    const std::size_t consumed =
        root.read(cursor, 0, placement == load_placement_t::chunks ? &arena : nullptr);
    if (consumed == 0)
      return 0;
    storage.root().swap(root);
    return kImageHeaderSize + consumed;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace InMemStorageSpace
}  // namespace StorageNamed
}  // namespace serialization
