#include "templates/portable/folders_list.h"

#include <tuple>

#include "templates/portable/portable_path.h"

namespace templates {
namespace {

std::wstring_view trim_blanks(std::wstring_view text) {
  const auto first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos)
    return {};
  const auto last = text.find_last_not_of(L" \t");
  return text.substr(first, last - first + 1);
}

// Length of the part of a path that is never created: "C:\", "\\server\share\",
// a leading separator.
std::size_t root_length(std::wstring_view path) {
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    std::size_t at = 2;
    for (int part = 0; part < 2 && at < path.size(); ++part) {
      while (at < path.size() && !is_separator(path[at]))
        ++at;
      if (at < path.size())
        ++at;
    }
    return at;
  }
  if (path.size() >= 2 && path[1] == L':')
    return path.size() >= 3 && is_separator(path[2]) ? 3 : 2;
  if (!path.empty() && is_separator(path[0]))
    return 1;
  return 0;
}

}  // namespace

std::wstring path_compare_key(std::wstring_view path) {
  std::wstring key = lower_text(path);
  for (wchar_t& c : key) {
    if (c == L'/')
      c = L'\\';
  }
  return key;
}

bool folder_order_t::operator()(const folder_record_t& a, const folder_record_t& b) const {
  return path_compare_key(a.path) < path_compare_key(b.path);
}

std::wstring file_entry_t::load_path() const {
  return alien ? L"alien|" + full_path() : full_path();
}

bool file_entry_order_t::operator()(const file_entry_t& a, const file_entry_t& b) const {
  return std::forward_as_tuple(path_compare_key(a.folder), path_compare_key(a.name)) <
         std::forward_as_tuple(path_compare_key(b.folder), path_compare_key(b.name));
}

path_kind_t classify_folder_path(std::wstring_view path) {
  if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
    return path_kind_t::network_share;
  if (path.size() >= 2 && path[1] == L':')
    return path_kind_t::drive;
  return path_kind_t::strange;
}

std::vector<std::wstring> foreign_folder_paths(bool personal_mode,
                                               std::wstring_view alienstorage_dirs,
                                               std::wstring_view bin_dir) {
  std::vector<std::wstring> paths;
  if (!personal_mode) {
    std::size_t start = 0;
    while (start <= alienstorage_dirs.size()) {
      auto bar = alienstorage_dirs.find(L'|', start);
      if (bar == std::wstring_view::npos)
        bar = alienstorage_dirs.size();
      const auto entry = trim_blanks(alienstorage_dirs.substr(start, bar - start));
      if (!entry.empty())
        paths.push_back(normalise_folder(std::wstring(entry)));
      start = bar + 1;
    }
  }
  if (!bin_dir.empty())
    paths.push_back(normalise_folder(normalise_folder(std::wstring(bin_dir)) + L"templates"));
  return paths;
}

std::wstring template_search_pattern(std::wstring_view folder) {
  return std::wstring(folder) + L"*" + kTemplateExtension;
}

bool is_template_file_name(std::wstring_view name) {
  constexpr std::size_t kLength = 4;
  return name.size() > kLength &&
         lower_text(name.substr(name.size() - kLength)) == kTemplateExtension;
}

std::vector<std::wstring> folder_creation_steps(std::wstring_view path) {
  std::vector<std::wstring> steps;
  std::size_t end = path.size();
  while (end > 0 && is_separator(path[end - 1]))
    --end;
  const std::size_t root = root_length(path);
  for (std::size_t at = root; at < end; ++at) {
    if (is_separator(path[at]) && at > 0 && !is_separator(path[at - 1]))
      steps.emplace_back(path.substr(0, at));
  }
  if (end > root)
    steps.emplace_back(path.substr(0, end));
  return steps;
}

}  // namespace templates
