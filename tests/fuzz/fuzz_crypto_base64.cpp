// The built-in Base64 decoder on arbitrary text (two input bytes per character),
// and the encoder on the raw input: whatever decodes re-encodes and decodes to
// the same bytes; encoded bytes always decode back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/portable/base64_codec.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

std::vector<std::uint8_t> decode_exact(const wchar_t* text, std::size_t length, bool& ok) {
  std::size_t size = 0;
  ok = crypto::base64_decode(text, length, nullptr, &size) == crypto::kBase64Ok;
  std::vector<std::uint8_t> out;
  if (!ok)
    return out;
  // Exactly the announced size, so an overrun shows up under AddressSanitizer.
  std::uint8_t* buffer = new std::uint8_t[size + 1];
  std::size_t got = size;
  check(crypto::base64_decode(text, length, buffer, &got) == crypto::kBase64Ok);
  check(got == size);
  out.assign(buffer, buffer + got);
  delete[] buffer;
  return out;
}

std::vector<wchar_t> encode_exact(const std::uint8_t* data, std::size_t size) {
  std::size_t chars = 0;
  check(crypto::base64_encode(data, size, nullptr, &chars) == crypto::kBase64Ok);
  std::vector<wchar_t> text(chars);
  std::size_t got = chars;
  check(crypto::base64_encode(data, size, text.data(), &got) == crypto::kBase64Ok);
  check(got + 1 == chars && text[got] == L'\0');
  text.resize(got);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<wchar_t> text(size / 2);
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<wchar_t>(data[2 * i] | data[2 * i + 1] << 8);

  bool ok = false;
  const auto decoded = decode_exact(text.data(), text.size(), ok);
  if (ok) {
    const auto again = encode_exact(decoded.data(), decoded.size());
    bool ok_again = false;
    check(decode_exact(again.data(), again.size(), ok_again) == decoded && ok_again);
  }

  const auto encoded = encode_exact(data, size);
  bool ok_raw = false;
  const auto raw = decode_exact(encoded.data(), encoded.size(), ok_raw);
  check(ok_raw && raw.size() == size && (size == 0 || std::memcmp(raw.data(), data, size) == 0));
  return 0;
}
