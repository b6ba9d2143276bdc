// The template folder list and the template files found in it: the records,
// their order, and the text rules that build the list from the settings.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace templates {

// One folder of the list.
struct folder_record_t {
  std::wstring path;       // normalised folder path
  bool alien = false;      // not the user's own storage folder (foreign or cache)
  bool local = false;      // on a fixed local drive; only local folders are enumerated
  bool accessible = true;  // false when a network folder could not be searched
};

// The comparison key of a folder or file path: lower case, every slash a
// backslash. Paths with equal keys name the same folder on Windows.
std::wstring path_compare_key(std::wstring_view path);

// Records are ordered by the comparison key of their path, so a folder named
// twice (even in another case or with other separators) is one record.
struct folder_order_t {
  bool operator()(const folder_record_t& a, const folder_record_t& b) const;
};
using folder_set_t = std::set<folder_record_t, folder_order_t>;

// One template file found in a folder.
struct file_entry_t {
  std::wstring folder;  // the folder record's path (normalised)
  std::wstring name;    // the file name
  bool alien = false;   // the folder record's alien flag

  std::wstring full_path() const { return folder + name; }
  // The path loadM_properly is given: "alien|" before the full path of
  // files of foreign folders.
  std::wstring load_path() const;
};

// Ordered by folder, then file name, both by their comparison keys.
struct file_entry_order_t {
  bool operator()(const file_entry_t& a, const file_entry_t& b) const;
};
using file_entry_set_t = std::set<file_entry_t, file_entry_order_t>;

// What the start of a folder path says about where it lives.
enum class path_kind_t {
  network_share,  // begins with two backslashes
  drive,          // a drive letter (any character) and a colon
  strange,        // anything else (relative paths, too short, ...)
};
path_kind_t classify_folder_path(std::wstring_view path);

// The paths of the foreign folders, normalised and in this order: the
// vertical-bar separated entries of "alienstorage_dirs" (not read in personal
// mode; empty entries skipped), then "bin_dir" normalised followed by
// "templates" when "bin_dir" is not empty.
std::vector<std::wstring> foreign_folder_paths(bool personal_mode,
                                               std::wstring_view alienstorage_dirs,
                                               std::wstring_view bin_dir);

inline constexpr wchar_t kTemplateExtension[] = L".cvm";

// The file search pattern of a folder: the folder, an asterisk and ".cvm".
std::wstring template_search_pattern(std::wstring_view folder);

// A found name that really is a template file name: it ends in ".cvm" (any
// case) and has something before it. A file search for "*.cvm" can also report
// names such as "x.cvmx" through their short 8.3 names; those are dropped.
bool is_template_file_name(std::wstring_view name);

// The folders to create, from the root down, so that `path` exists: every
// proper prefix that ends before a separator (the root of a drive or the
// server and share of a network path excluded), then the path itself without
// its trailing separators. Empty components ("a\\\\b") add nothing.
std::vector<std::wstring> folder_creation_steps(std::wstring_view path);

}  // namespace templates
