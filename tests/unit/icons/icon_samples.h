// Icon files for the icon tests (a 16 x 16 icon of 32-bit pixels, a PNG inside
// an icon file, a bare PNG) and the helpers the icon tests share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace icontest {

inline void put(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    s.push_back(static_cast<char>(v >> 8 * i & 0xFF));
}
inline void put32(std::string& s, std::uint32_t v) {
  put(s, v, 4);
}

// An icon file of (image, side) entries, 32 bits each, images in order.
inline std::string icon_file_of(const std::vector<std::pair<std::string, unsigned>>& entries) {
  std::string head, images;
  put(head, 1u << 16, 4);
  put(head, static_cast<std::uint32_t>(entries.size()), 2);
  for (const auto& [image, side] : entries) {
    for (std::uint32_t v : {(side & 0xFF) * 0x101u, 0u, 1u, 32u})
      put(head, v, 2);
    put32(head, static_cast<std::uint32_t>(image.size()));
    put32(head, static_cast<std::uint32_t>(6 + 16 * entries.size() + images.size()));
    images += image;
  }
  return head + images;
}

// A bitmap image of side x side pixels, 32 bits, one colour, with its mask.
inline std::string dib_image(unsigned side, std::uint32_t colour) {
  std::string s;
  for (std::uint32_t v : {40u, side, side * 2, 1u | 32u << 16, 0u, 0u, 0u, 0u, 0u, 0u})
    put32(s, v);
  for (unsigned i = 0; i < side * side; ++i)
    put32(s, colour);
  return s + std::string((side + 31) / 32 * 4 * side, '\0');
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

inline bool traced(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace icontest
