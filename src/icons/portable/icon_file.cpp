#include "icons/portable/icon_file.h"

#include <cstring>

namespace icons {
namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kEntryBytes = 16;
constexpr std::uint32_t kMaxSide = 256;

std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
         static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

struct entry_t {
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t bits;
  std::uint32_t bytes;
  std::uint32_t offset;
};

// Whether a candidate fits 16 x 16 better than the current choice.
bool better(const entry_t& candidate, const entry_t& current) {
  const auto exact = [](const entry_t& e) { return e.width == 16 && e.height == 16; };
  if (exact(candidate) != exact(current))
    return exact(candidate);
  if (exact(candidate))
    return candidate.bits > current.bits;
  const bool candidate_large = candidate.width >= 16;
  const bool current_large = current.width >= 16;
  if (candidate_large != current_large)
    return candidate_large;
  return candidate_large ? candidate.width < current.width : candidate.width > current.width;
}

bool png_image_ok(const std::uint8_t* p, std::size_t size, icon_image_t& image) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  // Signature, then the IHDR chunk (length, type, 13 bytes, CRC), then at
  // least one more chunk header.
  if (size < 8 + 8 + 13 + 4 + 8 || std::memcmp(p, kSignature, 8) != 0)
    return false;
  if (be32(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0)
    return false;
  const std::uint32_t width = be32(p + 16);
  const std::uint32_t height = be32(p + 20);
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
    return false;
  image.png = true;
  image.width = width;
  image.height = height;
  return true;
}

bool dib_image_ok(const std::uint8_t* p, std::size_t size, icon_image_t& image) {
  if (size < 40)
    return false;
  const std::uint32_t header = le32(p);
  if (header != 40 && header != 108 && header != 124)
    return false;
  if (header > size)
    return false;
  const auto width = static_cast<std::int32_t>(le32(p + 4));
  const auto double_height = static_cast<std::int32_t>(le32(p + 8));
  const std::uint16_t planes = le16(p + 12);
  const std::uint16_t bits = le16(p + 14);
  const std::uint32_t compression = le32(p + 16);
  const std::uint32_t colours_used = le32(p + 32);
  if (width <= 0 || static_cast<std::uint32_t>(width) > kMaxSide || double_height <= 0 ||
      double_height % 2 != 0 || static_cast<std::uint32_t>(double_height / 2) > kMaxSide ||
      planes != 1)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return false;
  std::uint64_t needed = header;
  if (compression == 3 && (bits == 16 || bits == 32)) {
    if (header == 40)
      needed += 12;  // the three colour masks follow a plain header
  } else if (compression != 0) {
    return false;
  }
  if (bits <= 8) {
    const std::uint32_t most = 1u << bits;
    if (colours_used > most)
      return false;
    needed += 4ull * (colours_used ? colours_used : most);
  } else if (colours_used > 256) {
    return false;
  } else {
    needed += 4ull * colours_used;
  }
  const auto w = static_cast<std::uint64_t>(width);
  const auto h = static_cast<std::uint64_t>(double_height / 2);
  const std::uint64_t colour_row = (w * bits + 31) / 32 * 4;
  const std::uint64_t mask_row = (w + 31) / 32 * 4;
  needed += (colour_row + mask_row) * h;
  if (needed > size)
    return false;
  image.png = false;
  image.width = static_cast<std::uint32_t>(w);
  image.height = static_cast<std::uint32_t>(h);
  return true;
}

}  // namespace

std::optional<icon_image_t> small_icon_image(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kHeaderBytes || size > kMaxIconFileBytes)
    return std::nullopt;
  if (le16(data) != 0 || le16(data + 2) != 1)
    return std::nullopt;
  const std::size_t count = le16(data + 4);
  if (count == 0 || kHeaderBytes + count * kEntryBytes > size)
    return std::nullopt;
  const std::size_t directory_end = kHeaderBytes + count * kEntryBytes;
  std::optional<entry_t> chosen;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + kHeaderBytes + i * kEntryBytes;
    entry_t entry{e[0] ? e[0] : 256u, e[1] ? e[1] : 256u, le16(e + 6), le32(e + 8), le32(e + 12)};
    // Every entry lies behind the directory and inside the file.
    if (entry.bytes == 0 || entry.offset < directory_end || entry.offset > size ||
        entry.bytes > size - entry.offset)
      return std::nullopt;
    if (!chosen || better(entry, *chosen))
      chosen = entry;
  }
  icon_image_t image;
  image.offset = chosen->offset;
  image.size = chosen->bytes;
  const std::uint8_t* p = data + image.offset;
  if (!png_image_ok(p, image.size, image) && !dib_image_ok(p, image.size, image))
    return std::nullopt;
  return image;
}

bool is_plain_file_name(std::wstring_view unique_id) {
  if (unique_id.empty() || unique_id.size() > 128 || unique_id == L"." ||
      unique_id.find(L"..") != std::wstring_view::npos)
    return false;
  for (wchar_t c : unique_id) {
    if (c < 0x20 || c == 0x7F ||
        std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos)
      return false;
  }
  return true;
}

}  // namespace icons
