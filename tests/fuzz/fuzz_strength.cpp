// Fuzzes the password ratings: any settings, update-date text, UTF-16 password
// (NULs, lone surrogates) and a profile record read from bytes, scanned against
// a form. Every rating stays a level; nothing overflows (UBSan watches).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "strength/portable/account_scan.h"
#include "strength/portable/rating_rules.h"
#include "strength/portable/update_date.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using fuzzcheck::check;

bool is_level(std::int32_t level) {
  return level >= strength::Weak && level <= strength::Strong;
}

struct echo_resolver final : serialization::reference_resolver {
  serialization::secure_wstring Resolve(std::wstring_view name) override {
    if (name.size() % 2 != 0)
      throw std::runtime_error("unresolved");
    return serialization::secure_wstring(name);
  }
};

templates::form_t fuzzed_form(FuzzedDataProvider& in) {
  templates::form_t form;
  const std::size_t fields = in.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t i = 0; i < fields; ++i) {
    templates::field_t& f = form.fields.emplace_back();
    f.type = in.ConsumeIntegralInRange<int>(0, 7);
    f.rfield = in.ConsumeIntegralInRange<int>(0, 2);
    f.password = in.ConsumeBool();
    f.dbname = in.ConsumeRandomLengthString(8);
    f.value = in.ConsumeRandomLengthString(8);
    f.displayname = in.ConsumeRandomLengthString(8);
  }
  return form;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  strength::rating_settings_t settings;
  settings.suggested_char_num = in.ConsumeIntegral<std::int32_t>();
  settings.suggested_char_types = in.ConsumeIntegral<std::int32_t>();
  settings.pwd_share_accts = in.ConsumeIntegral<std::int32_t>();
  settings.suggested_maturity = in.ConsumeIntegral<std::int32_t>();
  const std::uint64_t now = in.ConsumeIntegral<std::uint64_t>();
  const std::uint64_t others = in.ConsumeIntegral<std::uint64_t>();

  const std::string date = in.ConsumeRandomLengthString(40);
  const std::uint64_t updated = strength::parse_update_date(date);
  check(updated == 0 ||
        strength::parse_update_date(strength::format_update_date(updated)) == updated);

  std::wstring password;
  const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, 64);
  for (std::size_t i = 0; i < units; ++i)
    password.push_back(static_cast<wchar_t>(in.ConsumeIntegral<std::uint16_t>()));
  const auto r = strength::rate_password(password, others, now, updated, settings);
  check(is_level(r.length) && is_level(r.classes) && is_level(r.sharing) && is_level(r.age) &&
        is_level(r.overall));
  const std::int32_t overall = strength::overall_level(in.ConsumeIntegral<std::uint64_t>(),
                                                       in.ConsumeIntegral<std::uint64_t>());
  check(overall == strength::NotRated || is_level(overall));

  const templates::form_t form = fuzzed_form(in);
  const std::vector<std::uint8_t> image = in.ConsumeRemainingBytes<std::uint8_t>();
  serialization::cvprofile_t record;
  if (serialization::LoadProfileImage(image.data(), image.size(), record)) {
    echo_resolver resolver;
    if (auto account = strength::scan_account(form, record, resolver))
      check(
          is_level(strength::rate_password(account->password, 0, now, updated, settings).overall));
  }
  return 0;
}
