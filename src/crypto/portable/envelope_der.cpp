#include "crypto/portable/envelope_der.h"

#include <cstring>

#include "crypto/portable/der_check.h"

namespace crypto {
namespace {

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kSequence = 0x30;
constexpr std::size_t kFormatElementSize = 3;  // 02 01 04

// Tag, length and content bytes of an element holding `content` bytes.
std::size_t element_size(std::size_t content) noexcept {
  std::size_t length_bytes = 1;
  if (content >= 0x80)
    for (std::size_t rest = content; rest != 0; rest >>= 8)
      ++length_bytes;
  return 1 + length_bytes + content;
}

// Writes tag and minimal length; returns where the content goes.
std::uint8_t* write_header(std::uint8_t tag, std::size_t content, std::uint8_t* out) noexcept {
  *out++ = tag;
  if (content < 0x80) {
    *out++ = static_cast<std::uint8_t>(content);
    return out;
  }
  const std::size_t length_bytes = element_size(content) - 2 - content;
  *out++ = static_cast<std::uint8_t>(0x80 | length_bytes);
  for (std::size_t i = length_bytes; i-- > 0;)
    *out++ = static_cast<std::uint8_t>(content >> (8 * i));
  return out;
}

std::size_t inner_content_size(std::size_t enciphered) noexcept {
  return element_size(cipher_block_t().size()) + element_size(enciphered);
}

// The element at [p, end) with the tag: its content, and p moved past it.
bool read_element(const std::uint8_t*& p,
                  const std::uint8_t* end,
                  std::uint8_t tag,
                  const std::uint8_t*& content,
                  std::size_t& length) noexcept {
  std::size_t header = 0;
  if (p >= end || *p != tag ||
      !read_der_header(p, static_cast<std::size_t>(end - p), header, length))
    return false;
  content = p + header;
  p = content + length;
  return true;
}

// A sequence filling [p, end) exactly: its content.
bool read_sequence(const std::uint8_t* p,
                   const std::uint8_t* end,
                   const std::uint8_t*& content,
                   const std::uint8_t*& content_end) noexcept {
  std::size_t length = 0;
  if (!is_single_der_element(p, static_cast<std::size_t>(end - p)) ||
      !read_element(p, end, kSequence, content, length))
    return false;
  content_end = content + length;
  return true;
}

// An INTEGER whose value is the envelope's format.
bool is_format(const std::uint8_t* content, std::size_t length) noexcept {
  std::size_t i = 0;
  while (i + 1 < length && content[i] == 0)
    ++i;
  return length > 0 && i + 1 == length && content[i] == kEnvelopeFormat;
}

}  // namespace

std::size_t envelope_size(std::size_t enciphered) noexcept {
  const std::size_t body = element_size(inner_content_size(enciphered));
  return sizeof kEnvelopeMagic + element_size(kFormatElementSize + element_size(body));
}

std::uint8_t* write_envelope(const cipher_block_t& iv,
                             std::size_t enciphered,
                             std::uint8_t* out) noexcept {
  const std::size_t inner = inner_content_size(enciphered);
  const std::size_t body = element_size(inner);
  std::memcpy(out, kEnvelopeMagic, sizeof kEnvelopeMagic);
  out =
      write_header(kSequence, kFormatElementSize + element_size(body), out + sizeof kEnvelopeMagic);
  *out++ = kInteger;
  *out++ = 1;
  *out++ = kEnvelopeFormat;
  out = write_header(kOctetString, body, out);
  out = write_header(kSequence, inner, out);
  out = write_header(kOctetString, iv.size(), out);
  std::memcpy(out, iv.data(), iv.size());
  return write_header(kOctetString, enciphered, out + iv.size());
}

std::optional<envelope_view_t> read_envelope(const std::uint8_t* data, std::size_t size) noexcept {
  if (data == nullptr || size < sizeof kEnvelopeMagic ||
      std::memcmp(data, kEnvelopeMagic, sizeof kEnvelopeMagic) != 0)
    return std::nullopt;
  const std::uint8_t *p = nullptr, *end = nullptr, *content = nullptr;
  std::size_t length = 0;
  // The outer sequence: the format, then the body's octets, nothing else.
  if (!read_sequence(data + sizeof kEnvelopeMagic, data + size, p, end) ||
      !read_element(p, end, kInteger, content, length) || !is_format(content, length) ||
      !read_element(p, end, kOctetString, content, length) || p != end)
    return std::nullopt;
  // The body: the initial vector and the enciphered bytes, nothing else.
  envelope_view_t view;
  if (!read_sequence(content, content + length, p, end) ||
      !read_element(p, end, kOctetString, view.iv, length) || length != cipher_block_t().size() ||
      !read_element(p, end, kOctetString, view.enciphered, view.size) || p != end)
    return std::nullopt;
  return view;
}

}  // namespace crypto
