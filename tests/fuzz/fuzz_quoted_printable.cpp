// The quoted-printable decoder on arbitrary bodies: never longer than its input,
// and text without "=" comes back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "icons/portable/icon_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = icons::decode_quoted_printable(data, size);
  if (decoded && decoded->size() > size)
    std::abort();
  if (size > 0 && std::memchr(data, '=', size) == nullptr &&
      (!decoded || decoded->size() != size || std::memcmp(decoded->data(), data, size) != 0))
    std::abort();
  return 0;
}
