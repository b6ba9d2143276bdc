// The quick-link file: its records, the set they form, the text format, the
// precedence filter applied after loading, and adding and removing links.
// Platform-free: what needs the system (does a program file exist, environment
// references, the portable form of a template path, tracing) is passed in.
//
//   QL::environment_t env = ...;
//   QL::set_t links;
//   QL::parse_text(file_bytes, links, env);     // UTF-8, or UTF-16LE after FF FE
//   QL::apply_precedence(links, env);
//   QL::add(links, "https://mail.example/", "Mail", 0, "1234", "C:\\T\\mail.cvm", env);
//   std::string text = QL::write_text(links);   // "[ShortCutRecord]\r\nManifest=..."
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace QL {

enum : int { type_none = 0, type_url = 1, type_app = 2 };

// One link; every text is UTF-8 as read from the file.
struct record_t {
  int type = type_none;
  std::string url;       // type_url: the address to open
  std::string dlgpath;   // type_app: the command to start
  std::string manifest;  // the template's path as the logon list gave it
  std::string manifestid;
  int profile = 0;
  int index = -1;  // position in the file after loading
  std::string name;

  bool operator==(const record_t&) const = default;
};

struct set_t {
  std::vector<record_t> records;
  std::string kvxurls;      // comma-separated addresses of the shipped templates
  std::string kvxdlgpaths;  // comma-separated commands of the shipped templates
  bool modified = false;

  void clear() { *this = set_t(); }
};

// What the format and the filter need from the system. Every member may be
// empty: no file exists, nothing expands, paths are their own portable form,
// nothing is traced.
struct environment_t {
  std::function<bool(const std::string& program)> file_exists;
  std::function<std::string(const std::string& text)> expand;
  std::function<std::string(const std::string& path)> portable;
  std::function<void(const std::string& line)> trace;

  bool exists(const std::string& program) const { return file_exists && file_exists(program); }
  std::string expanded(const std::string& text) const { return expand ? expand(text) : text; }
  std::string portable_form(const std::string& path) const {
    return portable ? portable(path) : path;
  }
  void log(const std::string& line) const {
    if (trace)
      trace(line);
  }
};

// The file's bytes as UTF-8: after the bytes FF FE the rest is UTF-16LE and is
// converted (a last odd byte is dropped, unpaired surrogates become U+FFFD);
// anything else is returned as it is.
std::string file_text_utf8(std::string_view bytes);

// Parses the file's bytes into `set` (records appended, `index` numbered over
// the whole set). Lines without an equals sign, or with one first, trace
// "inv.line '%s'" and are skipped.
void parse_text(std::string_view bytes, set_t& set, const environment_t& env);

// The file's text: every record whose type is not type_none, then the two
// set-level lines; each line ends in CR LF.
std::string write_text(const set_t& set);

// Drops the links of the user's own roaming templates ("kvi::") whose address
// or command the shipped lists name, or that another template's link has too.
void apply_precedence(set_t& set, const environment_t& env);

// True for a target whose extension is ".exe" or whose text holds
// "iexplore.exe" (both without regard to case).
bool is_application(std::string_view target);

// A command split after the first "iexplore.exe" (without regard to case) into
// program and arguments; a command without it is all program.
std::pair<std::string, std::string> split_command(std::string_view command);

// The text after the last backslash, slash or colon (the whole text without one).
std::string_view file_name_of(std::string_view path);
// The file name without its extension (cut at the last full stop unless that
// full stop ends the name).
std::string_view title_of(std::string_view path);

// ASCII case-free equality and search, as file names and keys are compared.
bool equal_nocase(std::string_view a, std::string_view b);
std::size_t find_nocase(std::string_view text, std::string_view what);

// Adds or updates the link of one template and profile (-1: any profile of the
// template). A value holding a line break is refused: the format cannot carry
// it and it would start records of its own. True when the set changed.
bool add(set_t& set,
         const std::string& target,
         const std::string& name,
         int profile,
         const std::string& manifestid,
         const std::string& manifest,
         const environment_t& env);

// Removes every link of the template's file name; the number removed.
std::size_t del(set_t& set, const std::string& manifest, const environment_t& env);

}  // namespace QL
