#include "strength/portable/account_scan.h"

#include <exception>
#include <new>

#include "templates/portable/manifest_text.h"

namespace strength {
namespace {

constexpr std::int32_t kOperationDeleted = 2;

const serialization::cvprofileitem_t* item_for(const templates::field_t& field,
                                               const serialization::cvprofile_t& profile) {
  for (const auto& item : profile.items) {
    if (item.value_op != kOperationDeleted && item.dbname == field.dbname)
      return &item;
  }
  return nullptr;
}

std::optional<serialization::secure_wstring> resolve(const serialization::cvprofileitem_t& item,
                                                     serialization::reference_resolver& resolver) {
  try {
    return serialization::ResolveValue(item, resolver);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<account_scan_t> scan_account(const templates::form_t& form,
                                           const serialization::cvprofile_t& profile,
                                           serialization::reference_resolver& resolver) {
  account_scan_t account;
  for (const auto& field : form.fields) {
    if (field.rfield == templates::rfield_out)
      continue;
    const serialization::cvprofileitem_t* item = item_for(field, profile);
    if (item == nullptr)
      continue;
    if (item->value.empty() && field.type != templates::field_edit &&
        field.type != templates::field_combo)
      continue;
    if (field.type == templates::field_button)
      continue;

    serialization::secure_wstring value;
    if (field.value.empty()) {
      auto resolved = resolve(*item, resolver);
      if (!resolved)
        continue;
      value = std::move(*resolved);
    } else if (field.value.size() > 1 && field.value[0] == '@') {
      continue;
    } else {
      value = serialization::secure_wstring(templates::utf8_to_wide(field.value));
    }

    if (field.type == templates::field_edit && field.password) {
      account.password = std::move(value);
      return account;
    }
    account.label =
        item->displayname.empty() ? templates::utf8_to_wide(field.displayname) : item->displayname;
    account.value.assign(value.view());
  }
  return std::nullopt;
}

}  // namespace strength
