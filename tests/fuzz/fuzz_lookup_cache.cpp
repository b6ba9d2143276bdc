// Fuzzes the lookup-cache walker with the input as the section's bytes. Every
// string a walk hands out must lie inside the view, and the path list must be
// sorted with each path once, whatever the bytes say.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "templates/portable/lookup_cache.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

void check_inside(std::span<const std::uint8_t> view, std::string_view text) {
  const auto* begin = reinterpret_cast<const char*>(view.data());
  check(text.data() >= begin && text.data() + text.size() < begin + view.size());
  check(text.data()[text.size()] == '\0');
}

// The UTF-16 code units of a wide string, whatever the width of wchar_t: the
// order the path list must have.
std::u16string utf16_units(const std::wstring& text) {
  std::u16string units;
  for (const wchar_t c : text) {
    const auto value = static_cast<std::uint32_t>(c);
    if (value > 0xFFFF) {
      units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(value);
    }
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the input's size, so reading one byte past it is caught.
  const std::vector<std::uint8_t> copy(data, data + size);
  const std::span<const std::uint8_t> view(copy);

  for (const std::size_t table : {templates::kLookupFirstTable, templates::kLookupSecondTable}) {
    std::vector<templates::lookup_record_t> records;
    templates::walk_lookup_chains(view, table, {}, records);
    check(records.size() <= size);  // each entry offset at most once
    for (const auto& record : records) {
      check_inside(view, record.key);
      check_inside(view, record.folder);
      check_inside(view, record.file);
    }
    if (!records.empty()) {
      // Filtering by a key met on the walk takes a subset, all with that key.
      const std::string key(records.front().key);
      std::vector<templates::lookup_record_t> filtered;
      templates::walk_lookup_chains(view, table, key, filtered);
      check(!key.empty() || filtered.size() == records.size());
      check(filtered.size() <= records.size());
      for (const auto& record : filtered)
        check(key.empty() || record.key == key);
    }
  }

  templates::lookup_walk_stats_t stats;
  const std::vector<std::wstring> paths = templates::lookup_cache_paths(view, &stats);
  for (std::size_t i = 1; i < paths.size(); ++i)
    check(utf16_units(paths[i - 1]) < utf16_units(paths[i]));  // sorted, each path once
  for (const auto& path : paths)
    check(path.size() <= templates::kLookupMaxPath);
  return 0;
}
