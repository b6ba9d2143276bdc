// Icon files for the icon tests: a 16 x 16 icon of 32-bit pixels, the same
// size as a PNG inside an icon file, and a bare PNG.
#pragma once

#include <cstdint>
#include <string>

namespace icontest {

inline void put16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8 & 0xFF));
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// An icon file with one entry holding image.
inline std::string icon_file_of(const std::string& image, unsigned side, unsigned bits) {
  std::string s;
  put16(s, 0);
  put16(s, 1);
  put16(s, 1);
  s.push_back(static_cast<char>(side & 0xFF));
  s.push_back(static_cast<char>(side & 0xFF));
  s.push_back(0);
  s.push_back(0);
  put16(s, 1);
  put16(s, bits);
  put32(s, static_cast<std::uint32_t>(image.size()));
  put32(s, 22);
  return s + image;
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
  return icon_file_of(dib_image(16, colour), 16, 32);
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
  return icon_file_of(png_image(), 16, 32);
}

}  // namespace icontest
