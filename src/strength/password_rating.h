// Rating every stored password of the user: the model of logons and accounts,
// its builder, the rating pass and the overall status it stores.
//
//   strength::PasswordRatingModel model;
//   strength::BuildPasswordRatingModel(model, profile_data, templates, resolver);
//   const std::int32_t level = strength::RatePasswords(model);   // stores IDCard_SS
//
// Passwords stay in the obfuscated text form (crypto/obfuscated_text.h) in the
// model; the index that counts reuse holds keyed digests under a key of the
// model's own, never the passwords.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/portable/keyed_digest.h"
#include "store/portable/profile_records.h"
#include "strength/portable/rating_rules.h"

namespace strength {

// TreePosition: an account of a logon with one profile, or of several.
enum tree_position : std::int32_t { position_middle = 1, position_last = 2, position_single = 3 };

struct AccountRating {
  std::int32_t logon_icon = 0;  // for the strength tab's rows
  std::int32_t TreePosition = position_single;
  std::wstring spare1;
  std::wstring spare2;
  std::wstring profile_name;
  std::wstring account_label;
  std::wstring account_value;
  std::wstring password;  // obfuscated text form
  std::wstring update_date;
  account_ratings_t ratings;  // length, classes, sharing, age, overall
};

struct LogonRating {
  std::wstring logon_name;
  std::wstring profile_name;
  std::wstring quick_url;
  std::wstring template_id;
  std::vector<AccountRating> accounts;
};

class PasswordRatingModel {
 public:
  PasswordRatingModel() = default;
  ~PasswordRatingModel();
  PasswordRatingModel(const PasswordRatingModel&) = delete;
  PasswordRatingModel& operator=(const PasswordRatingModel&) = delete;

  std::vector<LogonRating> logons;

  // The index key; a model's builder sets it from the system's random numbers.
  void set_index_key(const crypto::digest_key_t& key) noexcept { m_index_key = key; }
  // One more account uses `password`.
  void index_password(std::wstring_view password);
  // How many other accounts use `password`.
  std::uint64_t others_using(std::wstring_view password) const;
  std::size_t indexed_accounts() const noexcept { return m_indexed; }

 private:
  crypto::digest128_t digest(std::wstring_view password) const noexcept;
  crypto::digest_key_t m_index_key{};
  std::map<crypto::digest128_t, std::uint32_t> m_index;  // digest -> accounts
  std::size_t m_indexed = 0;
};

// Fills an empty model from the user's profile data and the template files in
// list order (see the .cpp). A template that does not load is skipped; a
// failure of the fill-in component raises (support::hresult_error) and the
// model is then incomplete. `resolver` turns reference values into values.
void BuildPasswordRatingModel(PasswordRatingModel& model,
                              const wchar_t* profile_data,
                              const std::vector<std::wstring>& templates,
                              serialization::reference_resolver& resolver);

// The four settings, each its default when it cannot be read.
rating_settings_t ReadRatingSettings();

// Writes the five ratings of every account, stores the overall level and
// returns it. Raises when a stored password cannot be decoded.
std::int32_t RatePasswords(PasswordRatingModel& model);
// The same pass with the settings and the time given, storing nothing.
std::int32_t RatePasswords(PasswordRatingModel& model,
                           const rating_settings_t& settings,
                           std::uint64_t now);

// Writes IDCard_SS and asks the ID-card component to read it again; false when
// the registry key could not be opened.
bool StoreOverallStatus(std::int32_t level) noexcept;

}  // namespace strength
