// The rows of the manage tab's logon list: a logon with one account is one
// row; a logon with several accounts is a parent row followed by one row per
// account. Each row knows its text and icon, builds its own context menu and
// carries out the row actions on the user's profile data and quick links.
//
//   CLogonListContext& list = ...;  // the tab's list view, or a test's list
//   list.resources = resource_module;
//   AddLogonRows(L"C:\\...\\site.cvm", profile_data.c_str(), list, list.Count());
//   ...
//   if (row->Delete(owner, profile_data, links))  // profile_data changed
//     commit(profile_data), QL::save(...);
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "quicklinks/portable/quicklink_file.h"
#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"
#include "support/unique_any.h"
#include "templates/portable/manifest.h"
#include "ui/portable/logon_rows.h"

namespace ui {

using support::unique_hicon;
using support::unique_hmenu;

class CListItemData;

// What every row of one list shares: where rows go, the module holding menu
// 105 and the question texts, and the protected-storage session handed to the
// training component (0: none).
class CLogonListContext {
 public:
  virtual ~CLogonListContext() = default;
  // Puts the row at the position; true when the list took ownership of it.
  virtual bool InsertRow(int position, std::unique_ptr<CListItemData>& row) = 0;

  HINSTANCE resources = nullptr;
  DWORD storage = 0;
};

// The row menu and the question boxes' texts in the resource module (the
// menu's commands: ui::menu_command).
inline constexpr UINT kIdrRowMenu = 105;
inline constexpr UINT kIdsDeleteLogon = 130;
inline constexpr UINT kIdsDeleteCaption = 131;
inline constexpr UINT kIdsDeleteAccount = 134;

class CListItemData {
 public:
  CListItemData() = default;
  explicit CListItemData(std::wstring text) : m_text(std::move(text)) {}
  CListItemData(const CListItemData&) = delete;
  CListItemData& operator=(const CListItemData&) = delete;

  virtual ~CListItemData();
  virtual void GetText(std::wstring& text) const;
  virtual void GetTemplatePath(std::wstring& path) const;
  virtual UINT GetDefaultCommand() const;
  // Shows the row's menu at a screen point and returns the chosen command (0:
  // none). `category` is the category shown, empty for all logons.
  virtual UINT ShowContextMenu(HWND owner, POINT point, const std::wstring& category, UINT flags);
  virtual bool GetQuickLaunchInfo(std::wstring& template_id, std::wstring& quick_url) const;
  virtual HICON GetIcon() const;
  // Takes ownership of the icon and destroys the one held before.
  virtual void SetIcon(HICON icon);
  virtual bool IsLogon() const;
  virtual bool IsSingleAccount() const;
  virtual std::size_t GetAccountCount() const;
  // The actions change `profile_data` (the user's whole profile text) and the
  // quick links; true when there is something to commit.
  virtual bool Add(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links);
  virtual bool Edit(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links);
  virtual bool Delete(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links);
  virtual bool GetProfile(serialization::cvprofile_t& profile) const;
  virtual void UpdateQuickLinks(QL::set_t& links);

 protected:
  std::wstring m_text;
  unique_hicon m_icon;
};

class CLogonWithMultipleAccounts : public CListItemData {
 public:
  CLogonWithMultipleAccounts(CLogonListContext& list,
                             templates::manifest_t manifest,
                             serialization::cvprofiles_t accounts,
                             std::wstring text);

  void GetTemplatePath(std::wstring& path) const override;
  UINT ShowContextMenu(HWND owner, POINT point, const std::wstring& category, UINT flags) override;
  bool GetQuickLaunchInfo(std::wstring& template_id, std::wstring& quick_url) const override;
  bool IsLogon() const override;
  std::size_t GetAccountCount() const override;
  bool Add(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) override;
  bool Delete(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) override;
  void UpdateQuickLinks(QL::set_t& links) override;

  // Runs the account dialog on the account with the key; on a change the
  // account is replaced, the profiles written back and the quick links
  // regenerated. False when nothing changed or the dialog failed.
  bool EditAccount(HWND owner,
                   const std::string& key,
                   serialization::secure_wstring& profile_data,
                   QL::set_t& links);
  // Removes the account with the key, writes the profiles back and
  // regenerates the quick links; false when no account has the key.
  bool RemoveAccount(const std::string& key,
                     serialization::secure_wstring& profile_data,
                     QL::set_t& links);
  // A copy of the account with the key.
  bool FindAccount(const std::string& key, serialization::cvprofile_t& profile) const;

  const templates::manifest_t& manifest() const noexcept { return m_manifest; }
  const serialization::cvprofiles_t& accounts() const noexcept { return m_accounts; }

 protected:
  // Hands the new account list to the fill-in component, which merges it into
  // the profile data; the list is the logon's once the text is.
  void ReplaceAccounts(serialization::cvprofiles_t accounts,
                       serialization::secure_wstring& profile_data);
  bool AskDelete(HWND owner, UINT text_id) const;

  CLogonListContext& m_list;
  templates::manifest_t m_manifest;
  serialization::cvprofiles_t m_accounts;
};

class CLogonWithSingleAccount : public CLogonWithMultipleAccounts {
 public:
  CLogonWithSingleAccount(CLogonListContext& list,
                          templates::manifest_t manifest,
                          serialization::cvprofile_t account);

  UINT GetDefaultCommand() const override;
  UINT ShowContextMenu(HWND owner, POINT point, const std::wstring& category, UINT flags) override;
  bool IsSingleAccount() const override;
  bool Edit(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) override;
  bool GetProfile(serialization::cvprofile_t& profile) const override;

 private:
  std::string m_key;
};

class CAccount : public CListItemData {
 public:
  CAccount(CLogonListContext& list,
           CLogonWithMultipleAccounts& parent,
           std::string key,
           std::wstring text);

  void GetTemplatePath(std::wstring& path) const override;
  UINT GetDefaultCommand() const override;
  UINT ShowContextMenu(HWND owner, POINT point, const std::wstring& category, UINT flags) override;
  bool IsSingleAccount() const override;
  bool Edit(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) override;
  bool Delete(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) override;
  bool GetProfile(serialization::cvprofile_t& profile) const override;
  void UpdateQuickLinks(QL::set_t& links) override;

  const std::string& key() const noexcept { return m_key; }

 private:
  CLogonListContext* m_list;
  CLogonWithMultipleAccounts* m_parent;
  std::string m_key;
};

// One logon as its rows are made from it: its template and the accounts stored
// for it.
struct loaded_logon_t {
  templates::manifest_t manifest;
  serialization::cvprofiles_t profiles;
};

// Loads the template at the path key and asks the fill-in component for its
// profiles in the profile data; nullopt (traced) when either fails.
std::optional<loaded_logon_t> LoadLogon(const std::wstring& template_path,
                                        const wchar_t* profile_data);

// Adds the rows of one loaded logon at `position`: no row (false), one row, or
// a parent row and its account rows. A row the list does not take is
// destroyed.
bool AddLogonRows(loaded_logon_t logon, CLogonListContext& list, int position);

// LoadLogon and AddLogonRows in one.
bool AddLogonRows(const std::wstring& template_path,
                  const wchar_t* profile_data,
                  CLogonListContext& list,
                  int position);

// Menu 105's first submenu with the commands of the row's class (the menu
// belongs to the caller); null when the resource module has no menu 105.
unique_hmenu BuildRowMenu(HINSTANCE resources, row_class row, bool category_shown);

}  // namespace ui
