// The arithmetic of the password ratings: four partial ratings per account, the
// account's combined rating and the overall level. Every input may be extreme
// (settings are whatever the user typed); the rules widen to 64 bits before
// they multiply, so nothing overflows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace strength {

enum rating_level : std::int32_t { NotRated = 0, Weak = 1, Medium = 2, Strong = 3 };

// The four settings the rules obey, with their defaults.
struct rating_settings_t {
  std::int32_t suggested_char_num = 6;
  std::int32_t suggested_char_types = 2;
  std::int32_t pwd_share_accts = 2;
  std::int32_t suggested_maturity = 90;
};

// The classes a password's characters fall in: lower-case letter, other letter,
// digit, anything else. Letters and digits are those of the C locale (ASCII);
// every other code unit, Latin-1 and everything above U+00FF included, counts
// as "other".
enum character_class : unsigned {
  class_lower = 1,
  class_letter = 2,
  class_digit = 4,
  class_other = 8
};
character_class classify(char16_t unit) noexcept;
// How many of the four classes occur (0 to 4).
int count_classes(std::wstring_view password) noexcept;

// Length in UTF-16 code units against the suggested minimum.
std::int32_t rate_length(std::size_t length, std::int32_t suggested) noexcept;
std::int32_t rate_classes(int classes, std::int32_t suggested) noexcept;
// `others`: how many other accounts use the same password.
std::int32_t rate_sharing(std::uint64_t others, std::int32_t allowed) noexcept;
// File times in 100-ns units since 1601; an update later than now rates Weak.
std::int32_t rate_age(std::uint64_t now, std::uint64_t updated, std::int32_t maturity) noexcept;
// The account's combined rating from its four partial ratings.
std::int32_t rate_account(std::int32_t length,
                          std::int32_t classes,
                          std::int32_t sharing,
                          std::int32_t age) noexcept;
// The overall level of `count` accounts whose combined ratings add up to `sum`.
std::int32_t overall_level(std::uint64_t sum, std::uint64_t count) noexcept;

// The five ratings of one account, in the order the records keep them.
struct account_ratings_t {
  std::int32_t length = 0;
  std::int32_t classes = 0;
  std::int32_t sharing = 0;
  std::int32_t age = 0;
  std::int32_t overall = 0;
};

// All four rules and the combination for one password.
account_ratings_t rate_password(std::wstring_view password,
                                std::uint64_t others,
                                std::uint64_t now,
                                std::uint64_t updated,
                                const rating_settings_t& settings) noexcept;

}  // namespace strength
