#include "ui/list/list_items.h"

#include <algorithm>
#include <utility>

#include "store/fillin_components.h"
#include "store/portable/profile_merge.h"
#include "templates/portable/manifest_text.h"
#include "tracing/trace.h"
#include "ui/list/row_actions.h"

namespace ui {

// --- CListItemData -----------------------------------------------------------

CListItemData::~CListItemData() = default;

void CListItemData::GetText(std::wstring& text) const {
  text = m_text;
}

void CListItemData::GetTemplatePath(std::wstring& path) const {
  path.clear();
}

UINT CListItemData::GetDefaultCommand() const {
  return 0;
}

UINT CListItemData::ShowContextMenu(HWND, POINT, const std::wstring&, UINT) {
  return 0;
}

bool CListItemData::GetQuickLaunchInfo(std::wstring&, std::wstring&) const {
  return false;
}

HICON CListItemData::GetIcon() const {
  return m_icon.get();
}

void CListItemData::SetIcon(HICON icon) {
  if (icon != m_icon.get())
    m_icon.reset(icon);
}

bool CListItemData::IsLogon() const {
  return false;
}

bool CListItemData::IsSingleAccount() const {
  return false;
}

std::size_t CListItemData::GetAccountCount() const {
  return 0;
}

bool CListItemData::Add(HWND, serialization::secure_wstring&, QL::set_t&) {
  return false;
}

bool CListItemData::Edit(HWND, serialization::secure_wstring&, QL::set_t&) {
  return false;
}

bool CListItemData::Delete(HWND, serialization::secure_wstring&, QL::set_t&) {
  return false;
}

bool CListItemData::GetProfile(serialization::cvprofile_t&) const {
  return false;
}

void CListItemData::UpdateQuickLinks(QL::set_t&) {}

// --- CLogonWithMultipleAccounts ----------------------------------------------

CLogonWithMultipleAccounts::CLogonWithMultipleAccounts(CLogonListContext& list,
                                                       templates::manifest_t manifest,
                                                       serialization::cvprofiles_t accounts,
                                                       std::wstring text)
    : CListItemData(std::move(text)),
      m_list(list),
      m_manifest(std::move(manifest)),
      m_accounts(std::move(accounts)) {}

void CLogonWithMultipleAccounts::GetTemplatePath(std::wstring& path) const {
  path = templates::utf8_to_wide(m_manifest.path);
}

UINT CLogonWithMultipleAccounts::ShowContextMenu(HWND owner,
                                                 POINT point,
                                                 const std::wstring& category,
                                                 UINT flags) {
  return TrackRowMenu(m_list.resources, row_class::logon_multiple, owner, point, category, flags);
}

bool CLogonWithMultipleAccounts::GetQuickLaunchInfo(std::wstring& template_id,
                                                    std::wstring& quick_url) const {
  template_id = templates::utf8_to_wide(m_manifest.descriptor.id);
  quick_url = m_manifest.forms.empty()
                  ? std::wstring()
                  : templates::utf8_to_wide(m_manifest.forms.front().detection.web_qurl);
  return true;
}

bool CLogonWithMultipleAccounts::IsLogon() const {
  return true;
}

std::size_t CLogonWithMultipleAccounts::GetAccountCount() const {
  return m_accounts.size();
}

bool CLogonWithMultipleAccounts::Add(HWND owner,
                                     serialization::secure_wstring& profile_data,
                                     QL::set_t& links) {
  tracecore::trace_scope scope("CLogonWithMultipleAccounts::Add");
  try {
    const auto added =
        RunAccountDialog(owner, fillin::training_mode::add, m_manifest, m_list.storage,
                         profile_data, NewAccountRequest(m_accounts));
    if (!added)
      return false;
    serialization::cvprofiles_t accounts = m_accounts;
    accounts.push_back(*added);
    ReplaceAccounts(std::move(accounts), profile_data);
    UpdateQuickLinks(links);
    return true;
  } catch (...) {
    TraceCaughtFailure("Add");
    return false;
  }
}

bool CLogonWithMultipleAccounts::EditAccount(HWND owner,
                                             const std::string& key,
                                             serialization::secure_wstring& profile_data,
                                             QL::set_t& links) {
  tracecore::trace_scope scope("CLogonWithMultipleAccounts::EditAccount");
  try {
    const auto account = std::find_if(m_accounts.begin(), m_accounts.end(), [&](const auto& a) {
      return serialization::profile_key(a) == key;
    });
    if (account == m_accounts.end()) {
      tracecore::trace_format("no account %s", key.c_str());
      return false;
    }
    serialization::cvprofile_t request = *account;
    request.operation = static_cast<std::int32_t>(fillin::training_mode::edit);
    const auto edited = RunAccountDialog(owner, fillin::training_mode::edit, m_manifest,
                                         m_list.storage, profile_data, request);
    if (!edited)
      return false;
    serialization::cvprofiles_t accounts = m_accounts;
    accounts[static_cast<std::size_t>(account - m_accounts.begin())] = *edited;
    ReplaceAccounts(std::move(accounts), profile_data);
    UpdateQuickLinks(links);
    return true;
  } catch (...) {
    TraceCaughtFailure("EditAccount");
    return false;
  }
}

bool CLogonWithMultipleAccounts::RemoveAccount(const std::string& key,
                                               serialization::secure_wstring& profile_data,
                                               QL::set_t& links) {
  serialization::cvprofiles_t accounts = m_accounts;
  if (!delete_account(accounts, key)) {
    tracecore::trace_format("no account %s", key.c_str());
    return false;
  }
  ReplaceAccounts(std::move(accounts), profile_data);
  UpdateQuickLinks(links);
  return true;
}

bool CLogonWithMultipleAccounts::FindAccount(const std::string& key,
                                             serialization::cvprofile_t& profile) const {
  for (const auto& account : m_accounts)
    if (serialization::profile_key(account) == key) {
      profile = account;
      return true;
    }
  return false;
}

bool CLogonWithMultipleAccounts::Delete(HWND owner,
                                        serialization::secure_wstring& profile_data,
                                        QL::set_t& links) {
  tracecore::trace_scope scope("CLogonWithMultipleAccounts::Delete");
  try {
    if (!AskDelete(owner, kIdsDeleteLogon))
      return false;
    serialization::cvprofiles_t accounts = m_accounts;
    delete_logon(accounts);
    ReplaceAccounts(std::move(accounts), profile_data);
    UpdateQuickLinks(links);
    TellAgentLogonDeleted(m_manifest.path);
    return true;
  } catch (...) {
    TraceCaughtFailure("Delete");
    return false;
  }
}

void CLogonWithMultipleAccounts::UpdateQuickLinks(QL::set_t& links) {
  tracecore::trace_scope scope("CLogonWithMultipleAccounts::UpdateQuickLinks");
  RegenerateQuickLinks(m_manifest, m_accounts, m_list.storage, links);
}

void CLogonWithMultipleAccounts::ReplaceAccounts(serialization::cvprofiles_t accounts,
                                                 serialization::secure_wstring& profile_data) {
  // The list and the text change together or not at all.
  const std::wstring id = templates::utf8_to_wide(m_manifest.descriptor.id);
  profile_data =
      fillin::fillin_component().update_profiles(id.c_str(), profile_data.c_str(), accounts);
  m_accounts = std::move(accounts);
}

bool CLogonWithMultipleAccounts::AskDelete(HWND owner, UINT text_id) const {
  return AskYesNo(m_list.resources, owner, text_id, kIdsDeleteCaption);
}

// --- CLogonWithSingleAccount -------------------------------------------------

CLogonWithSingleAccount::CLogonWithSingleAccount(CLogonListContext& list,
                                                 templates::manifest_t manifest,
                                                 serialization::cvprofile_t account)
    : CLogonWithMultipleAccounts(list,
                                 std::move(manifest),
                                 serialization::cvprofiles_t{account},
                                 account.profilename),
      m_key(serialization::profile_key(account)) {}

UINT CLogonWithSingleAccount::GetDefaultCommand() const {
  return cmd_open_quicklink;
}

UINT CLogonWithSingleAccount::ShowContextMenu(HWND owner,
                                              POINT point,
                                              const std::wstring& category,
                                              UINT flags) {
  return TrackRowMenu(m_list.resources, row_class::logon_single, owner, point, category, flags);
}

bool CLogonWithSingleAccount::IsSingleAccount() const {
  return true;
}

bool CLogonWithSingleAccount::Edit(HWND owner,
                                   serialization::secure_wstring& profile_data,
                                   QL::set_t& links) {
  return EditAccount(owner, m_key, profile_data, links);
}

bool CLogonWithSingleAccount::GetProfile(serialization::cvprofile_t& profile) const {
  return FindAccount(m_key, profile);
}

// --- CAccount ----------------------------------------------------------------

CAccount::CAccount(CLogonListContext& list,
                   CLogonWithMultipleAccounts& parent,
                   std::string key,
                   std::wstring text)
    : CListItemData(std::move(text)), m_list(&list), m_parent(&parent), m_key(std::move(key)) {}

void CAccount::GetTemplatePath(std::wstring& path) const {
  m_parent->GetTemplatePath(path);
}

UINT CAccount::GetDefaultCommand() const {
  return cmd_open_quicklink;
}

UINT CAccount::ShowContextMenu(HWND owner, POINT point, const std::wstring& category, UINT flags) {
  return TrackRowMenu(m_list->resources, row_class::account, owner, point, category, flags);
}

bool CAccount::IsSingleAccount() const {
  return true;
}

bool CAccount::Edit(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) {
  return m_parent->EditAccount(owner, m_key, profile_data, links);
}

bool CAccount::Delete(HWND owner, serialization::secure_wstring& profile_data, QL::set_t& links) {
  tracecore::trace_scope scope("CAccount::Delete");
  try {
    if (!AskYesNo(m_list->resources, owner, kIdsDeleteAccount, kIdsDeleteCaption))
      return false;
    return m_parent->RemoveAccount(m_key, profile_data, links);
  } catch (...) {
    TraceCaughtFailure("Delete");
    return false;
  }
}

bool CAccount::GetProfile(serialization::cvprofile_t& profile) const {
  return m_parent->FindAccount(m_key, profile);
}

void CAccount::UpdateQuickLinks(QL::set_t& links) {
  m_parent->UpdateQuickLinks(links);
}

}  // namespace ui
