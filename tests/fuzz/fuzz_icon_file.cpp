// The cached-icon checks on arbitrary files: the chosen image always lies
// inside the file and has a sane size.
#include <cstdint>
#include <cstdlib>

#include "icons/portable/icon_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto image = icons::small_icon_image(data, size);
  if (image && (image->offset > size || image->size > size - image->offset || image->width == 0 ||
                image->width > 256 || image->height == 0 || image->height > 256))
    std::abort();
  return 0;
}
