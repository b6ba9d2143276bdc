#include "strength/portable/rating_rules.h"

#include <algorithm>
#include <cwchar>

namespace strength {
namespace {

constexpr std::uint64_t kFileTimeUnitsPerDay = 864000000000ull;

}  // namespace

character_class classify(char16_t unit) noexcept {
  if (unit >= u'a' && unit <= u'z')
    return class_lower;
  if (unit >= u'A' && unit <= u'Z')
    return class_letter;
  if (unit >= u'0' && unit <= u'9')
    return class_digit;
  return class_other;
}

int count_classes(std::wstring_view password) noexcept {
  // wchar_t is UTF-16 on Windows; elsewhere (native tests, fuzzing) a code
  // point above U+FFFF still classifies as "other", as its surrogates would.
  unsigned seen = 0;
  for (const wchar_t c : password) {
#if WCHAR_MAX > 0xFFFF
    if (static_cast<std::uint32_t>(c) > 0xFFFF) {
      seen |= class_other;
      continue;
    }
#endif
    seen |= classify(static_cast<char16_t>(c));
  }
  int classes = 0;
  for (; seen != 0; seen &= seen - 1)
    ++classes;
  return classes;
}

std::int32_t rate_length(std::size_t length, std::int32_t suggested) noexcept {
  // Lengths beyond any real password are clamped so the percentage cannot wrap.
  const std::int64_t l = static_cast<std::int64_t>(std::min<std::size_t>(length, 0x7FFFFFFF));
  if (suggested == 0 || l >= suggested)
    return Strong;
  return l * 100 / suggested >= 66 ? Medium : Weak;
}

std::int32_t rate_classes(int classes, std::int32_t suggested) noexcept {
  if (classes >= suggested)
    return Strong;
  return classes >= 1 ? Medium : Weak;
}

std::int32_t rate_sharing(std::uint64_t others, std::int32_t allowed) noexcept {
  if (allowed < 0)
    return Weak;
  const std::uint64_t p = static_cast<std::uint64_t>(allowed);
  if (others <= p)
    return Strong;
  return others <= 2 * p ? Medium : Weak;
}

std::int32_t rate_age(std::uint64_t now, std::uint64_t updated, std::int32_t maturity) noexcept {
  // Unsigned on purpose: a date in the future wraps to millions of days.
  const std::uint64_t days = (now - updated) / kFileTimeUnitsPerDay;
  const std::int64_t d = static_cast<std::int32_t>(static_cast<std::uint32_t>(days));
  const std::int64_t m = maturity;
  if (d <= m)
    return Strong;
  return d <= 2 * m ? Medium : Weak;
}

std::int32_t rate_account(std::int32_t length,
                          std::int32_t classes,
                          std::int32_t sharing,
                          std::int32_t age) noexcept {
  const std::int32_t m = std::min(length, classes);
  const bool good_habits = sharing >= Medium && age >= Medium;
  switch (m) {
    case Medium:
      return good_habits ? Medium : Weak;
    case Strong:
      return good_habits ? Strong : Medium;
    default:
      return Weak;
  }
}

std::int32_t overall_level(std::uint64_t sum, std::uint64_t count) noexcept {
  if (count == 0)
    return NotRated;
  const float percent =
      static_cast<float>(static_cast<double>(sum) / (3.0 * static_cast<double>(count)) * 100.0);
  if (percent < 34.0f)
    return Weak;
  return percent < 75.0f ? Medium : Strong;
}

account_ratings_t rate_password(std::wstring_view password,
                                std::uint64_t others,
                                std::uint64_t now,
                                std::uint64_t updated,
                                const rating_settings_t& settings) noexcept {
  account_ratings_t r;
  r.length = rate_length(password.size(), settings.suggested_char_num);
  r.classes = rate_classes(count_classes(password), settings.suggested_char_types);
  r.sharing = rate_sharing(others, settings.pwd_share_accts);
  r.age = rate_age(now, updated, settings.suggested_maturity);
  r.overall = rate_account(r.length, r.classes, r.sharing, r.age);
  return r;
}

}  // namespace strength
