// Fuzzes reading profile records and record lists from images. A record or
// list read from any bytes must store and read back unchanged.
#include <cstddef>
#include <cstdint>

#include "store/portable/profile_records.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

using namespace serialization;

template <typename T, typename Save, typename Load>
void round_trip(const T& value, Save save, Load load) {
  CMemoryObjectEx image;
  check(save(value, image) != 0);
  T back{};
  check(load(image.data(), image.size(), back));
  check(back == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cvprofile_t record;
  if (LoadProfileImage(data, size, record)) {
    round_trip(record, SaveProfileImage<aloocator_cpp>, LoadProfileImage);
    for (const cvprofileitem_t& item : record.items)
      check(IsReference(item.value) == !ReferenceName(item.value).empty());
  }
  cvprofiles_t list;
  if (LoadProfilesImage(data, size, list) && !list.empty())
    round_trip(list, SaveProfilesImage<aloocator_cpp>, LoadProfilesImage);
  return 0;
}
