// The cursor with which images are written and read.
//
// A running_ptr walks [begin, begin + size). Every primitive reports the number
// of bytes it covers; when those bytes do not fit in what remains it reports 0,
// the cursor stays where it was and no byte outside the range is touched.
// (Primitives asked for zero bytes also report 0: callers test such lengths
// themselves.)
//
// Variable-length counts: the two low bits of the first byte give the width
// (0: 1 byte, 1: 2 bytes, 2: 4 bytes, 3: 8 bytes), the value is the whole
// little-endian unit shifted right by two. Writers take the smallest width that
// holds the value; readers accept any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/portable/copy_bytes.h"

namespace serialization {

// Largest value a count can carry (eight bytes, two of its bits for the width).
inline constexpr std::uint64_t kMaxCount = (std::uint64_t{1} << 62) - 1;

// Bytes the count takes when written (0 above kMaxCount).
constexpr std::size_t count_width(std::uint64_t value) noexcept {
  return value < 0x40         ? 1
         : value < 0x4000     ? 2
         : value < 0x40000000 ? 4
         : value <= kMaxCount ? 8
                              : 0;
}

// Writes value as a count of the given width (count_width(value)).
inline void put_count(std::uint8_t* out, std::uint64_t value, std::size_t width) noexcept {
  const std::uint64_t unit = (value << 2) | (width == 1   ? 0u
                                             : width == 2 ? 1u
                                             : width == 4 ? 2u
                                                          : 3u);
  for (std::size_t i = 0; i < width; ++i)
    out[i] = static_cast<std::uint8_t>(unit >> (8 * i));
}

class running_ptr {
 public:
  running_ptr(std::uint8_t* begin, std::size_t size) noexcept
      : m_begin(begin), m_current(begin), m_size(begin ? size : 0) {}
  // A cursor over bytes that are only read: the write primitives are never
  // used on it.
  static running_ptr for_reading(const std::uint8_t* begin, std::size_t size) noexcept {
    return running_ptr(const_cast<std::uint8_t*>(begin), size);
  }

  std::uint8_t* begin() const noexcept { return m_begin; }
  std::uint8_t* current() const noexcept { return m_current; }
  std::size_t size() const noexcept { return m_size; }
  std::size_t offset() const noexcept { return static_cast<std::size_t>(m_current - m_begin); }
  std::size_t remaining() const noexcept { return m_size - offset(); }

  // Writing.
  std::size_t write_byte(std::uint8_t value) noexcept {
    if (remaining() < 1)
      return 0;
    *m_current++ = value;
    return 1;
  }
  std::size_t write_bytes(const void* bytes, std::size_t length) noexcept {
    if (length == 0 || remaining() < length)
      return 0;
    copy_bytes(m_current, static_cast<const std::uint8_t*>(bytes), length);
    m_current += length;
    return length;
  }
  std::size_t write_count(std::uint64_t value) noexcept {
    const std::size_t width = count_width(value);
    if (width == 0 || remaining() < width)
      return 0;
    put_count(m_current, value, width);
    m_current += width;
    return width;
  }
  // The next length bytes, to be written by the caller; null (and the cursor
  // unmoved) when fewer remain.
  std::uint8_t* claim(std::size_t length) noexcept {
    if (length == 0 || remaining() < length)
      return nullptr;
    std::uint8_t* out = m_current;
    m_current += length;
    return out;
  }
  // The name's bytes and a terminating NUL.
  std::size_t write_name(std::string_view name) noexcept {
    if (remaining() < name.size() + 1)
      return 0;
    copy_bytes(m_current, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    m_current[name.size()] = 0;
    m_current += name.size() + 1;
    return name.size() + 1;
  }

  // Reading.
  std::size_t peek_byte(std::uint8_t& value) const noexcept {
    if (remaining() < 1)
      return 0;
    value = *m_current;
    return 1;
  }
  std::size_t read_byte(std::uint8_t& value) noexcept {
    if (!peek_byte(value))
      return 0;
    ++m_current;
    return 1;
  }
  // The next length bytes, in place; null when fewer remain.
  const std::uint8_t* take(std::size_t length) noexcept {
    if (length == 0 || remaining() < length)
      return nullptr;
    const std::uint8_t* bytes = m_current;
    m_current += length;
    return bytes;
  }
  std::size_t read_count(std::uint64_t& value) noexcept {
    if (remaining() < 1)
      return 0;
    static constexpr std::size_t widths[4] = {1, 2, 4, 8};
    const std::size_t width = widths[*m_current & 3];
    if (remaining() < width)
      return 0;
    std::uint64_t unit = 0;
    for (std::size_t i = 0; i < width; ++i)
      unit |= std::uint64_t{m_current[i]} << (8 * i);
    value = unit >> 2;
    m_current += width;
    return width;
  }
  // A NUL-terminated name, in place (without its NUL); covers its bytes and
  // the NUL. Reports 0 when no NUL comes before the end.
  std::size_t read_name(std::string_view& name) noexcept {
    // Names are short: a plain scan beats a library call.
    const std::uint8_t* const end = m_begin + m_size;
    const std::uint8_t* nul = m_current;
    while (nul != end && *nul != 0)
      ++nul;
    if (nul == end)
      return 0;
    const auto length = static_cast<std::size_t>(nul - m_current);
    name = std::string_view(reinterpret_cast<const char*>(m_current), length);
    m_current += length + 1;
    return length + 1;
  }

 private:
  std::uint8_t* m_begin;
  std::uint8_t* m_current;
  std::size_t m_size;
};

}  // namespace serialization
