#include "ui/portable/web_link.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/portable/web_addresses.h"

namespace ui {
namespace {

// The numbers joined by dots.
template <typename... Numbers>
std::wstring dotted(Numbers... numbers) {
  std::wstring text;
  ((text += (text.empty() ? L"" : L".") + std::to_wstring(numbers)), ...);
  return text;
}

// "%d" of the decimal number at the start of the text (sign allowed, 0 without digits).
int leading_int(std::wstring_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+'))
    negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = std::min<long long>(value * 10 + (text[i] - L'0'), 0x7FFFFFFF);
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

std::wstring web_link_kind_text(std::uint32_t kind) {
  static const wchar_t* const kNames[] = {L"learn", L"learn2", L"tips", L"add",
                                          L"tell",  L"feed",   L"Unin"};
  if (kind < sizeof kNames / sizeof kNames[0])
    return kNames[kind];
  return L"NEW " + std::to_wstring(static_cast<int>(kind));
}

std::uint16_t web_link_locale(std::uint16_t ui_language) noexcept {
  const unsigned primary = ui_language & 0x3FFu;
  const unsigned sub = ui_language >> 10;
  switch (primary) {
    case 0x04:  // Chinese: Taiwan and PRC keep their own
      return sub == 1 || sub == 2 ? ui_language : 1028;
    case 0x06:
      return sub == 1 ? ui_language : 1030;
    case 0x07:
      return 1031;
    case 0x0A:
      return 1034;
    case 0x0C:
      return 1036;
    case 0x10:
      return 1040;
    case 0x11:
      return 1041;
    case 0x12:
      return 1042;
    case 0x13:
      return 1043;
    case 0x14:  // Norwegian: Bokmål and Nynorsk keep their own
      return sub == 1 || sub == 2 ? ui_language : 1044;
    case 0x16:
      return 1046;
    case 0x19:
      return 1049;
    case 0x1D:  // Swedish: Finland keeps its own
      return sub == 2 ? ui_language : 1053;
    case 0x1F:
      return 1055;
    default:
      return 1033;
  }
}

std::wstring installed_apps_code(std::wstring_view setting) {
  std::wstring code = L"00";
  if (setting.empty())
    return code;
  std::vector<std::wstring> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = setting.find(L'\n', start);
    lines.emplace_back(setting.substr(start, end == std::wstring_view::npos ? end : end - start));
    if (end == std::wstring_view::npos)
      break;
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  for (const std::wstring& line : lines) {
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos || equals + 1 == line.size())
      continue;
    const std::size_t colon = line.find(L':', equals + 1);
    if (colon == std::wstring::npos)
      continue;
    wchar_t digits[16];
    std::swprintf(digits, 16, L"%02d", leading_int(std::wstring_view(line).substr(colon + 1)));
    code += digits;
  }
  return code;
}

std::wstring build_web_link(const web_link_values_t& v) {
  const wchar_t* os = v.os_major == 5 && v.os_minor >= 1 ? L"xp" : v.os_major >= 6 ? L"vista" : L"";
  if (os[0] == L'\0')
    return kWebHomePage;

  const std::wstring version =
      v.personal_mode && !v.personal_build_version.empty()
          ? v.personal_build_version
          : dotted(v.file_version[0], v.file_version[1], v.file_version[2], v.file_version[3]);
  const int oem = !v.personal_mode ? 0 : v.oem_dell ? 2 : v.oem_hp ? 1 : 0;
  return std::wstring(kWebLinkEndpoint) + L"fwlink?g=" + web_link_kind_text(v.kind) + L"&p=" +
         (v.personal_mode ? L"0" : L"1") + L"&v=" + version + L"&s=" + std::to_wstring(oem) +
         L"&x=" + installed_apps_code(v.installed_apps) + L"&f=" + (v.sensor_active ? L"1" : L"0") +
         L"&l=" + v.language + L"-" + v.country + L"&o=" + os + L"&b=" +
         dotted(v.os_major, v.os_minor, v.os_build);
}

}  // namespace ui
