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
                                           serialization::reference_resolver& resolver,
                                           scan_parts parts) {
  // The ordinary field met last is only remembered; its label and value are
  // copied once, when the password field ends the scan.
  const serialization::cvprofileitem_t* chosen_item = nullptr;
  const templates::field_t* chosen_field = nullptr;
  serialization::secure_wstring chosen_value;  // when not the item's own value
  bool chosen_own_value = false;
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
    bool own_value = false;
    if (field.value.empty()) {
      if (serialization::IsReference(item->value.view())) {
        auto resolved = resolve(*item, resolver);
        if (!resolved)
          continue;
        value = std::move(*resolved);
      } else {
        own_value = true;
      }
    } else if (field.value.size() > 1 && field.value[0] == '@') {
      continue;
    } else {
      value = serialization::secure_wstring(templates::utf8_to_wide(field.value));
    }

    if (field.type == templates::field_edit && field.password) {
      account_scan_t account;
      const bool all = parts == scan_parts::all;
      if (all)
        account.password = own_value ? item->value : std::move(value);
      if (chosen_item != nullptr) {
        if (all)
          account.label = chosen_item->displayname.empty()
                              ? templates::utf8_to_wide(chosen_field->displayname)
                              : chosen_item->displayname;
        account.value.assign(chosen_own_value ? chosen_item->value.view() : chosen_value.view());
      }
      return account;
    }
    chosen_item = item;
    chosen_field = &field;
    chosen_own_value = own_value;
    if (!own_value)
      chosen_value = std::move(value);
  }
  return std::nullopt;
}

}  // namespace strength
