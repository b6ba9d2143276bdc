// The platform-free steps of a quick-link launch: launch ids, finding a logon's
// link, and the address of the loading page.
//
//   QL::number_for_launch(links);   // ids 2, 3, ...
//   const QL::record_t* r = QL::find_by_title_and_name(links, path, menu_text, env);
//   QL::loading_page_address(L"res", L"C:\\Program Files\\x.dll", r->index);
//     // L"res://c:\\program%20files\\x.dll/qlinkload.htm#id=2"
#pragma once

#include <string>
#include <string_view>

#include "quicklinks/portable/quicklink_file.h"

namespace QL {

// The first launch id; ids follow the records in file order.
inline constexpr int kFirstLaunchId = 2;

// Sets every record's index to its launch id.
void number_for_launch(set_t& set);

// The first record whose template has the title of `template_path` (compared
// without regard to case) and whose name is exactly `menu_text`; each record
// with the right title is traced "qlinkname = %ls, menutext = %ls".
const record_t* find_by_title_and_name(const set_t& set,
                                       std::string_view template_path,
                                       std::string_view menu_text,
                                       const environment_t& env);
// The first record with the title and the profile number.
const record_t* find_by_title_and_profile(const set_t& set,
                                          std::string_view template_path,
                                          int profile);

// "res", or "cvql" for a browser whose path holds "firefox.exe".
std::wstring scheme_for_browser(std::wstring_view browser);

// "%s://%s/qlinkload.htm#id=%d" with the module path's spaces as "%20" and the
// path in lower case.
std::wstring loading_page_address(std::wstring_view scheme, std::wstring_view module_path, int id);

}  // namespace QL
