#include "quicklinks/portable/quicklink_file.h"

#include <climits>
#include <cstdint>

namespace QL {
namespace {

constexpr std::string_view kRecordHeader = "[ShortCutRecord]";
constexpr std::string_view kApplicationMarker = "iexplore.exe";
constexpr std::string_view kOwnTemplatesPrefix = "kvi::";

char lower_ascii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A decimal number: leading blanks and a sign allowed, reading stops at the
// first non-digit, no digits give 0, values beyond int are clamped.
int decimal_value(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative)
    value = -value;
  if (value > INT_MAX)
    value = INT_MAX;
  return static_cast<int>(value);
}

bool has_any_field(const record_t& r) {
  return r.type != type_none || !r.url.empty() || !r.dlgpath.empty() || !r.manifest.empty() ||
         !r.manifestid.empty() || r.profile != 0 || !r.name.empty();
}

bool has_line_break(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string format_line(const char* prefix, const std::string& value, const char* suffix = "") {
  return std::string(prefix) + value + suffix;
}

// The comparison key of a record for the precedence filter.
std::string precedence_key(const record_t& r, const environment_t& env) {
  if (r.type == type_url)
    return r.url.substr(0, r.url.find('?'));
  return env.expanded(r.dlgpath);
}

bool listed(std::string_view list, std::string_view key) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string_view::npos)
      end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    // An empty entry names nothing (an empty list is one empty entry).
    if (!entry.empty() && equal_nocase(entry, key))
      return true;
    start = end + 1;
  }
  return false;
}

void filter_pass(set_t& set, int type, const std::string& list, const environment_t& env) {
  const std::size_t count = set.records.size();
  std::vector<std::string> keys(count);
  std::vector<bool> own(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    const record_t& r = set.records[i];
    if (r.type != type)
      continue;
    keys[i] = precedence_key(r, env);
    own[i] = env.portable_form(r.manifest).starts_with(kOwnTemplatesPrefix);
  }
  std::vector<record_t> kept;
  kept.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    bool drop = false;
    if (set.records[i].type == type && own[i]) {
      drop = listed(list, keys[i]);
      for (std::size_t j = 0; !drop && j < count; ++j)
        drop = j != i && set.records[j].type == type && !own[j] && keys[j] == keys[i];
    }
    if (!drop)
      kept.push_back(std::move(set.records[i]));
  }
  set.records = std::move(kept);
}

}  // namespace

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower_ascii(a[i]) != lower_ascii(b[i]))
      return false;
  }
  return true;
}

std::size_t find_nocase(std::string_view text, std::string_view what) {
  if (what.size() > text.size())
    return std::string_view::npos;
  for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
    if (equal_nocase(text.substr(i, what.size()), what))
      return i;
  }
  return std::string_view::npos;
}

std::string file_text_utf8(std::string_view bytes) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xFE)
    return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = (bytes.size() - 2) / 2;
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return static_cast<unsigned char>(bytes[2 + 2 * i]) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3 + 2 * i])) << 8);
  };
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    append_utf8(out, cp);
  }
  return out;
}

std::pair<std::string, std::string> split_command(std::string_view command) {
  const std::size_t at = find_nocase(command, kApplicationMarker);
  if (at == std::string_view::npos)
    return {std::string(command), std::string()};
  const std::size_t end = at + kApplicationMarker.size();
  return {std::string(command.substr(0, end)), std::string(command.substr(end))};
}

std::string_view file_name_of(std::string_view path) {
  const std::size_t at = path.find_last_of("\\/:");
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

std::string_view title_of(std::string_view path) {
  const std::string_view name = file_name_of(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == name.size())
    return name;
  return name.substr(0, dot);
}

bool is_application(std::string_view target) {
  const std::string_view name = file_name_of(target);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && equal_nocase(name.substr(dot), ".exe"))
    return true;
  return find_nocase(target, kApplicationMarker) != std::string_view::npos;
}

void parse_text(std::string_view bytes, set_t& set, const environment_t& env) {
  const std::string text = file_text_utf8(bytes);
  record_t current;
  auto finish = [&] {
    if (has_any_field(current))
      set.records.push_back(std::move(current));
    current = record_t();
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos)
      end = text.size();
    const std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (line.empty())
      continue;
    if (line[0] == '[' && equal_nocase(line, kRecordHeader)) {
      finish();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      env.log(format_line("inv.line '", std::string(line), "'"));
      continue;
    }
    const std::string_view key = line.substr(0, eq);
    std::string value(line.substr(eq + 1));
    if (equal_nocase(key, "manifest")) {
      current.manifest = std::move(value);
    } else if (equal_nocase(key, "url")) {
      current.url = std::move(value);
      current.type = type_url;
    } else if (equal_nocase(key, "name")) {
      current.name = std::move(value);
    } else if (equal_nocase(key, "profile")) {
      current.profile = decimal_value(value);
    } else if (equal_nocase(key, "kvxurls")) {
      set.kvxurls = std::move(value);
    } else if (equal_nocase(key, "dlgpath")) {
      if (env.exists(split_command(value).first)) {
        current.dlgpath = std::move(value);
        current.type = type_app;
      }
    } else if (equal_nocase(key, "kvxdlgpaths")) {
      set.kvxdlgpaths = std::move(value);
    } else if (equal_nocase(key, "manifestid")) {
      current.manifestid = std::move(value);
    }
  }
  finish();
  for (std::size_t i = 0; i < set.records.size(); ++i)
    set.records[i].index = static_cast<int>(i);
}

std::string write_text(const set_t& set) {
  std::string out;
  for (const record_t& r : set.records) {
    if (r.type == type_none)
      continue;
    out += kRecordHeader;
    out += "\r\n";
    out += format_line("Manifest=", r.manifest, "\r\n");
    if (r.type == type_url)
      out += format_line("Url=", r.url, "\r\n");
    else
      out += format_line("Dlgpath=", r.dlgpath, "\r\n");
    out += format_line("Name=", r.name, "\r\n");
    out += format_line("Profile=", std::to_string(r.profile), "\r\n");
    out += format_line("ManifestID=", r.manifestid, "\r\n");
  }
  out += format_line("KVXURLs=", set.kvxurls, "\r\n");
  out += format_line("KVXDlgPaths=", set.kvxdlgpaths, "\r\n");
  return out;
}

void apply_precedence(set_t& set, const environment_t& env) {
  if (set.records.empty()) {
    set.kvxurls.clear();
    set.kvxdlgpaths.clear();
    return;
  }
  filter_pass(set, type_url, set.kvxurls, env);
  filter_pass(set, type_app, set.kvxdlgpaths, env);
}

bool add(set_t& set,
         const std::string& target,
         const std::string& name,
         int profile,
         const std::string& manifestid,
         const std::string& manifest,
         const environment_t& env) {
  const int type = is_application(target) ? type_app : type_url;
  env.log("QL for: " + env.portable_form(manifest));
  env.log("  prof:  " + std::to_string(profile));
  env.log(format_line("  name: '", name, "'"));
  env.log(format_line(type == type_app ? "  dlgpath : '" : "  url : '", target, "'"));
  for (const std::string* value : {&target, &name, &manifestid, &manifest}) {
    if (has_line_break(*value)) {
      env.log("  refused: a value holds a line break");
      return false;
    }
  }
  const std::string_view file = file_name_of(manifest);
  if (file.empty()) {
    env.log("Cannot split manifest path");
    return false;
  }
  record_t* found = nullptr;
  for (record_t& r : set.records) {
    if (file_name_of(r.manifest) == file && (profile == -1 || r.profile == profile)) {
      found = &r;
      break;
    }
  }
  env.log(found ? "  QL updated" : "  QL created");
  if (target.empty() || name.empty())
    return false;
  if (found == nullptr) {
    set.records.emplace_back();
    found = &set.records.back();
    found->manifest = manifest;
  }
  found->type = type;
  (type == type_app ? found->dlgpath : found->url) = target;
  found->name = name;
  found->profile = profile;
  found->manifestid = manifestid;
  set.modified = true;
  return true;
}

std::size_t del(set_t& set, const std::string& manifest, const environment_t& env) {
  env.log("all for " + env.portable_form(manifest));
  const std::string file(file_name_of(manifest));
  if (file.empty()) {
    env.log("Cannot split manifest path");
    return 0;
  }
  std::size_t removed = 0;
  std::vector<record_t> kept;
  kept.reserve(set.records.size());
  for (record_t& r : set.records) {
    if (file_name_of(r.manifest) == file) {
      env.log("removed " + env.portable_form(r.manifest));
      ++removed;
    } else {
      kept.push_back(std::move(r));
    }
  }
  set.records = std::move(kept);
  if (removed != 0)
    set.modified = true;
  return removed;
}

}  // namespace QL
