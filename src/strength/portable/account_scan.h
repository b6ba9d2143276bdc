// Which of a profile's values make up an account: the scan of a form's fields
// that finds the stored password and the ordinary field met last before it
// (the user name, as a rule). The password tab and the logon list both name an
// account by what this scan picks.
#pragma once

#include <optional>
#include <string>

#include "store/portable/profile_records.h"
#include "store/portable/secure_memory.h"
#include "templates/portable/manifest.h"

namespace strength {

struct account_scan_t {
  std::wstring label;  // the ordinary field's label
  std::wstring value;  // and its value
  serialization::secure_wstring password;
};

// What a scan copies out: everything, or only the value (a list naming the
// account needs neither the label nor the password).
enum class scan_parts { all, value_only };

// Scans the form's fields in template order against the profile's items:
// - a field whose related-field kind is "out" is passed over;
// - the field's item is the first whose value operation is not 2 (deleted) and
//   whose database name equals the field's exactly; without one, next field;
// - an empty item value counts only for "edit" and "combo" fields; buttons never;
// - the value: the item's (a reference resolved through `resolver`) when the
//   field has no value of its own; a field value of two or more characters
//   beginning with "@" passes the field over; else the field's own value;
// - an "edit" field marked as password ends the scan with the account;
// - any other field becomes the label (the item's display name, else the
//   field's) and value.
// Without a password field the profile makes no account (nullopt). A reference
// the resolver cannot turn into a value (it throws anything but bad_alloc)
// passes its field over. Throws std::bad_alloc.
std::optional<account_scan_t> scan_account(const templates::form_t& form,
                                           const serialization::cvprofile_t& profile,
                                           serialization::reference_resolver& resolver,
                                           scan_parts parts = scan_parts::all);

}  // namespace strength
