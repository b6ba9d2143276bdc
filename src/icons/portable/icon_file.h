// The checks a cached icon file passes before its bytes reach the system: the
// icon header and directory, every entry inside the file, and the entry that
// a 16 x 16 icon is made of, a PNG or a device-independent bitmap of sane
// size whose pixels and masks lie inside its entry. Platform-free.
//
//   if (auto image = icons::small_icon_image(bytes, size))
//     CreateIconFromResourceEx(bytes + image->offset, image->size, TRUE, 0x00030000, 16, 16, 0);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace icons {

// The largest icon body the cache accepts.
inline constexpr std::size_t kMaxIconFileBytes = 1024 * 1024;

struct icon_image_t {
  std::size_t offset = 0;  // of the image within the file
  std::size_t size = 0;    // bytes of the image
  bool png = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// The image of the file's entry that best fits 16 x 16: an entry of exactly
// that size (the deepest colours among them), else the smallest larger one,
// else the largest. nullopt when the file is no icon file this component
// accepts (cursors included), larger than kMaxIconFileBytes, or when that
// entry's image is not whole.
std::optional<icon_image_t> small_icon_image(const std::uint8_t* data, std::size_t size);

// Whether a unique identifier can name a cache file: 1 to 128 characters, no
// control characters, no path separators, drive or stream colons, wildcards or
// "..", and not "." alone.
bool is_plain_file_name(std::wstring_view unique_id);

// A cached icon is refreshed when its last write is 31 days or more before
// now (100-ns units). The difference is unsigned, so a last write in the
// future counts as expired too.
inline constexpr std::uint64_t kIconLifetime = 31ull * 864000000000ull;
inline bool icon_expired(std::uint64_t now, std::uint64_t last_write) {
  return now - last_write >= kIconLifetime;
}

}  // namespace icons
