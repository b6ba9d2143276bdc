// Icon files for the icon tests: a 16 x 16 icon of 32-bit pixels, the same
// size as a PNG inside an icon file, and a bare PNG.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace icontest {

inline void put16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8 & 0xFF));
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// An icon file of (image, side) entries, 32 bits each, images in order.
inline std::string icon_file_of(const std::vector<std::pair<std::string, unsigned>>& entries) {
  std::string head, images;
  for (std::uint32_t v : {0u, 1u, static_cast<std::uint32_t>(entries.size())})
    put16(head, v);
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const auto& [image, side] : entries) {
    put16(head, (side & 0xFF) | (side & 0xFF) << 8);
    for (std::uint32_t v : {0u, 1u, 32u})
      put16(head, v);
    put32(head, static_cast<std::uint32_t>(image.size()));
    put32(head, offset);
    offset += static_cast<std::uint32_t>(image.size());
    images += image;
  }
  return head + images;
}

// A bitmap image of side x side pixels, 32 bits, one colour, with its mask.
inline std::string dib_image(unsigned side, std::uint32_t colour) {
  std::string s;
  put32(s, 40);
  put32(s, side);
  put32(s, side * 2);
  put16(s, 1);
  put16(s, 32);
  for (int i = 0; i < 6; ++i)
    put32(s, 0);
  for (unsigned i = 0; i < side * side; ++i)
    put32(s, colour);
  s.append(static_cast<std::size_t>((side + 31) / 32 * 4 * side), '\0');
  return s;
}

inline std::string dib_icon(std::uint32_t colour = 0xFF2080E0) {
  return icon_file_of({{dib_image(16, colour), 16}});
}

inline std::string png_image() {
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x08, 0x06, 0x00, 0x00,
      0x00, 0x1F, 0xF3, 0xFF, 0x61, 0x00, 0x00, 0x00, 0x19, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9C, 0x63, 0x50, 0x68, 0x78, 0xF0, 0x9F, 0x12, 0xCC, 0x30, 0x6A, 0xC0, 0xA8, 0x01,
      0xA3, 0x06, 0x0C, 0x17, 0x03, 0x00, 0xC9, 0x80, 0x7F, 0x1F, 0x9C, 0x40, 0x8A, 0x35,
      0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(kPng), sizeof kPng);
}

inline std::string png_icon() {
  return icon_file_of({{png_image(), 16}});
}

}  // namespace icontest
