// The category lists in the registry under Wine: defaults from the branding
// library on a first start, the round trip, the rewrite that drops stale
// values, and putting logons into a category.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "quicklinks/categories.h"
#include "support/registry.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"

namespace quicklinks {
namespace {

using categories::category_list_t;

constexpr wchar_t kBrandingKey[] = L"SOFTWARE\\Corvantis\\Branding\\Common";

// Name -> members; the registry's enumeration order is its own (Wine sorts).
std::map<std::wstring, std::wstring> pairs(const category_list_t& list) {
  std::map<std::wstring, std::wstring> all;
  for (std::size_t i = 0; i < list.size(); ++i)
    all[list.names[i]] = list.members[i];
  return all;
}

std::vector<std::string> messages() {
  std::vector<std::string> lines;
  for (auto& line : testsupport::new_trace_lines()) {
    if (line[0] != '>' && line[0] != '<')
      lines.push_back(line);
  }
  return lines;
}

TEST(Categories, DefaultsRoundTripAndRewrite) {
  // The branding library beside the test program, as the installer names it.
  const auto old_path = [] {
    auto key = support::try_open_key(HKEY_LOCAL_MACHINE, kBrandingKey, KEY_READ);
    return key ? support::try_get_string(key->get(), L"DLLPath") : std::nullopt;
  }();
  testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kBrandingKey, L"DLLPath",
                              testsupport::program_file(L"CVBrand.dll"));
  testsupport::scratch_key_t root(L"categories");
  messages();

  category_list_t list;
  ReadCategories(list, root.get());
  EXPECT_EQ(list.names, (std::vector<std::wstring>{L"Personal", L"Work", L"Shopping"}));
  EXPECT_EQ(list.members, std::vector<std::wstring>(3));
  EXPECT_TRUE(list.last.empty());

  // Saved, the defaults become three empty values; a stale value goes.
  testsupport::set_reg_string(root.get(), kCategoriesKey, L"Stale", L"x");
  EXPECT_FALSE(list.add(L"work"));
  EXPECT_TRUE(list.add(L"Banking", L"bank"));
  list.last = L"Work";
  SaveCategories(list, root.get());
  EXPECT_EQ(messages(), std::vector<std::string>{"U CTabManage::SaveCategories Categories = 4"});
  category_list_t read;
  ReadCategories(read, root.get());
  EXPECT_EQ(pairs(read), pairs(list));
  EXPECT_EQ(read.last, L"Work");

  // Putting logons into a category stores its list at once, without doubles.
  const std::size_t banking = read.find(L"BANKING").value();
  EXPECT_TRUE(PutLogon(read, banking, L"C:\\T\\mail.cvm", root.get()));
  EXPECT_TRUE(PutLogon(read, banking, L"D:/x/mail.cvm", root.get()));
  EXPECT_TRUE(PutLogon(read, read.find(L"Work").value(), L"C:\\T\\shop.de.cvm", root.get()));
  EXPECT_FALSE(PutLogon(read, 0, L"C:\\T\\a;b.cvm", root.get()));
  EXPECT_THROW(PutLogon(read, 4, L"C:\\T\\x.cvm", root.get()), std::out_of_range);
  category_list_t again;
  ReadCategories(again, root.get());
  EXPECT_EQ(pairs(again), (std::map<std::wstring, std::wstring>{{L"Banking", L"bank;mail"},
                                                                {L"Personal", L""},
                                                                {L"Shopping", L""},
                                                                {L"Work", L"shop.de"}}));

  // A last category of another type is ignored.
  DWORD number = 1;
  testsupport::set_reg_value(root.get(), kDashBoardKey, kLastCategoryValue, REG_DWORD, &number,
                             sizeof number);
  ReadCategories(again, root.get());
  EXPECT_TRUE(again.last.empty());

  if (old_path)
    testsupport::set_reg_string(HKEY_LOCAL_MACHINE, kBrandingKey, L"DLLPath", *old_path);
  else
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kBrandingKey, L"DLLPath");
}

}  // namespace
}  // namespace quicklinks
