#include "crypto/portable/der_check.h"

namespace crypto {
namespace {

constexpr int kMaxDepth = 8;
constexpr std::uint8_t kConstructed = 0x20;
constexpr std::uint8_t kTagNumberMask = 0x1F;

bool is_series(const std::uint8_t* p, std::size_t size, int depth) {
  while (size > 0) {
    std::size_t header = 0, length = 0;
    if (!read_der_header(p, size, header, length))
      return false;
    if ((p[0] & kConstructed) != 0 &&
        (depth >= kMaxDepth || !is_series(p + header, length, depth + 1)))
      return false;
    p += header + length;
    size -= header + length;
  }
  return true;
}

}  // namespace

bool read_der_header(const std::uint8_t* p,
                     std::size_t size,
                     std::size_t& header,
                     std::size_t& length) noexcept {
  if (p == nullptr || size < 2 || (p[0] & kTagNumberMask) == kTagNumberMask)
    return false;
  if (p[1] < 0x80) {
    header = 2;
    length = p[1];
  } else {
    const std::size_t count = p[1] & 0x7F;  // 0: indefinite length, not DER
    if (count == 0 || count > 4 || size < 2 + count)
      return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i)
      length = length << 8 | p[2 + i];
    header = 2 + count;
  }
  return length <= size - header;
}

bool is_single_der_element(const std::uint8_t* data, std::size_t size) noexcept {
  std::size_t header = 0, length = 0;
  if (data == nullptr || !read_der_header(data, size, header, length) || header + length != size)
    return false;
  return (data[0] & kConstructed) == 0 || is_series(data + header, length, 1);
}

}  // namespace crypto
