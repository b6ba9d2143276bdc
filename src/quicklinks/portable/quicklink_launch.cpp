#include "quicklinks/portable/quicklink_launch.h"

#include "templates/portable/portable_path.h"

namespace QL {

void number_for_launch(set_t& set) {
  for (std::size_t i = 0; i < set.records.size(); ++i)
    set.records[i].index = kFirstLaunchId + static_cast<int>(i);
}

const record_t* find_by_title_and_name(const set_t& set,
                                       std::string_view template_path,
                                       std::string_view menu_text,
                                       const environment_t& env) {
  const std::string_view title = title_of(template_path);
  for (const record_t& r : set.records) {
    if (!equal_nocase(title_of(r.manifest), title))
      continue;
    env.log("qlinkname = " + r.name + ", menutext = " + std::string(menu_text));
    if (r.name == menu_text)
      return &r;
  }
  return nullptr;
}

const record_t* find_by_title_and_profile(const set_t& set,
                                          std::string_view template_path,
                                          int profile) {
  const std::string_view title = title_of(template_path);
  for (const record_t& r : set.records) {
    if (equal_nocase(title_of(r.manifest), title) && r.profile == profile)
      return &r;
  }
  return nullptr;
}

std::wstring scheme_for_browser(std::wstring_view browser) {
  return templates::lower_text(browser).find(L"firefox.exe") != std::wstring::npos ? L"cvql"
                                                                                   : L"res";
}

std::wstring loading_page_address(std::wstring_view scheme, std::wstring_view module_path, int id) {
  std::wstring path;
  for (wchar_t c : templates::lower_text(module_path)) {
    if (c == L' ')
      path += L"%20";
    else
      path += c;
  }
  return std::wstring(scheme) + L"://" + path + L"/qlinkload.htm#id=" + std::to_wstring(id);
}

}  // namespace QL
