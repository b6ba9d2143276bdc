#include "crypto/portable/base64_codec.h"

namespace crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character, or -1.
int sextet(wchar_t c) {
  if (c >= L'A' && c <= L'Z')
    return c - L'A';
  if (c >= L'a' && c <= L'z')
    return c - L'a' + 26;
  if (c >= L'0' && c <= L'9')
    return c - L'0' + 52;
  if (c == L'+')
    return 62;
  if (c == L'/')
    return 63;
  return -1;
}

}  // namespace

std::size_t base64_encoded_length(std::size_t size) noexcept {
  return (size + 2) / 3 * 4;
}

std::uint32_t base64_encode(const std::uint8_t* data,
                            std::size_t size,
                            wchar_t* out,
                            std::size_t* chars) noexcept {
  const std::size_t needed = base64_encoded_length(size) + 1;
  if (out == nullptr) {
    *chars = needed;
    return kBase64Ok;
  }
  if (*chars < needed) {
    *chars = needed;
    return kBase64MoreData;
  }
  std::size_t o = 0;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = size - i < 3 ? size - i : 3;
    const std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16 |
                                (n > 1 ? static_cast<std::uint32_t>(data[i + 1]) << 8 : 0) |
                                (n > 2 ? static_cast<std::uint32_t>(data[i + 2]) : 0);
    out[o++] = static_cast<wchar_t>(kAlphabet[group >> 18 & 63]);
    out[o++] = static_cast<wchar_t>(kAlphabet[group >> 12 & 63]);
    out[o++] = n > 1 ? static_cast<wchar_t>(kAlphabet[group >> 6 & 63]) : L'=';
    out[o++] = n > 2 ? static_cast<wchar_t>(kAlphabet[group & 63]) : L'=';
  }
  out[o] = L'\0';
  *chars = o;
  return kBase64Ok;
}

std::uint32_t base64_decode(const wchar_t* text,
                            std::size_t length,
                            std::uint8_t* out,
                            std::size_t* size) noexcept {
  // First pass: validate and count up to the first "=".
  std::size_t symbols = 0;
  while (symbols < length && text[symbols] != L'=') {
    if (sextet(text[symbols]) < 0)
      return kBase64InvalidData;
    ++symbols;
  }
  if (symbols % 4 == 1)
    return kBase64InvalidData;
  const std::size_t needed = symbols / 4 * 3 + (symbols % 4 == 0 ? 0 : symbols % 4 - 1);
  if (out == nullptr) {
    *size = needed;
    return kBase64Ok;
  }
  if (*size < needed) {
    *size = needed;
    return kBase64MoreData;
  }
  std::size_t o = 0;
  std::uint32_t bits = 0;
  int pending = 0;
  for (std::size_t i = 0; i < symbols; ++i) {
    bits = (bits << 6 | static_cast<std::uint32_t>(sextet(text[i]))) & 0xFFFFFFu;
    pending += 6;
    if (pending >= 8) {
      pending -= 8;
      out[o++] = static_cast<std::uint8_t>(bits >> pending);
    }
  }
  *size = o;
  return kBase64Ok;
}

}  // namespace crypto
