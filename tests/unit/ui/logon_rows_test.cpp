// The logon list's decisions (platform-free: natively and under Wine).
#include <gtest/gtest.h>

#include "ui/portable/logon_rows.h"

namespace ui {
namespace {

struct no_references final : serialization::reference_resolver {
  serialization::secure_wstring Resolve(std::wstring_view) override { throw 1; }
};

serialization::cvprofile_t profile(int index,
                                   const wchar_t* name,
                                   const wchar_t* user,
                                   int op = 1) {
  serialization::cvprofile_t p;
  p.profileindex = index;
  p.profilename = name;
  p.operation = op;
  for (auto [db, value] : {std::pair{"user", user}, std::pair{"pass", L"secret"}}) {
    auto& item = p.items.emplace_back();
    item.dbname = db;
    item.value = value;
    item.value_op = 1;
  }
  return p;
}

templates::manifest_t manifest() {
  templates::manifest_t m;
  auto& form = m.forms.emplace_back();
  form.options.choosename = "Mail";
  for (auto [db, password] : {std::pair{"user", false}, std::pair{"pass", true}}) {
    auto& f = form.fields.emplace_back();
    f.type = templates::field_edit;
    f.dbname = db;
    f.password = password;
  }
  return m;
}

TEST(LogonRows, NoneOneOrALogonWithItsAccounts) {
  const auto m = manifest();
  EXPECT_FALSE(plan_logon_rows(m, {}).any);
  const auto one = plan_logon_rows(m, {profile(0, L"Work", L"alice")});
  EXPECT_EQ(one.logon, row_class::logon_single);
  EXPECT_EQ(one.logon_text, L"Work");
  EXPECT_TRUE(one.accounts.empty());
  const auto three = plan_logon_rows(
      m, {profile(0, L"A", L"a"), profile(1, L"B", L"b", 2), profile(2, L"C", L"c")});
  EXPECT_EQ(three.logon, row_class::logon_multiple);
  EXPECT_EQ(three.logon_text, L"Mail");
  EXPECT_EQ(three.accounts, (std::vector<std::size_t>{0, 2}));

  no_references resolver;
  EXPECT_EQ(account_text(m, profile(0, L"A", L"alice"), resolver), L"alice");  // never the password
  EXPECT_EQ(account_text(m, profile(0, L"A", L""), resolver), L"A");
}

TEST(LogonRows, MenusNamesAndEdits) {
  using v = std::vector<std::uint32_t>;
  EXPECT_EQ(menu_commands(row_class::account, true), (v{40008, 40005, 40006}));
  EXPECT_EQ(menu_commands(row_class::logon_multiple, true), (v{40004, 40006, 40009}));
  EXPECT_EQ(menu_commands(row_class::logon_multiple, false), (v{40004, 40006}));
  EXPECT_EQ(menu_commands(row_class::logon_single, false), (v{40008, 40004, 40005, 40006}));
  EXPECT_EQ(default_command(row_class::logon_single), 40008u);
  EXPECT_EQ(default_command(row_class::logon_multiple), 0u);

  EXPECT_EQ(quicklink_names(L"Mail", {L"alice", L"alice", L"", L"alice (2)"}),
            (std::vector<std::wstring>{L"Mail - alice", L"Mail - alice (2)", L"Mail",
                                       L"Mail - alice (2) (2)"}));

  serialization::cvprofiles_t list = {profile(1, L"A", L"a"), profile(10, L"B", L"b")};
  EXPECT_FALSE(delete_account(list, "2.0"));
  EXPECT_TRUE(delete_account(list, "10.0"));
  ASSERT_EQ(list.size(), 1u);
  delete_logon(list);
  EXPECT_EQ(list[0].operation, 2);

  EXPECT_EQ(clamp_menu_point({5000, 7}, false, 0, 1024).x, 1023);
  EXPECT_EQ(clamp_menu_point({-40, 7}, false, 0, 1024).x, 0);
  EXPECT_EQ(clamp_menu_point({5000, 7}, true, 0, 1024).x, 5000);
}

}  // namespace
}  // namespace ui
