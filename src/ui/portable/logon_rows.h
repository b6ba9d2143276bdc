// The decisions of the logon list: which rows a template and its stored
// profiles make, what they show, which menu commands they offer, the names of
// their quick links and the edits of a logon's account list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/portable/profile_records.h"
#include "templates/portable/manifest.h"

namespace ui {

// Menu 105's commands.
enum menu_command : std::uint32_t {
  cmd_add_account = 40004,
  cmd_edit = 40005,
  cmd_delete = 40006,
  cmd_open_quicklink = 40008,
  cmd_remove_from_category = 40009,
};

enum class row_class { account, logon_multiple, logon_single };

// The rows of one logon: none (no profile), one logon row for a single profile,
// or a logon row and one account row per profile not deleted.
struct logon_rows_t {
  bool any = false;
  row_class logon = row_class::logon_single;
  std::wstring logon_text;            // the profile's name, or the first form's name
  std::vector<std::size_t> accounts;  // profiles shown as account rows, in list order
};
logon_rows_t plan_logon_rows(const templates::manifest_t& manifest,
                             const serialization::cvprofiles_t& profiles);

// What an account row shows: the account value the rating scan picks (never
// the password), else the profile's name.
std::wstring account_text(const templates::manifest_t& manifest,
                          const serialization::cvprofile_t& profile,
                          serialization::reference_resolver& resolver);

// The commands a row's menu offers out of menu 105 (in menu order) and its default.
std::vector<std::uint32_t> menu_commands(row_class row, bool category_shown);
std::uint32_t default_command(row_class row) noexcept;

// The quick-link names of a logon's accounts ("<logon> - <account>"), distinct
// within the logon: a repeated name gets " (2)", " (3)", ...
std::vector<std::wstring> quicklink_names(const std::wstring& logon_name,
                                          const std::vector<std::wstring>& account_texts);

// Edits of a logon's account list.
bool delete_account(serialization::cvprofiles_t& profiles, const std::string& key);
void delete_logon(serialization::cvprofiles_t& profiles);

// A menu point that lies on no monitor is moved into the nearest monitor's work
// area horizontally.
struct point_t {
  long x = 0, y = 0;
};
point_t clamp_menu_point(point_t point, bool on_monitor, long work_left, long work_right) noexcept;

}  // namespace ui
