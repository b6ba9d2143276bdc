#include "ui/portable/logon_rows.h"

#include <algorithm>
#include <set>

#include "store/portable/profile_merge.h"
#include "strength/portable/account_scan.h"
#include "templates/portable/manifest_text.h"

namespace ui {
namespace {

constexpr std::int32_t kOperationDeleted = 2;

}  // namespace

logon_rows_t plan_logon_rows(const templates::manifest_t& manifest,
                             const serialization::cvprofiles_t& profiles) {
  logon_rows_t rows;
  if (profiles.empty())
    return rows;
  rows.any = true;
  if (profiles.size() == 1) {
    rows.logon = row_class::logon_single;
    rows.logon_text = profiles.front().profilename;
    return rows;
  }
  rows.logon = row_class::logon_multiple;
  if (!manifest.forms.empty())
    rows.logon_text = templates::utf8_to_wide(manifest.forms.front().options.choosename);
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    if (profiles[i].operation != kOperationDeleted)
      rows.accounts.push_back(i);
  }
  return rows;
}

std::wstring account_text(const templates::manifest_t& manifest,
                          const serialization::cvprofile_t& profile,
                          serialization::reference_resolver& resolver) {
  if (!manifest.forms.empty()) {
    auto account = strength::scan_account(manifest.forms.front(), profile, resolver,
                                          strength::scan_parts::value_only);
    if (account && !account->value.empty())
      return std::move(account->value);
  }
  return profile.profilename;
}

std::vector<std::uint32_t> menu_commands(row_class row, bool category_shown) {
  std::vector<std::uint32_t> commands = {cmd_open_quicklink, cmd_add_account, cmd_edit, cmd_delete,
                                         cmd_remove_from_category};
  std::vector<std::uint32_t> removed;
  switch (row) {
    case row_class::account:
      removed = {cmd_add_account, cmd_remove_from_category};
      break;
    case row_class::logon_multiple:
      removed = {cmd_edit, cmd_open_quicklink};
      break;
    case row_class::logon_single:
      break;
  }
  if (!category_shown && row != row_class::account)
    removed.push_back(cmd_remove_from_category);
  std::erase_if(commands, [&](std::uint32_t c) {
    return std::find(removed.begin(), removed.end(), c) != removed.end();
  });
  return commands;
}

std::uint32_t default_command(row_class row) noexcept {
  return row == row_class::logon_multiple ? 0u : static_cast<std::uint32_t>(cmd_open_quicklink);
}

std::vector<std::wstring> quicklink_names(const std::wstring& logon_name,
                                          const std::vector<std::wstring>& account_texts) {
  std::vector<std::wstring> names;
  std::set<std::wstring> used;
  for (const std::wstring& text : account_texts) {
    const std::wstring base = text.empty()         ? logon_name
                              : logon_name.empty() ? L"- " + text
                                                   : logon_name + L" - " + text;
    std::wstring name = base;
    for (int n = 2; !name.empty() && used.count(name) != 0; ++n)
      name = base + L" (" + std::to_wstring(n) + L")";
    used.insert(name);
    names.push_back(std::move(name));
  }
  return names;
}

bool delete_account(serialization::cvprofiles_t& profiles, const std::string& key) {
  const auto found = std::find_if(profiles.begin(), profiles.end(), [&](const auto& profile) {
    return serialization::profile_key(profile) == key;
  });
  if (found == profiles.end())
    return false;
  profiles.erase(found);
  return true;
}

void delete_logon(serialization::cvprofiles_t& profiles) {
  for (auto& profile : profiles)
    profile.operation = kOperationDeleted;
}

point_t clamp_menu_point(point_t point, bool on_monitor, long work_left, long work_right) noexcept {
  if (!on_monitor && work_right > work_left)
    point.x = std::clamp(point.x, work_left, work_right - 1);
  return point;
}

}  // namespace ui
