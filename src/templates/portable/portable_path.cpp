#include "templates/portable/portable_path.h"

#include <array>
#include <utility>

#include "templates/portable/manifest_text.h"

namespace templates {
namespace {

// Letters whose lower case is the next code point when the upper case is even
// (or odd, for the ranges marked so).
struct pair_range_t {
  char32_t first;
  char32_t last;
  bool upper_is_odd;
};

constexpr std::array<pair_range_t, 11> kPairRanges = {{
    {0x0100, 0x012F, false},
    {0x0132, 0x0137, false},
    {0x0139, 0x0148, true},
    {0x014A, 0x0177, false},
    {0x0179, 0x017E, true},
    {0x0460, 0x0481, false},
    {0x048A, 0x04BF, false},
    {0x04C1, 0x04CE, true},
    {0x04D0, 0x052F, false},
    {0x1E00, 0x1E95, false},
    {0x1EA0, 0x1EFF, false},
}};

// Letters whose lower case lies at a fixed distance.
struct shift_range_t {
  char32_t first;
  char32_t last;
  char32_t shift;
};

constexpr std::array<shift_range_t, 12> kShiftRanges = {{
    {0x0041, 0x005A, 32},
    {0x00C0, 0x00D6, 32},
    {0x00D8, 0x00DE, 32},
    {0x0388, 0x038A, 37},
    {0x038E, 0x038F, 63},
    {0x0391, 0x03A1, 32},
    {0x03A3, 0x03AB, 32},
    {0x0400, 0x040F, 80},
    {0x0410, 0x042F, 32},
    {0x0531, 0x0556, 48},
    {0x10A0, 0x10C5, 7264},
    {0xFF21, 0xFF3A, 32},
}};

constexpr std::array<std::pair<char32_t, char32_t>, 5> kSingles = {{
    {0x0130, 0x0069},  // capital I with dot above
    {0x0178, 0x00FF},  // capital Y with diaeresis
    {0x0386, 0x03AC},  // Greek capital alpha with tonos
    {0x038C, 0x03CC},  // Greek capital omicron with tonos
    {0x04C0, 0x04CF},  // Cyrillic palochka
}};

std::wstring_view prefix_of(int index) {
  static constexpr const wchar_t* kPrefixes[] = {kRoamingTemplatesPrefix, kRoamingProductPrefix,
                                                 kLocalProductPrefix, kComponentsTemplatesPrefix};
  return kPrefixes[index];
}

const std::wstring& folder_of(const well_known_folders_t& folders, int index) {
  switch (index) {
    case 0:
      return folders.roaming_templates;
    case 1:
      return folders.roaming_product;
    case 2:
      return folders.local_product;
    default:
      return folders.components_templates;
  }
}

}  // namespace

std::wstring unify_separators(std::wstring path) {
  wchar_t first = 0;
  for (wchar_t& c : path) {
    if (!is_separator(c))
      continue;
    if (first == 0)
      first = c;
    c = first;
  }
  return path;
}

std::wstring with_trailing_separator(std::wstring path) {
  if (!path.empty() && !is_separator(path.back()))
    path += L'\\';
  return path;
}

std::wstring normalise_folder(std::wstring path) {
  return unify_separators(with_trailing_separator(std::move(path)));
}

wchar_t lower_char(wchar_t c) noexcept {
  const auto code = static_cast<char32_t>(c);
  if (code < 0x41)
    return c;
  for (const auto& range : kShiftRanges) {
    if (code >= range.first && code <= range.last)
      return static_cast<wchar_t>(code + range.shift);
  }
  for (const auto& range : kPairRanges) {
    if (code >= range.first && code <= range.last) {
      const bool odd = (code & 1) != 0;
      return odd == range.upper_is_odd ? static_cast<wchar_t>(code + 1) : c;
    }
  }
  for (const auto& [upper, lower] : kSingles) {
    if (code == upper)
      return static_cast<wchar_t>(lower);
  }
  return c;
}

std::wstring lower_text(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower)
    c = lower_char(c);
  return lower;
}

std::wstring portable_form(std::wstring_view path, const well_known_folders_t& folders) {
  std::wstring result = lower_text(unify_separators(std::wstring(path)));
  for (int index = 0; index < 4; ++index) {
    const std::wstring& folder = folder_of(folders, index);
    if (folder.empty())
      continue;
    const std::wstring lower_folder = lower_text(folder);
    const auto at = result.find(lower_folder);
    if (at != std::wstring::npos)
      return result.replace(at, lower_folder.size(), prefix_of(index));
  }
  return result;
}

std::string portable_form_utf8(std::string_view path, const well_known_folders_t& folders) {
  return wide_to_utf8(portable_form(utf8_to_wide(path), folders));
}

}  // namespace templates
