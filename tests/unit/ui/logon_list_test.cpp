// The logon list's rows over the fill-in and training stand-ins: the rows a
// logon's stored profiles make, their menus from the language library, and
// what each action leaves in the profile text, the quick-link file and the
// agent's log.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "quicklinks/quicklink_store.h"
#include "store/fillin_components.h"
#include "suite/common/box_answer.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "tests/unit/fillin/fillin_test_support.h"
#include "tests/unit/templates/templates_test_support.h"
#include "ui/list/list_items.h"

namespace ui {
namespace {

using serialization::cvprofile_t;
using serialization::cvprofiles_t;
using serialization::secure_wstring;

constexpr wchar_t kId[] = L"{6F1C2A40-3B7E-4D8A-9C11-2E5B7A0D4F01}";
constexpr wchar_t kScript[] = L"CVUTRAIN_STANDIN_SCRIPT";

class rows_t : public CLogonListContext {
 public:
  rows_t() {
    resources = ::LoadLibraryExW(testsupport::program_file(L"CVOnlineIDs.dll.mui").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  ~rows_t() override {
    rows.clear();
    ::FreeLibrary(resources);
  }
  bool InsertRow(int position, std::unique_ptr<CListItemData>& row) override {
    if (++calls == refused_call || position > static_cast<int>(rows.size()))
      return false;
    rows.insert(rows.begin() + position, std::move(row));
    return true;
  }
  std::vector<std::wstring> texts() const {
    std::vector<std::wstring> out;
    for (const auto& row : rows) {
      std::wstring text;
      row->GetText(text);
      out.push_back(text);
    }
    return out;
  }

  std::vector<std::unique_ptr<CListItemData>> rows;
  int calls = 0;
  int refused_call = 0;
};

cvprofile_t account(int index, const std::wstring& name, const std::wstring& email) {
  return filltest::record(index, name,
                          {{L"E-mail address", "email", email}, {L"Password", "password", L"pw"}});
}

const fillin::CFillinComponent& fill() {
  return fillin::fillin_component();
}

std::vector<std::wstring> menu_of(HMENU menu) {
  std::vector<std::wstring> items;
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
    items.push_back(std::to_wstring(::GetMenuItemID(menu, i)));
  const UINT standard = ::GetMenuDefaultItem(menu, FALSE, 0);
  items.push_back(L"default " + std::to_wstring(static_cast<int>(standard)));
  return items;
}

class LogonList : public ::testing::Test {
 protected:
  LogonList() {
    testsupport::write_file(m_links_file, "");
    m_template = m_folder.path() + L"northwind.cvm";
    ::CopyFileW((templatestest::data_dir() + L"web_mail_single.cvm").c_str(), m_template.c_str(),
                FALSE);
    testsupport::new_trace_lines();
  }

  // Stores the accounts for the template and fills the list from the text.
  bool fill_list(const cvprofiles_t& accounts) {
    m_data = fill().update_profiles(kId, L"", accounts);
    return AddLogonRows(m_template, m_data.c_str(), m_list, 0);
  }
  cvprofiles_t stored() const { return fill().get_profiles(kId, m_data.c_str()); }
  // The quick links of the set as the file holds them after a save.
  std::vector<std::wstring> saved_links() {
    EXPECT_TRUE(QL::save(m_links_file, m_links));
    QL::set_t loaded;
    QL::load_file(m_links_file, loaded);
    std::vector<std::wstring> names;
    for (const auto& record : loaded.records)
      names.push_back(templates::utf8_to_wide(record.name) + L" " +
                      std::to_wstring(record.profile));
    return names;
  }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  testsupport::scratch_folder_t m_folder;
  std::wstring m_links_file = m_folder.path() + L"QuickLinks.txt";
  std::wstring m_template;
  rows_t m_list;
  secure_wstring m_data;
  QL::set_t m_links;
};

TEST_F(LogonList, RowsTextsKeysAndMenusFollowTheStoredProfiles) {
  EXPECT_FALSE(fill_list({}));
  EXPECT_TRUE(m_list.rows.empty());
  EXPECT_FALSE(AddLogonRows(m_folder.path() + L"missing.cvm", m_data.c_str(), m_list, 0));

  ASSERT_TRUE(fill_list({account(0, L"Work", L"alice@example.com")}));
  ASSERT_EQ(m_list.rows.size(), 1u);
  const auto& single = *m_list.rows[0];
  EXPECT_EQ(m_list.texts(), std::vector<std::wstring>{L"Work"});
  EXPECT_TRUE(single.IsLogon() && single.IsSingleAccount());
  EXPECT_EQ(single.GetDefaultCommand(), 40008u);
  std::wstring id, url, path;
  EXPECT_TRUE(single.GetQuickLaunchInfo(id, url));
  EXPECT_EQ(id + L" " + url, std::wstring(kId) + L" https://mail.northwind.example/");
  single.GetTemplatePath(path);
  EXPECT_EQ(path, m_template);

  m_list.rows.clear();
  cvprofile_t deleted = account(1, L"Old", L"old@example.com");
  deleted.operation = 2;
  ASSERT_TRUE(fill_list({account(0, L"Work", L"alice@example.com"), deleted,
                         account(2, L"Home", L"bob@example.com")}));
  // The fill-in component keeps no deleted record: two accounts come back.
  EXPECT_EQ(m_list.texts(), (std::vector<std::wstring>{L"Northwind Mail", L"alice@example.com",
                                                       L"bob@example.com"}));
  EXPECT_FALSE(m_list.rows[0]->IsSingleAccount());
  EXPECT_EQ(m_list.rows[0]->GetAccountCount(), 2u);
  EXPECT_EQ(m_list.rows[0]->GetDefaultCommand(), 0u);
  cvprofile_t profile;
  EXPECT_FALSE(m_list.rows[0]->GetProfile(profile));
  ASSERT_TRUE(m_list.rows[2]->GetProfile(profile));
  EXPECT_EQ(profile.profilename, L"Home");
  EXPECT_EQ(static_cast<CAccount&>(*m_list.rows[2]).key(), "2.0");
  m_list.rows[2]->GetTemplatePath(path);
  EXPECT_EQ(path, m_template);

  // A row the list does not take is left out; the rest still go in.
  m_list.rows.clear();
  m_list.calls = 0;
  m_list.refused_call = 2;
  ASSERT_TRUE(fill_list({account(0, L"Work", L"a@x"), account(1, L"Home", L"b@x")}));
  EXPECT_EQ(m_list.texts(), (std::vector<std::wstring>{L"Northwind Mail", L"b@x"}));

  using items = std::vector<std::wstring>;
  const struct {
    row_class row;
    bool category;
    items expected;
  } menus[] = {
      {row_class::logon_single, false, {L"40008", L"40004", L"40005", L"40006", L"default 40008"}},
      {row_class::logon_single,
       true,
       {L"40008", L"40004", L"40005", L"40006", L"40009", L"default 40008"}},
      {row_class::logon_multiple, false, {L"40004", L"40006", L"default -1"}},
      {row_class::logon_multiple, true, {L"40004", L"40006", L"40009", L"default -1"}},
      {row_class::account, true, {L"40008", L"40005", L"40006", L"default 40008"}},
  };
  for (const auto& m : menus) {
    const unique_hmenu menu = BuildRowMenu(m_list.resources, m.row, m.category);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu_of(menu.get()), m.expected) << static_cast<int>(m.row) << m.category;
  }
  EXPECT_FALSE(BuildRowMenu(nullptr, row_class::account, false));
}

TEST_F(LogonList, ARowOwnsItsIcon) {
  CListItemData row(L"x");
  const HICON first = ::CreateIcon(nullptr, 16, 16, 1, 1, std::vector<BYTE>(32, 0xFF).data(),
                                   std::vector<BYTE>(32, 0).data());
  const HICON second = ::CopyIcon(first);
  row.SetIcon(first);
  row.SetIcon(second);
  ICONINFO info{};
  EXPECT_FALSE(::GetIconInfo(first, &info));  // the replaced icon is gone
  EXPECT_EQ(row.GetIcon(), second);
}

TEST_F(LogonList, AddAndEditGoThroughTheAccountDialog) {
  ASSERT_TRUE(fill_list({account(0, L"Work", L"alice@example.com")}));
  auto& logon = *m_list.rows[0];
  {
    testsupport::scoped_environment_t script(
        kScript, L"ok;profilename=Home;email=bob@example.com;password=pw2");
    ASSERT_TRUE(logon.Add(nullptr, m_data, m_links));
  }
  cvprofiles_t now = stored();
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[1].profilename, L"Home");
  EXPECT_EQ(now[1].profileindex, 1);
  EXPECT_EQ(saved_links(), (std::vector<std::wstring>{L"Northwind Mail - alice@example.com 0",
                                                      L"Northwind Mail - bob@example.com 1"}));
  {
    testsupport::scoped_environment_t script(kScript,
                                             L"ok;profilename=Office;email=carol@example.com");
    ASSERT_TRUE(logon.Edit(nullptr, m_data, m_links));
  }
  now = stored();
  EXPECT_EQ(now[0].profilename, L"Office");
  EXPECT_EQ(saved_links()[0], L"Northwind Mail - carol@example.com 0");

  // Cancelled, or the training component failing: nothing changes.
  const std::wstring before(m_data.view());
  {
    testsupport::scoped_environment_t script(kScript, L"cancel");
    EXPECT_FALSE(logon.Add(nullptr, m_data, m_links));
    EXPECT_FALSE(logon.Edit(nullptr, m_data, m_links));
  }
  testsupport::standin_faults_t faults(L"CvUTrain");
  faults.fail(L"dll_function_modifyprofile", E_ACCESSDENIED);
  EXPECT_FALSE(logon.Add(nullptr, m_data, m_links));
  EXPECT_FALSE(logon.Edit(nullptr, m_data, m_links));
  EXPECT_EQ(std::wstring(m_data.view()), before);
  EXPECT_EQ(logon.GetAccountCount(), 2u);
}

TEST_F(LogonList, DeletesAskFirstAndRemoveAccountsAndLinks) {
  ASSERT_TRUE(fill_list({account(0, L"Work", L"a@x"), account(1, L"Home", L"b@x")}));
  m_list.rows[0]->UpdateQuickLinks(m_links);
  ASSERT_EQ(saved_links().size(), 2u);
  const auto lines = templatestest::traced();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "U CLogonWithMultipleAccounts::UpdateQuickLinks Added qlink, name = "
                      "Northwind Mail - b@x"),
            lines.end());
  const std::wstring before(m_data.view());

  standin::CBoxAnswer no({.button = IDNO});
  EXPECT_FALSE(m_list.rows[1]->Delete(nullptr, m_data, m_links));
  EXPECT_EQ(no.seen().caption, L"Online IDs");
  EXPECT_EQ(no.seen().text, L"Do you want to delete this account?");
  EXPECT_EQ(std::wstring(m_data.view()), before);

  standin::CBoxAnswer yes({.button = IDYES});
  EXPECT_TRUE(m_list.rows[1]->Delete(nullptr, m_data, m_links));
  ASSERT_EQ(stored().size(), 1u);
  EXPECT_EQ(stored()[0].profilename, L"Home");
  EXPECT_EQ(saved_links(), std::vector<std::wstring>{L"Northwind Mail - b@x 1"});

  // The only account left, deleted through its row: no account, no link.
  standin::CBoxAnswer again({.button = IDYES});
  EXPECT_TRUE(m_list.rows[2]->Delete(nullptr, m_data, m_links));
  EXPECT_TRUE(stored().empty());
  EXPECT_TRUE(saved_links().empty());
  // Its key is gone now: nothing to do, nothing to commit.
  standin::CBoxAnswer late({.button = IDYES});
  EXPECT_FALSE(m_list.rows[2]->Delete(nullptr, m_data, m_links));
}

}  // namespace
}  // namespace ui
