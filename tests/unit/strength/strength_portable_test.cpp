// The rating rules, the update-date text, the account scan, the keyed digest
// and the merge of a refreshed profile (platform-free: natively and under Wine).
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <string>

#include "crypto/portable/keyed_digest.h"
#include "store/portable/profile_merge.h"
#include "strength/portable/account_scan.h"
#include "strength/portable/rating_rules.h"
#include "strength/portable/update_date.h"
#include "templates/portable/manifest.h"

namespace strength {
namespace {

constexpr std::uint64_t kDay = 864000000000ull;
constexpr std::uint64_t kNow = 0x01DB000000000000ull;

TEST(RatingRules, EachRuleAtItsBoundaries) {
  struct {
    const char* rule;
    std::int64_t value;
    std::int32_t setting;
    std::int32_t expected;
  } cases[] = {
      {"length", 3, 6, Weak},      {"length", 4, 6, Medium},  // 400 / 6 = 66
      {"length", 6, 6, Strong},    {"length", 0, 0, Strong},  // no minimum
      {"length", 0, -5, Strong},   {"length", 1, INT_MAX, Weak},
      {"classes", 0, 2, Weak},     {"classes", 1, 2, Medium},
      {"classes", 2, 2, Strong},   {"classes", 4, INT_MAX, Medium},
      {"sharing", 2, 2, Strong},   {"sharing", 3, 2, Medium},
      {"sharing", 4, 2, Medium},   {"sharing", 5, 2, Weak},
      {"sharing", 1, 0, Weak},     {"sharing", 0, 0, Strong},
      {"sharing", 0, -1, Weak},    {"sharing", 4000000000, INT_MAX, Medium},
      {"age", 90, 90, Strong},     {"age", 91, 90, Medium},
      {"age", 180, 90, Medium},    {"age", 181, 90, Weak},
      {"age", -1, 90, Weak},  // one day in the future
      {"age", 5, INT_MAX, Strong}, {"age", 1, -3, Weak},
  };
  for (const auto& c : cases) {
    std::int32_t got = 0;
    const std::string rule = c.rule;
    if (rule == "length")
      got = rate_length(static_cast<std::size_t>(c.value), c.setting);
    else if (rule == "classes")
      got = rate_classes(static_cast<int>(c.value), c.setting);
    else if (rule == "sharing")
      got = rate_sharing(static_cast<std::uint64_t>(c.value), c.setting);
    else
      got = rate_age(kNow, kNow - static_cast<std::uint64_t>(c.value) * kDay, c.setting);
    EXPECT_EQ(got, c.expected) << c.rule << " " << c.value << " setting " << c.setting;
  }
  EXPECT_EQ(rate_age(kNow, 0, 90), Weak);  // no date: counted from 1601
}

TEST(RatingRules, ClassesAndTheCombinedRatings) {
  EXPECT_EQ(count_classes(L""), 0);
  EXPECT_EQ(count_classes(L"abc"), 1);
  EXPECT_EQ(count_classes(L"Ab1!"), 4);
  EXPECT_EQ(count_classes(L"\u00e9\u00c9\u0416\u4e2d"), 1);  // beyond ASCII: all "other"
  EXPECT_EQ(count_classes(L"a\xD800"), 2);                   // a lone surrogate too

  // m = min(length, classes); good habits = sharing and age at least Medium.
  EXPECT_EQ(rate_account(Weak, Strong, Strong, Strong), Weak);
  EXPECT_EQ(rate_account(Medium, Strong, Strong, Medium), Medium);
  EXPECT_EQ(rate_account(Strong, Medium, Weak, Strong), Weak);
  EXPECT_EQ(rate_account(Strong, Strong, Strong, Strong), Strong);
  EXPECT_EQ(rate_account(Strong, Strong, Strong, Weak), Medium);

  EXPECT_EQ(overall_level(0, 0), NotRated);
  EXPECT_EQ(overall_level(1, 1), Weak);      // 33.3
  EXPECT_EQ(overall_level(51, 50), Medium);  // exactly 34
  EXPECT_EQ(overall_level(9, 4), Strong);    // exactly 75
  EXPECT_EQ(overall_level(17, 8), Medium);   // 70.8
  EXPECT_EQ(overall_level(UINT64_MAX, UINT64_MAX / 3), Strong);

  const rating_settings_t defaults;
  const auto strong = rate_password(L"Tr0ub4d&", 0, kNow, kNow, defaults);
  EXPECT_EQ((std::array{strong.length, strong.classes, strong.sharing, strong.age, strong.overall}),
            (std::array{3, 3, 3, 3, 3}));
  EXPECT_EQ(rate_password(L"abc", 0, kNow, kNow, defaults).overall, Weak);
}

TEST(UpdateDate, TwoHexRunsOrNothing) {
  const std::map<std::string, std::uint64_t> cases = {
      {"1DB4F2A 5C3E9100", 0x01DB4F2A5C3E9100ull},
      {"  1db4f2a\t5c3e9100 \r\n", 0x01DB4F2A5C3E9100ull},
      {"0 1", 1},
      {"FFFFFFFF FFFFFFFF", UINT64_MAX},
      {"", 0},
      {"1DB4F2A", 0},
      {"1DB4F2A5C3E9100", 0},  // one run of 15 digits
      {"123456789 1", 0},      // nine digits
      {"1 2 3", 0},
      {"1-2", 0},
      {"0x1 2", 0},
      {"2024-05-01 10:30:00", 0},  // the old local-date form
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parse_update_date(text), expected) << text;
    EXPECT_EQ(parse_update_date(std::wstring(text.begin(), text.end())), expected) << text;
  }
  EXPECT_EQ(format_update_date(0x01DB4F2A5C3E9100ull), "01DB4F2A 5C3E9100");
  EXPECT_EQ(parse_update_date(format_update_date(kNow)), kNow);
}

// Resolves "550-08-60 name" to "<name>-value", fails for "missing".
struct test_resolver final : serialization::reference_resolver {
  serialization::secure_wstring Resolve(std::wstring_view name) override {
    if (name == L"missing")
      throw std::runtime_error("no such reference");
    return serialization::secure_wstring(std::wstring(name) + L"-value");
  }
};

templates::field_t field(int type, const char* dbname, bool password = false) {
  templates::field_t f;
  f.type = type;
  f.dbname = dbname;
  f.displayname = dbname;
  f.password = password;
  return f;
}

serialization::cvprofileitem_t item(const char* dbname, const wchar_t* value, int op = 1) {
  serialization::cvprofileitem_t i;
  i.dbname = dbname;
  i.value = value;
  i.value_op = op;
  return i;
}

TEST(AccountScan, PicksTheLastOrdinaryFieldBeforeThePassword) {
  using namespace templates;
  form_t form;
  form.fields = {field(field_edit, "user"), field(field_button, "go"),
                 field(field_check, "remember"), field(field_edit, "pass", true),
                 field(field_edit, "after")};
  serialization::cvprofile_t profile;
  profile.items = {item("user", L"alice"), item("go", L"x"), item("remember", L""),
                   item("pass", L"pw"), item("after", L"late")};
  profile.items[0].displayname = L"User name";
  test_resolver resolver;

  auto account = scan_account(form, profile, resolver);
  ASSERT_TRUE(account);
  EXPECT_EQ(account->label, L"User name");  // the item's name before the field's
  EXPECT_EQ(account->value, L"alice");      // an empty check box did not count
  EXPECT_EQ(account->password.view(), L"pw");
  // The value alone, for a list naming the account.
  auto named = scan_account(form, profile, resolver, scan_parts::value_only);
  ASSERT_TRUE(named);
  EXPECT_EQ(named->value, L"alice");
  EXPECT_TRUE(named->label.empty() && named->password.size() == 0);

  // A deleted item gives way to the next with the same name; a reference is resolved.
  profile.items.insert(profile.items.begin(), item("pass", L"old", 2));
  profile.items[4].value = std::wstring(serialization::kReferenceMarker) + L"secret";
  EXPECT_EQ(scan_account(form, profile, resolver)->password.view(), L"secret-value");

  // A value of the template's own, "@" values and "out" fields.
  form.fields[0].value = "fixed";
  form.fields[2].value = "@ask";
  form.fields[2].type = field_edit;
  EXPECT_EQ(scan_account(form, profile, resolver)->value, L"fixed");
  form.fields[0].rfield = rfield_out;
  EXPECT_EQ(scan_account(form, profile, resolver)->value, L"");

  // An unresolvable password or none at all: no account.
  profile.items[4].value = std::wstring(serialization::kReferenceMarker) + L"missing";
  EXPECT_FALSE(scan_account(form, profile, resolver));
  form.fields[3].password = false;
  profile.items[4].value = L"pw";
  EXPECT_FALSE(scan_account(form, profile, resolver));
}

TEST(KeyedDigest, PublishedVectorsAndKeySensitivity) {
  const crypto::digest_key_t key = {0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
  unsigned char message[15];
  for (unsigned i = 0; i < sizeof message; ++i)
    message[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(crypto::siphash64(key, message, 0), 0x726FDB47DD0E0E31ull);
  EXPECT_EQ(crypto::siphash64(key, message, 15), 0xA129CA6149BE45E5ull);
  const auto a = crypto::siphash128(key, message, 15);
  EXPECT_NE(a, crypto::siphash128(key, message, 14));
  EXPECT_NE(a, crypto::siphash128({key[0] ^ 1, key[1]}, message, 15));
}

TEST(ProfileMerge, OneRecordPerKeyInTextOrder) {
  using serialization::cvprofile_t;
  auto record = [](int profile, int form, int operation, const wchar_t* name) {
    cvprofile_t r;
    r.profileindex = profile;
    r.formindex = form;
    r.operation = operation;
    r.profilename = name;
    return r;
  };
  const serialization::cvprofiles_t stored = {record(2, 0, 1, L"two"), record(1, 0, 1, L"old"),
                                              record(10, 0, 1, L"ten"), record(3, 0, 0, L"gone")};
  const auto merged = serialization::merge_refreshed_profile(stored, record(1, 0, 3, L"new"));
  std::wstring names;
  for (const auto& r : merged)
    names += r.profilename + L" ";
  EXPECT_EQ(names, L"new ten two ");  // "1.0" < "10.0" < "2.0"; operation 0 left out
  EXPECT_TRUE(serialization::merge_refreshed_profile({}, record(0, 0, 0, L"x")).empty());
}

}  // namespace
}  // namespace strength
