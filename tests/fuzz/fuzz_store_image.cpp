// Fuzzes loading named-storage images. Whatever the bytes: the load stays
// inside them, a failed load leaves the storage alone, and what loads saves
// into an image that loads and saves again to the same bytes. Every value and
// array of a loaded tree is read back through the public operations.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/portable/storage_named.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

using namespace serialization;
using namespace serialization::StorageNamed::InMemStorageSpace;

std::vector<std::uint8_t> save(const CInMemStorage& storage) {
  CMemoryObjectEx block;
  const std::uint32_t size = Save(storage, block);
  check(size != 0 && size == ImageSize(storage) && size == block.size());
  return std::vector<std::uint8_t>(block.data(), block.data() + size);
}

void walk(const CInMemStorage& storage, const CSSection& section, unsigned depth) {
  check(depth <= kMaxNesting + 1);
  const std::string* previous = nullptr;
  for (const auto& [name, entry] : section.entries()) {
    check(previous == nullptr || *previous < name);  // sorted, unique
    previous = &name;
    switch (entry->type()) {
      case kTagSection:
        walk(storage, static_cast<const CSSection&>(*entry), depth + 1);
        break;
      case kTagValue: {
        std::int32_t number = 0;
        std::string text;
        std::wstring wide;
        check(GetValue(storage, &section, name, number));
        check(GetValue(storage, &section, name, text));
        check(GetValue(storage, &section, name, wide));
        break;
      }
      case kTagSectionsArray: {
        sections_iterator it;
        std::size_t seen = 0;
        for (section_ptr at = OpenSectionsArray(storage, &section, name, it); at;
             at = NextSection(it)) {
          walk(storage, *at, depth + 2);
          ++seen;
        }
        check(seen == static_cast<const CSSectionsArray&>(*entry).count());
        break;
      }
      case kTagValuesArray:
        break;
      default:
        check(false);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CInMemStorage storage;
  SetValue(storage, nullptr, "sentinel", std::int32_t{1});
  const std::size_t consumed = Load(data, size, storage);
  if (consumed == 0) {
    check(storage.root().count() == 1 && Find(storage, nullptr, "sentinel"));
    return 0;
  }
  check(consumed > kImageHeaderSize && consumed <= size);
  walk(storage, storage.root(), 0);

  const std::vector<std::uint8_t> image = save(storage);
  CInMemStorage again;
  check(Load(image.data(), image.size(), again) == image.size());
  check(save(again) == image);
  return 0;
}
