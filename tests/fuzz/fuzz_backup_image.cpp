// Fuzzes the backup image reader a restore trusts. Whatever the bytes, parsing
// stays inside them; an image whose three parts all parse builds back to the
// same bytes, and template names it accepts name no other folder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/portable/backup_image.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed = backup::parse(data, size);
  if (!parsed)
    return 0;
  for (const auto* part : {&parsed->templates}) {
    if (*part) {
      for (const auto& t : **part) {
        if (backup::is_template_file_name(t.name))
          check(t.name.find_first_of(u"\\/:") == std::u16string::npos);
      }
    }
  }
  if (parsed->templates && parsed->links && parsed->categories) {
    const backup::image_t image{*parsed->templates, *parsed->links, *parsed->categories};
    const std::vector<std::uint8_t> built = backup::build(image);
    check(built == std::vector<std::uint8_t>(data, data + size));
  }
  return 0;
}
