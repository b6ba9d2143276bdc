#include <memory>

#include "store/fillin_components.h"
#include "store/portable/profile_merge.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"
#include "ui/list/list_items.h"
#include "ui/list/row_actions.h"

namespace ui {
namespace {

// Hands the row to the list; a row the list does not take is destroyed here.
CListItemData* insert(CLogonListContext& list, int position, std::unique_ptr<CListItemData> row) {
  CListItemData* const inserted = row.get();
  if (!list.InsertRow(position, row)) {
    tracecore::trace_format("row not inserted at %d", position);
    return nullptr;
  }
  row.release();
  return inserted;
}

}  // namespace

std::optional<loaded_logon_t> LoadLogon(const std::wstring& template_path,
                                        const wchar_t* profile_data) {
  try {
    std::optional<loaded_logon_t> logon(std::in_place);
    if (!templates::loadM_properly(logon->manifest, template_path))
      return std::nullopt;
    const std::wstring id = templates::utf8_to_wide(logon->manifest.descriptor.id);
    logon->profiles = fillin::fillin_component().get_profiles(id.c_str(), profile_data);
    return logon;
  } catch (...) {
    TraceCaughtFailure("LoadLogon");
    return std::nullopt;
  }
}

bool AddLogonRows(loaded_logon_t logon, CLogonListContext& list, int position) {
  try {
    templates::manifest_t& manifest = logon.manifest;
    serialization::cvprofiles_t& profiles = logon.profiles;
    const logon_rows_t plan = plan_logon_rows(manifest, profiles);
    if (!plan.any)
      return false;

    if (plan.logon == row_class::logon_single) {
      auto row = std::make_unique<CLogonWithSingleAccount>(list, std::move(manifest),
                                                           std::move(profiles.front()));
      return insert(list, position, std::move(row)) != nullptr;
    }

    // The account rows' texts are taken before the logon row owns the list.
    std::vector<std::pair<std::string, std::wstring>> accounts;
    accounts.reserve(plan.accounts.size());
    for (const std::size_t index : plan.accounts)
      accounts.emplace_back(serialization::profile_key(profiles[index]),
                            AccountText(manifest, profiles[index], list.storage));

    auto parent_row = std::make_unique<CLogonWithMultipleAccounts>(
        list, std::move(manifest), std::move(profiles), plan.logon_text);
    auto* const parent =
        static_cast<CLogonWithMultipleAccounts*>(insert(list, position, std::move(parent_row)));
    if (parent == nullptr)
      return false;
    for (auto& [key, text] : accounts) {
      if (insert(list, position + 1,
                 std::make_unique<CAccount>(list, *parent, std::move(key), std::move(text))))
        ++position;
    }
    return true;
  } catch (...) {
    TraceCaughtFailure("AddLogonRows");
    return false;
  }
}

bool AddLogonRows(const std::wstring& template_path,
                  const wchar_t* profile_data,
                  CLogonListContext& list,
                  int position) {
  tracecore::trace_scope scope("AddLogonRows");
  std::optional<loaded_logon_t> logon = LoadLogon(template_path, profile_data);
  return logon && AddLogonRows(std::move(*logon), list, position);
}

}  // namespace ui
