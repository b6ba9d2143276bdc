// The manage tab's actions: a row's command (add, edit, delete, open, remove
// from the category) with its saving steps, and the category commands (add,
// rename, delete, a row dropped on a category).
#include "ui/pages/manage_tab.h"

#include <oleauto.h>

#include "agent/notification_window.h"
#include "plugin/CVOnlineIDsLib.h"
#include "quicklinks/categories.h"
#include "quicklinks/quicklink_launch.h"
#include "quicklinks/quicklink_store.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "tracing/trace.h"
#include "ui/pages/category_dialogs.h"

namespace ui {
namespace {

// A row of the list as the quick-link launch sees it.
class CLaunchItem final : public quicklinks::ILogonItem {
 public:
  explicit CLaunchItem(CListItemData& row) : m_row(row) {}
  int Kind() const override {
    if (!m_row.IsLogon())
      return m_row.IsSingleAccount() ? 3 : 0;  // an account row
    return m_row.IsSingleAccount() ? 1 : 2;
  }
  bool GetProfile(serialization::cvprofile_t& profile) const override {
    return m_row.GetProfile(profile);
  }
  std::wstring TemplatePath() const override {
    std::wstring path;
    m_row.GetTemplatePath(path);
    return path;
  }
  std::wstring TemplateId() const override {
    std::wstring id, url;
    m_row.GetQuickLaunchInfo(id, url);
    return id;
  }
  std::wstring MenuText() const override {
    std::wstring text;
    m_row.GetText(text);
    return text;
  }
  void CreateMyLinks(QL::set_t& links) override { m_row.UpdateQuickLinks(links); }

 private:
  CListItemData& m_row;
};

// The member list without `key`.
std::wstring without_member(const std::wstring& members, const std::wstring& key) {
  std::wstring joined;
  for (const std::wstring& member : categories::split_members(members)) {
    if (member == key)
      continue;
    if (!joined.empty())
      joined += L';';
    joined += member;
  }
  return joined;
}

}  // namespace

// --- Row actions ---------------------------------------------------------------------

void CTabManage::DoItemAction(int index, UINT command) {
  tracecore::trace_scope scope("CTabManage::DoItemAction");
  CListItemData* row = Row(index);
  if (row == nullptr || command < cmd_add_account || command > cmd_remove_from_category) {
    tracecore::trace_format("row %d, command %u: nothing to do", index, command);
    return;
  }
  // Refills asked for while the action runs (its boxes, its own notice) wait
  // for its end: the row stays alive until then.
  m_busy = true;
  bool refill = false;
  try {
    std::wstring path;
    row->GetTemplatePath(path);
    const pstore::CProtectedStorage& ps = pstore::protected_storage();
    const DWORD handle = StorageHandle();
    if (handle == 0)
      THROW_HR(E_FAIL);
    serialization::secure_wstring data = ps.query(handle, m_hWnd);
    const serialization::secure_wstring original = data;
    QL::set_t links;
    QL::load(links);
    bool changed = false;
    bool logon_deleted = false;
    switch (command) {
      case cmd_add_account:
        changed = row->Add(m_hWnd, data, links);
        break;
      case cmd_edit:
        changed = row->Edit(m_hWnd, data, links);
        break;
      case cmd_delete:
        logon_deleted = row->IsLogon();
        changed = row->Delete(m_hWnd, data, links);
        break;
      case cmd_open_quicklink:
        StartQuickLink(index);
        break;
      case cmd_remove_from_category:
        RemoveFromCategory(index);
        break;
      default:
        break;
    }
    if (changed) {
      refill = true;
      tracecore::trace_text("Saving changes...");
      const DWORD again = StorageHandle();
      if (again == 0)
        THROW_HR(E_FAIL);
      ps.save(again, data.c_str());
      try {
        ps.commit(again);
      } catch (...) {
        // The session keeps what was saved into it: it gets the text it had
        // before, so that the list read from it shows what is stored.
        try {
          ps.save(again, original.c_str());
        } catch (...) {
          tracecore::trace_text("session not restored");
        }
        throw;
      }
      tracecore::trace_text("1. Committed PS.");
      const std::wstring links_file = QL::file_name();
      if (links_file.empty() || !QL::save(links_file, links))
        tracecore::trace_text("quick links not saved");
      tracecore::trace_text("2. Updated quick links.");
      if (logon_deleted) {
        const BSTR removed = ::SysAllocString(path.c_str());
        const HRESULT hr = m_storage ? m_storage->RemoveManifest(removed) : E_POINTER;
        ::SysFreeString(removed);
        if (FAILED(hr))
          tracecore::trace_error("RemoveManifest", hr);
      }
      dashboard::change_record_t record;
      record.path = path.c_str();
      ::SendMessageW(NotificationWindow(), dashboard::kMsgPageNotify,
                     dashboard::kNotifyStorageChanged, reinterpret_cast<LPARAM>(&record));
      tracecore::trace_text("3. Notified siblings.");
    }
  } catch (...) {
    support::result_from_caught_exception();
    refill = true;
  }
  m_busy = false;
  if (refill || m_refillPending) {
    m_refillPending = false;
    FillLogonList();
  }
}

void CTabManage::StartQuickLink(int index) {
  if (CListItemData* row = Row(index)) {
    CLaunchItem item(*row);
    quicklinks::StartQuickLink(item, StorageHandle());
  }
}

void CTabManage::RemoveFromCategory(int index) {
  CListItemData* row = Row(index);
  const auto category = m_categories.find(m_category);
  if (row == nullptr || m_category.empty() || !category)
    return;
  if (::MessageBoxW(m_hWnd, Text(kIdsRemoveFromCategoryText).c_str(),
                    Text(kIdsRemoveFromCategoryCaption).c_str(),
                    MB_YESNO | MB_ICONWARNING) != IDYES)
    return;
  std::wstring path;
  row->GetTemplatePath(path);
  m_categories.members[*category] =
      without_member(m_categories.members[*category], categories::logon_key(path));
  SaveCategories();
  m_refillPending = true;  // after the action, which still holds the row
}

void CTabManage::ShowRowMenu(int index, POINT screen, UINT flags) {
  CListItemData* row = Row(index);
  if (row == nullptr)
    return;
  const UINT command = row->ShowContextMenu(m_hWnd, screen, m_category, flags);
  if (command != 0)
    DoItemAction(index, command);
}

// --- Categories ------------------------------------------------------------------------

void CTabManage::DoCategoryCommand(UINT command) {
  tracecore::trace_scope scope("CTabManage::DoCategoryCommand");
  const int selected = SelectedCategory();
  if (selected <= 0 || static_cast<std::size_t>(selected) > m_categories.size())
    return;  // all logons: neither renamed nor deleted
  const std::size_t index = static_cast<std::size_t>(selected - 1);
  const std::wstring old_name = m_categories.names[index];
  if (command == kCmdRenameCategory) {
    CRenameCategory dialog(m_categories.names, old_name);
    if (dialog.DoModal(Resources(), m_hWnd) != IDOK)
      return;
    const auto taken = m_categories.find(dialog.Name());
    if (dialog.Name().empty() || (taken && *taken != index)) {
      tracecore::trace_format("rename to '%ls' refused", dialog.Name().c_str());
      return;
    }
    m_categories.names[index] = dialog.Name();
    if (m_category == old_name)
      m_category = dialog.Name();
  } else if (command == kCmdDeleteCategory) {
    if (::MessageBoxW(m_hWnd, Text(kIdsDeleteCategoryText).c_str(),
                      Text(kIdsDeleteCategoryCaption).c_str(), MB_YESNO | MB_ICONWARNING) != IDYES)
      return;
    m_categories.names.erase(m_categories.names.begin() + static_cast<std::ptrdiff_t>(index));
    m_categories.members.erase(m_categories.members.begin() + static_cast<std::ptrdiff_t>(index));
    if (m_category == old_name)
      m_category.clear();
  } else {
    return;
  }
  m_categories.last = m_category;
  SaveCategories();
  FillCategoryList(m_category);
}

LRESULT CTabManage::OnAddCategory(WORD, WORD, HWND, BOOL&) {
  CAddCategory dialog(m_categories.names);
  if (dialog.DoModal(Resources(), m_hWnd) != IDOK)
    return 0;
  if (!m_categories.add(dialog.Name())) {
    tracecore::trace_format("category '%ls' refused", dialog.Name().c_str());
    return 0;
  }
  SaveCategories();
  FillCategoryList(m_category);
  return 0;
}

LRESULT CTabManage::OnRowDropped(UINT, WPARAM, LPARAM lparam, BOOL&) {
  tracecore::trace_scope scope("CTabManage::OnRowDropped");
  const auto* drop = reinterpret_cast<const drop_record_t*>(lparam);
  if (drop == nullptr || drop->target_list != GetDlgItem(kIdcCategories))
    return 0;
  CListItemData* row = Row(drop->source);
  if (row == nullptr || drop->target <= 0 || drop->target == SelectedCategory() ||
      static_cast<std::size_t>(drop->target) > m_categories.size()) {
    tracecore::trace_format("drop of row %d on %d ignored", drop->source, drop->target);
    return 0;
  }
  std::wstring path;
  row->GetTemplatePath(path);
  if (!quicklinks::PutLogon(m_categories, static_cast<std::size_t>(drop->target - 1), path, m_root))
    tracecore::trace_format("'%ls' can't be a member", path.c_str());
  SaveCategories();
  FillLogonList();
  return 0;
}

}  // namespace ui
