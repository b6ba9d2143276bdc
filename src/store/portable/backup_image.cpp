#include "store/portable/backup_image.h"

namespace backup {
namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kBmpString = 0x1E;

using bytes_t = std::vector<std::uint8_t>;

void put_header(bytes_t& out, std::uint8_t tag, std::size_t length) {
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::uint8_t digits[sizeof(std::size_t)];
  int count = 0;
  for (std::size_t rest = length; rest != 0; rest >>= 8)
    digits[count++] = static_cast<std::uint8_t>(rest & 0xFF);
  out.push_back(static_cast<std::uint8_t>(0x80 | count));
  while (count > 0)
    out.push_back(digits[--count]);
}

void put_element(bytes_t& out, std::uint8_t tag, const bytes_t& content) {
  put_header(out, tag, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

void put_text(bytes_t& out, std::u16string_view text) {
  put_header(out, kBmpString, (text.size() + 1) * 2);
  for (char16_t unit : text) {
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  out.push_back(0);
  out.push_back(0);
}

void put_octets(bytes_t& out, std::string_view bytes) {
  put_header(out, kOctetString, bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void put_integer(bytes_t& out, std::int32_t value) {
  std::uint8_t be[4];
  for (int i = 0; i < 4; ++i)
    be[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (24 - 8 * i));
  int first = 0;
  // Leading bytes that only repeat the sign of the next one are dropped.
  while (first < 3 && ((be[first] == 0x00 && (be[first + 1] & 0x80) == 0) ||
                       (be[first] == 0xFF && (be[first + 1] & 0x80) != 0)))
    ++first;
  put_header(out, kInteger, static_cast<std::size_t>(4 - first));
  out.insert(out.end(), be + first, be + 4);
}

// One element read from a bounded view.
struct element_t {
  std::uint8_t tag = 0;
  const std::uint8_t* content = nullptr;
  std::size_t length = 0;
};

class reader_t {
 public:
  reader_t(const std::uint8_t* data, std::size_t size) : m_data(data), m_left(size) {}
  bool empty() const { return m_left == 0; }

  // The next element in DER form: a single-byte tag, the shortest definite
  // length of at most four bytes, content within the view.
  bool next(element_t& e) {
    if (m_left < 2)
      return false;
    e.tag = m_data[0];
    if ((e.tag & 0x1F) == 0x1F)
      return false;
    std::size_t header = 2;
    std::size_t length = m_data[1];
    if (length & 0x80) {
      const std::size_t count = length & 0x7F;
      if (count == 0 || count > 4 || m_left < 2 + count || m_data[2] == 0)
        return false;
      length = 0;
      for (std::size_t i = 0; i < count; ++i)
        length = (length << 8) | m_data[2 + i];
      if (length < 0x80)
        return false;
      header += count;
    }
    if (length > m_left - header)
      return false;
    e.content = m_data + header;
    e.length = length;
    m_data += header + length;
    m_left -= header + length;
    return true;
  }

  bool next(element_t& e, std::uint8_t tag) { return next(e) && e.tag == tag; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_left;
};

bool read_text(reader_t& r, std::u16string& text) {
  element_t e;
  if (!r.next(e, kBmpString) || e.length < 2 || e.length % 2 != 0)
    return false;
  const std::size_t units = e.length / 2 - 1;
  text.clear();
  text.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>((e.content[2 * i] << 8) | e.content[2 * i + 1]);
    if (unit == 0)
      return false;  // a text ends at its one terminator
    text.push_back(unit);
  }
  return e.content[e.length - 2] == 0 && e.content[e.length - 1] == 0;
}

bool read_integer(reader_t& r, std::int32_t& value) {
  element_t e;
  if (!r.next(e, kInteger) || e.length == 0 || e.length > 4)
    return false;
  if (e.length > 1 && ((e.content[0] == 0x00 && (e.content[1] & 0x80) == 0) ||
                       (e.content[0] == 0xFF && (e.content[1] & 0x80) != 0)))
    return false;  // not the shortest form
  std::uint32_t bits = (e.content[0] & 0x80) ? 0xFFFFFFFFu : 0u;
  for (std::size_t i = 0; i < e.length; ++i)
    bits = (bits << 8) | e.content[i];
  value = static_cast<std::int32_t>(bits);
  return true;
}

// Reads a SEQUENCE OF SEQUENCE whose every element `read_one` takes whole.
template <typename T, typename ReadOne>
std::optional<std::vector<T>> read_part(const element_t& part, ReadOne read_one) {
  std::vector<T> items;
  reader_t outer(part.content, part.length);
  while (!outer.empty()) {
    element_t e;
    if (!outer.next(e, kSequence))
      return std::nullopt;
    reader_t inner(e.content, e.length);
    T item;
    if (!read_one(inner, item) || !inner.empty())
      return std::nullopt;
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

std::vector<std::uint8_t> build(const image_t& image) {
  bytes_t parts;
  bytes_t part;
  bytes_t element;
  for (const template_file_t& t : image.templates) {
    element.clear();
    put_text(element, t.name);
    put_octets(element, t.bytes);
    put_element(part, kSequence, element);
  }
  put_element(parts, kSequence, part);
  part.clear();
  for (const link_t& l : image.links) {
    element.clear();
    put_text(element, l.name);
    put_text(element, l.target);
    put_text(element, l.template_file);
    put_integer(element, l.profile);
    put_text(element, l.template_id);
    put_element(part, kSequence, element);
  }
  put_element(parts, kSequence, part);
  part.clear();
  for (const category_t& c : image.categories) {
    element.clear();
    put_text(element, c.name);
    put_text(element, c.members);
    put_element(part, kSequence, element);
  }
  put_element(parts, kSequence, part);
  bytes_t out;
  out.reserve(parts.size() + 6);
  put_element(out, kSequence, parts);
  return out;
}

std::optional<parsed_image_t> parse(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr)
    return std::nullopt;
  reader_t top(data, size);
  element_t outer;
  if (!top.next(outer, kSequence) || !top.empty())
    return std::nullopt;
  reader_t parts_reader(outer.content, outer.length);
  element_t parts[3];
  for (element_t& part : parts) {
    if (!parts_reader.next(part, kSequence))
      return std::nullopt;
  }
  if (!parts_reader.empty())
    return std::nullopt;

  parsed_image_t parsed;
  parsed.templates = read_part<template_file_t>(parts[0], [](reader_t& r, template_file_t& t) {
    element_t bytes;
    if (!read_text(r, t.name) || !r.next(bytes, kOctetString))
      return false;
    t.bytes.assign(reinterpret_cast<const char*>(bytes.content), bytes.length);
    return true;
  });
  parsed.links = read_part<link_t>(parts[1], [](reader_t& r, link_t& l) {
    return read_text(r, l.name) && read_text(r, l.target) && read_text(r, l.template_file) &&
           read_integer(r, l.profile) && read_text(r, l.template_id);
  });
  parsed.categories = read_part<category_t>(parts[2], [](reader_t& r, category_t& c) {
    return read_text(r, c.name) && read_text(r, c.members);
  });
  return parsed;
}

bool is_template_file_name(std::u16string_view name) {
  if (name.size() <= 4 || name.find(u"..") != std::u16string_view::npos)
    return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' ||
        c == u'<' || c == u'>' || c == u'|')
      return false;
  }
  const std::u16string_view ext = name.substr(name.size() - 4);
  return ext[0] == u'.' && (ext[1] | 0x20) == u'c' && (ext[2] | 0x20) == u'v' &&
         (ext[3] | 0x20) == u'm';
}

}  // namespace backup
