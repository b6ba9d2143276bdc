#include "quicklinks/portable/category_list.h"

#include <stdexcept>

#include "templates/portable/portable_path.h"

namespace categories {

std::wstring logon_key(std::wstring_view template_path) {
  const std::size_t slash = template_path.find_last_of(L"\\/:");
  const std::wstring_view name =
      slash == std::wstring_view::npos ? template_path : template_path.substr(slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || dot + 1 == name.size())
    return std::wstring(name);
  return std::wstring(name.substr(0, dot));
}

std::vector<std::wstring> split_members(std::wstring_view members) {
  std::vector<std::wstring> items;
  if (members.empty())
    return items;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = members.find(L';', start);
    items.emplace_back(members.substr(start, end - start));
    if (end == std::wstring_view::npos)
      break;
    start = end + 1;
  }
  return items;
}

std::wstring with_member(std::wstring_view members, std::wstring_view key) {
  std::vector<std::wstring> items = split_members(members);
  bool present = false;
  for (const std::wstring& item : items)
    present = present || item == key;
  if (!present)
    items.emplace_back(key);
  std::wstring joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0)
      joined += L';';
    joined += items[i];
  }
  return joined;
}

void category_list_t::clear() {
  names.clear();
  members.clear();
  last.clear();
}

std::optional<std::size_t> category_list_t::find(std::wstring_view name) const {
  const std::wstring wanted = templates::lower_text(name);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (templates::lower_text(names[i]) == wanted)
      return i;
  }
  return std::nullopt;
}

bool category_list_t::add(std::wstring_view name, std::wstring_view member_list) {
  if (find(name))
    return false;
  names.emplace_back(name);
  members.emplace_back(member_list);
  return true;
}

bool category_list_t::put(std::size_t index, std::wstring_view key) {
  if (index >= names.size())
    throw std::out_of_range("category index");
  if (key.empty() || key.find(L';') != std::wstring_view::npos)
    return false;
  members[index] = with_member(members[index], key);
  return true;
}

}  // namespace categories
