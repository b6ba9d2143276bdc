#include "strength/password_rating.h"

#include <wincrypt.h>

#include "crypto/envelope.h"
#include "crypto/obfuscated_text.h"
#include "crypto/portable/secure_wipe.h"
#include "store/fillin_components.h"
#include "strength/portable/account_scan.h"
#include "strength/portable/update_date.h"
#include "support/hresult.h"
#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"

namespace strength {
namespace {

std::wstring wide(const std::string& utf8) {
  return templates::utf8_to_wide(utf8);
}

std::uint64_t system_time_now() noexcept {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

// One logon's accounts: a scan of the first form per stored profile.
LogonRating rate_logon_accounts(const templates::manifest_t& manifest,
                                const wchar_t* profile_data,
                                PasswordRatingModel& model,
                                const crypto::obfuscation_key_t& key,
                                serialization::reference_resolver& resolver) {
  static const templates::form_t no_form;
  const templates::form_t& form = manifest.forms.empty() ? no_form : manifest.forms.front();
  LogonRating logon;
  logon.logon_name = wide(form.options.choosename);
  logon.quick_url = wide(form.detection.web_qurl);
  logon.template_id = wide(manifest.descriptor.id);

  const serialization::cvprofiles_t profiles =
      fillin::fillin_component().get_profiles(logon.template_id.c_str(), profile_data);
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    const serialization::cvprofile_t& profile = profiles[i];
    logon.profile_name = profile.profilename;
    const auto scanned = scan_account(form, profile, resolver);
    if (!scanned)
      continue;
    AccountRating account;
    THROW_IF_FAILED(crypto::ObfuscateToText(key, scanned->password.view(), account.password));
    model.index_password(scanned->password.view());
    account.profile_name = profile.profilename;
    account.account_label = scanned->label;
    account.account_value = scanned->value;
    if (profiles.size() > 1)
      account.TreePosition = i + 1 == profiles.size() ? position_last : position_middle;
    account.update_date = wide(profile.updatedate);
    logon.accounts.push_back(std::move(account));
  }
  return logon;
}

}  // namespace

PasswordRatingModel::~PasswordRatingModel() {
  crypto::secure_wipe(m_index_key.data(), sizeof m_index_key);
}

crypto::digest128_t PasswordRatingModel::digest(std::wstring_view password) const noexcept {
  return crypto::siphash128(m_index_key, password.data(), password.size() * sizeof(wchar_t));
}

void PasswordRatingModel::index_password(std::wstring_view password) {
  ++m_index[digest(password)];
  ++m_indexed;
}

std::uint64_t PasswordRatingModel::others_using(std::wstring_view password) const {
  const auto found = m_index.find(digest(password));
  return found == m_index.end() || found->second == 0 ? 0 : found->second - 1;
}

void BuildPasswordRatingModel(PasswordRatingModel& model,
                              const wchar_t* profile_data,
                              const std::vector<std::wstring>& templates,
                              serialization::reference_resolver& resolver) {
  // One key for the whole pass: deriving it costs far more than using it.
  const crypto::obfuscation_key_t key;
  crypto::digest_key_t index_key{};
  THROW_LAST_ERROR_IF(!::CryptGenRandom(key.provider(), sizeof index_key,
                                        reinterpret_cast<BYTE*>(index_key.data())));
  model.set_index_key(index_key);
  crypto::secure_wipe(index_key.data(), sizeof index_key);

  for (const std::wstring& path : templates) {
    templates::manifest_t manifest;
    if (!templates::loadM_properly(manifest, path))
      continue;
    model.logons.push_back(rate_logon_accounts(manifest, profile_data, model, key, resolver));
  }
}

std::int32_t RatePasswords(PasswordRatingModel& model,
                           const rating_settings_t& settings,
                           std::uint64_t now) {
  const crypto::obfuscation_key_t key;
  // The plain text of one password at a time, wiped as soon as the rules that
  // need it are done.
  crypto::_auto_heap_mem<unsigned char> plain;  // wipes what it last held when it goes
  std::uint64_t sum = 0;
  std::uint64_t count = 0;
  for (LogonRating& logon : model.logons) {
    for (AccountRating& account : logon.accounts) {
      THROW_IF_FAILED(crypto::DeobfuscateFromText(key, account.password, plain));
      if (plain.size() % sizeof(wchar_t) != 0)
        THROW_HR(NTE_BAD_DATA);
      const std::wstring_view password(reinterpret_cast<const wchar_t*>(plain.get()),
                                       plain.size() / sizeof(wchar_t));
      account.ratings = rate_password(password, model.others_using(password), now,
                                      parse_update_date(account.update_date), settings);
      crypto::secure_wipe(plain.get(), plain.size());
      sum += static_cast<std::uint64_t>(account.ratings.overall);
      ++count;
    }
  }
  return overall_level(sum, count);
}

std::int32_t RatePasswords(PasswordRatingModel& model) {
  const std::int32_t level = RatePasswords(model, ReadRatingSettings(), system_time_now());
  StoreOverallStatus(level);
  return level;
}

}  // namespace strength
