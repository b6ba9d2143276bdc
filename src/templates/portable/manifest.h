// The in-memory model of one logon template (a "manifest"): which windows or
// pages it applies to, the forms they hold and how each field is filled in.
// Text fields hold UTF-8; process, class and caption names are wide strings
// (UTF-16 on Windows). A manifest is copied by value.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace templates {

// Flag bits of process, class and caption rules (the "type" attribute).
enum rule_flag : std::uint32_t {
  flag_skip = 0x001,
  flag_nocom = 0x002,
  flag_noacc = 0x004,
  flag_first = 0x008,
  flag_dialog = 0x020,
  flag_edit = 0x040,
  flag_protected = 0x080,
  flag_button = 0x100,
  flag_nochildren = 0x200,
  flag_runtimer = 0x400,
};

// fcontext_t::type
enum context_type : int { context_logon = 1, context_pchange = 2 };

// detection_t::matchtype
enum match_type : int {
  match_asis = 0,
  match_endswith = 1,    // caption "*text"
  match_beginswith = 2,  // caption "text*"
  match_contains = 3,    // caption "*text*"
};

// formoptions_t::submittype and formoptions_t::usequicklink
enum submit_type : int { submit_notgiven = 0, submit_do = 1, submit_not = 2 };
enum quicklink_use : int { quicklink_notgiven = 0, quicklink_use_it = 1, quicklink_dont = 2 };

// field_t::type
enum field_type : int {
  field_unknown = 0,
  field_edit = 1,
  field_button = 2,
  field_list = 3,
  field_combo = 4,
  field_check = 5,
  field_radio = 6,
  field_text = 7,
};

// field_t::valuekind
enum value_kind : int {
  value_fixed = 0,      // the template's own value
  value_stored = 1,     // the user's stored value
  value_askalways = 2,  // asked at every fill-in
  value_onetime = 3,    // a one-time value
};

// field_t::rfield
enum rfield_kind : int { rfield_none = 0, rfield_in = 1, rfield_out = 2 };

struct descriptor_t {
  std::string id;
  std::string created;
  std::string modified;
  std::string integrity;
  std::string source;
  std::string size;
  std::string storage_id;
  std::string version;

  bool operator==(const descriptor_t&) const = default;
};

struct classrule_t {
  std::uint32_t flags = 0;
  std::map<std::wstring, std::uint32_t> captions;  // caption text -> flags

  bool operator==(const classrule_t&) const = default;
};

struct processrule_t {
  std::uint32_t flags = 0;
  std::map<std::wstring, classrule_t> classes;  // window class -> rule

  bool operator==(const processrule_t&) const = default;
};

struct fcontext_t {
  int type = context_logon;
  int index = -1;
  int parent = -1;

  bool operator==(const fcontext_t&) const = default;
};

struct detection_t {
  // Caption rule.
  int matchtype = match_asis;
  std::string caption;
  std::string variablecaption;
  // Web rule.
  std::string web_ourl;  // the page to open
  std::string web_murl;  // the address to match
  std::string web_qurl;  // the quick-link address
  bool web_checkurl = false;
  bool ourl_from_murl = false;
  // Dialog rule.
  std::string dlg_tab;
  std::string dlg_class;
  // Application rule.
  std::string emu_pattern;
  std::string names;
  bool monitor = false;
  std::string processname;
  std::string commandline;

  bool operator==(const detection_t&) const = default;
};

struct formoptions_t {
  std::string choosename;
  std::string sidekick;
  std::string ownernote;
  std::string quicklink;
  std::string iconkey;
  std::string iconlocation;
  int balooncount = 3;
  bool autoprompt = false;
  bool lockfields = false;
  bool recheckwindowafterfillin = false;
  int submittype = submit_notgiven;
  int usequicklink = quicklink_notgiven;
  // Unrecognised option attributes, one "name=value" line each, joined by '\n'.
  std::string extra;

  bool operator==(const formoptions_t&) const = default;
};

struct field_t {
  int type = field_unknown;
  std::string displayname;
  std::string path;
  std::string dbname;
  std::string policy;
  // Value part.
  int valuekind = value_stored;
  bool askalways = false;
  bool onetvalue = false;
  std::string choosevalue;
  std::string value;
  // Related field.
  int rfield = rfield_none;
  int rfieldform = -1;
  int rfieldindex = -1;
  int rfieldpos = -1;  // fieldindex of the related field once resolved
  bool useit = false;
  bool password = false;
  bool submit = false;
  int formindex = -1;   // context index of the form holding the field
  int fieldindex = -1;  // the field's number
  int accid = -1;
  int refcount = 0;  // how many fields refer to this one

  bool operator==(const field_t&) const = default;
};

struct form_t {
  fcontext_t context;
  detection_t detection;
  formoptions_t options;
  std::vector<field_t> fields;

  bool operator==(const form_t&) const = default;
};

// Paths that begin with this prefix name templates of foreign storage folders.
inline constexpr wchar_t kAlienPrefix[] = L"alien|";
inline constexpr std::size_t kAlienPrefixLength = 6;

struct manifest_t {
  descriptor_t descriptor;
  std::vector<form_t> forms;
  std::map<std::wstring, processrule_t> processes;  // process name -> rule
  bool alien = false;
  std::string path;  // the file loaded, UTF-8, without the alien prefix
  bool empty = true;
  int unresolved = 0;  // 2 when a related field could not be resolved

  // Back to the state of a freshly constructed template.
  void reset() { *this = manifest_t(); }

  // The key the logon list finds this template by again: the wide path,
  // prefixed with "alien|" for templates of foreign folders.
  std::wstring path_key() const;

  bool operator==(const manifest_t&) const = default;
};

}  // namespace templates
