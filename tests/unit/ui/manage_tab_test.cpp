// The manage tab created for real from the language library, as a child of a
// test window, over the protected-storage and fill-in stand-ins: a fake
// notification window hands out a real dashboard storage object and records
// what the tab tells it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "agent/notification_window.h"
#include "quicklinks/quicklink_store.h"
#include "store/dashboard_storage.h"
#include "suite/common/box_answer.h"
#include "support/com.h"
#include "support/registry.h"
#include "tests/support/traced_test_main.h"
#include "tests/support/win_test_helpers.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "tests/unit/strength/strength_test_support.h"
#include "tests/unit/ui/fake_notification_window.h"
#include "ui/pages/manage_tab.h"

namespace ui {
namespace {

using strengthtest::account;
using testsupport::set_reg_string;

constexpr wchar_t kRoot[] = L"Software\\CvTest\\ManageTab";
constexpr wchar_t kCategories[] =
    L"Software\\CvTest\\ManageTab\\SOFTWARE\\Corvantis\\Applications\\DashBoard\\QLCategories";
constexpr wchar_t kSettings[] = L"Software\\Corvantis\\Settings";

std::vector<std::wstring> g_paths;

void lookup(std::vector<std::wstring>& paths) {
  paths = g_paths;
}

std::vector<std::wstring> items_of(HWND list) {
  std::vector<std::wstring> texts;
  const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[300] = {};
    LVITEMW item{};
    item.pszText = text;
    item.cchTextMax = 300;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    texts.emplace_back(text);
  }
  return texts;
}

std::vector<std::wstring> categories_stored() {
  std::vector<std::wstring> pairs;
  if (const auto key = support::try_open_key(HKEY_CURRENT_USER, kCategories, KEY_READ)) {
    for (const auto& name : support::enum_value_names(key->get()))
      pairs.push_back(name + L"=" +
                      support::try_get_string(key->get(), name.c_str()).value_or(L""));
  }
  return pairs;
}

int count_seen(UINT message) {
  return uitest::g_notification.count(message);
}

void pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// The traced lines holding one of the texts, in trace order.
std::vector<std::string> traced_of(const std::vector<std::string>& texts) {
  std::vector<std::string> found;
  for (const auto& line : testsupport::new_trace_lines())
    for (const auto& text : texts)
      if (line.find(text) != std::string::npos)
        found.push_back(text);
  return found;
}

const std::vector<std::string> kSaveSteps = {"Saving changes...", "1. Committed PS.",
                                             "2. Updated quick links.", "3. Notified siblings."};

class ManageTab : public ::testing::Test {
 protected:
  ManageTab() {
    uitest::g_notification = {};
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    set_reg_string(HKEY_CURRENT_USER, kCategories, L"Work", L"alpha");
    set_reg_string(HKEY_CURRENT_USER, kCategories, L"Home", L"");
    set_reg_string(HKEY_CURRENT_USER, kSettings, L"quicklink_filename", m_links);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, kHotKeySetting);
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_root,
                      nullptr);

    const std::wstring folder = m_folder.path();
    g_paths = {strengthtest::write_template(folder, "{A}", "alpha"),
               strengthtest::write_template(folder, "{B}", "beta"),
               strengthtest::write_template(folder, "{C}", "gamma")};
    strengthtest::store_profiles(L"{A}", {account(0, L"Alpha", L"al", L"pw1")});
    strengthtest::store_profiles(
        L"{B}", {account(0, L"B1", L"bob", L"pw2"), account(1, L"B2", L"bea", L"pw3"),
                 account(2, L"B3", L"ben", L"pw4")});
    strengthtest::store_profiles(L"{C}", {account(0, L"Gamma", L"gil", L"pw5")});
    dashboard::set_manifest_lookup(lookup);
    EXPECT_EQ(dashboard::OpenDashBoardStorage(m_storage.put()), S_OK);
    uitest::g_notification.storage = m_storage.get();

    m_resources =
        ::LoadLibraryExW(testsupport::program_file(L"CVOnlineIDs.dll.mui").c_str(), nullptr,
                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    m_host = uitest::fake_notification_window(WS_OVERLAPPEDWINDOW);
    m_notify = uitest::fake_notification_window(WS_POPUP);
  }
  ~ManageTab() override {
    m_tab.reset();
    ::DestroyWindow(m_host);
    ::DestroyWindow(m_notify);
    uitest::g_notification.storage = nullptr;
    m_storage.reset();
    dashboard::set_manifest_lookup(nullptr);
    ::FreeLibrary(m_resources);
    ::RegCloseKey(m_root);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"quicklink_filename");
  }

  void open() {
    m_tab.reset();  // its window goes first: the categories are saved
    m_tab = std::make_unique<CTabManage>(m_resources, m_root);
    m_tab->SetNotificationWindow(m_notify);
    ASSERT_NE(m_tab->CreateTab(m_host), nullptr);
    pump();
    testsupport::new_trace_lines();
  }
  HWND control(int id) const { return ::GetDlgItem(m_tab->m_hWnd, id); }
  // The category list's item of the name (the registry's order is its own).
  int category(const wchar_t* name) const {
    const auto items = items_of(control(kIdcCategories));
    return static_cast<int>(std::find(items.begin(), items.end(), name) - items.begin());
  }
  const uitest::seen_t* last_seen(UINT message) const {
    return uitest::g_notification.last(message);
  }
  std::vector<std::wstring> rows() const { return items_of(control(kIdcLogons)); }
  void select(int id, int item) {
    LVITEMW state{};
    state.state = state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(control(id), LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                   reinterpret_cast<LPARAM>(&state));
  }
  void key(int id, UINT vk) { ::SendMessageW(control(id), WM_KEYDOWN, vk, 0); }
  void drop(int source, int target, HWND list = nullptr) {
    drop_record_t record{source, target, list ? list : control(kIdcCategories)};
    ::SendMessageW(m_tab->m_hWnd, kMsgRowDropped, 0, reinterpret_cast<LPARAM>(&record));
  }
  std::vector<std::wstring> accounts_of_beta() const {
    std::vector<std::wstring> names;
    const auto text = strengthtest::stored_text();
    for (const auto& p : fillin::fillin_component().get_profiles(L"{B}", text.c_str()))
      names.push_back(p.profilename);
    return names;
  }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_folder;
  std::wstring m_links = m_folder.path() + L"QuickLinks.txt";
  HKEY m_root = nullptr;
  HINSTANCE m_resources = nullptr;
  support::com_ptr<IDashBoardStorage> m_storage;
  HWND m_host = nullptr;
  HWND m_notify = nullptr;
  std::unique_ptr<CTabManage> m_tab;
};

TEST_F(ManageTab, ShowsTheLogonsOfACategoryTheHotKeyAndAsksForOneFirstRating) {
  open();
  auto names = items_of(control(kIdcCategories));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], L"All logons");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"All logons", L"Home", L"Work"}));
  EXPECT_EQ(rows(),
            (std::vector<std::wstring>{L"Alpha", L"beta", L"bob", L"bea", L"ben", L"Gamma"}));
  EXPECT_EQ(m_tab->HotKeyText(), L"Ctrl+Win+H");
  EXPECT_EQ(count_seen(agent::kMsgRecalculateStrength), 1);  // no IDCard_SS
  EXPECT_EQ(count_seen(agent::kMsgGetIcon), 3);              // the three logons' sites

  select(kIdcCategories, category(L"Work"));
  EXPECT_EQ(m_tab->CategoryShown(), L"Work");
  EXPECT_EQ(rows(), std::vector<std::wstring>{L"Alpha"});
  select(kIdcCategories, category(L"Home"));
  EXPECT_TRUE(rows().empty());

  // The buttons: training to the notification window, the plug-in's request
  // to the host.
  ::SendMessageW(m_tab->m_hWnd, WM_COMMAND, MAKEWPARAM(kIdcNewLogon, BN_CLICKED), 0);
  ::SendMessageW(m_tab->m_hWnd, WM_COMMAND, MAKEWPARAM(kIdcAboutPlugin, BN_CLICKED), 0);
  EXPECT_EQ(count_seen(agent::kMsgStartTraining), 1);
  ASSERT_EQ(count_seen(kMsgHostRequest), 1);
  EXPECT_EQ(last_seen(kMsgHostRequest)->to, m_host);
  EXPECT_EQ(last_seen(kMsgHostRequest)->wparam, 1u);
  EXPECT_EQ(last_seen(kMsgHostRequest)->text, L"{DFE62CBF-66E7-4101-926B-16EC9DB5CA4F}");

  // With a stored rating no request; the last category shown comes back.
  m_tab.reset();
  testsupport::set_reg_dword(m_root, L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard",
                             L"IDCard_SS", 2);
  uitest::g_notification.seen.clear();
  open();
  EXPECT_EQ(count_seen(agent::kMsgRecalculateStrength), 0);
  EXPECT_EQ(m_tab->CategoryShown(), L"Home");
}

TEST_F(ManageTab, DeletingAnAccountSavesInThreeStepsOnlyAfterYes) {
  open();
  const std::wstring before(strengthtest::stored_text().view());
  select(kIdcLogons, 3);  // beta's account "bea"
  {
    standin::CBoxAnswer no({.button = IDNO});
    key(kIdcLogons, VK_DELETE);
    EXPECT_TRUE(no.done());
  }
  EXPECT_TRUE(traced_of(kSaveSteps).empty());
  EXPECT_EQ(std::wstring(strengthtest::stored_text().view()), before);
  EXPECT_EQ(count_seen(dashboard::kMsgPageNotify), 0);

  standin::CBoxAnswer yes({.button = IDYES});
  key(kIdcLogons, VK_DELETE);
  EXPECT_EQ(traced_of(kSaveSteps), kSaveSteps);
  EXPECT_EQ(accounts_of_beta(), (std::vector<std::wstring>{L"B1", L"B3"}));
  QL::set_t links;
  QL::load_file(m_links, links);
  EXPECT_EQ(links.records.size(), 2u);
  ASSERT_EQ(count_seen(dashboard::kMsgPageNotify), 1);
  const std::wstring size = std::to_wstring(sizeof(dashboard::change_record_t));
  EXPECT_EQ(last_seen(dashboard::kMsgPageNotify)->wparam, dashboard::kNotifyStorageChanged);
  EXPECT_EQ(last_seen(dashboard::kMsgPageNotify)->text, size + L" " + g_paths[1]);
  EXPECT_EQ(rows(), (std::vector<std::wstring>{L"Alpha", L"beta", L"bob", L"ben", L"Gamma"}));
}

TEST_F(ManageTab, AFailingProtectedStorageSavesNothingAndRefills) {
  const struct {
    const wchar_t* entry;
    bool asks;
  } faults[] = {{L"CVOPSSave", true}, {L"CVOPSCommit", true}, {L"CVOPSQuery", false}};
  open();
  const std::wstring before(strengthtest::stored_text().view());
  for (const auto& f : faults) {
    {
      testsupport::standin_faults_t injected(L"CvoPS");
      injected.fail(f.entry, E_ACCESSDENIED);
      select(kIdcLogons, 0);
      standin::CBoxAnswer yes({.button = IDYES, .timeout_ms = 1000});
      key(kIdcLogons, VK_DELETE);
      EXPECT_EQ(yes.done(), f.asks) << f.entry;
      const auto steps = traced_of(kSaveSteps);
      EXPECT_EQ(std::count(steps.begin(), steps.end(), kSaveSteps[1]), 0) << f.entry;
      EXPECT_EQ(count_seen(dashboard::kMsgPageNotify), 0);
    }
    m_tab->FillLogonList();
    EXPECT_EQ(m_tab->RowCount(), 6) << f.entry;
  }
  EXPECT_EQ(std::wstring(strengthtest::stored_text().view()), before);
}

TEST_F(ManageTab, RowsDroppedOnCategoriesAndCategoriesRenamedAndDeleted) {
  open();
  const int work = category(L"Work"), home = category(L"Home");
  select(kIdcCategories, work);  // alpha
  drop(0, 0);                    // on all logons
  drop(0, work);                 // on the category shown
  drop(5, home);                 // no such row
  drop(0, 9);                    // no such category
  drop(0, home, control(kIdcLogons));
  EXPECT_EQ(categories_stored(), (std::vector<std::wstring>{L"Home=", L"Work=alpha"}));
  drop(0, home);
  EXPECT_EQ(categories_stored(), (std::vector<std::wstring>{L"Home=alpha", L"Work=alpha"}));

  // Removing a logon from the category shown, after a warning.
  standin::CBoxAnswer remove({.button = IDYES});
  m_tab->DoItemAction(0, cmd_remove_from_category);
  EXPECT_EQ(remove.seen().caption, L"Remove from Category");
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(categories_stored(), (std::vector<std::wstring>{L"Home=alpha", L"Work="}));

  standin::CBoxAnswer rename({.button = IDOK, .set_edit = true, .edit_text = L"  Office "});
  m_tab->DoCategoryCommand(kCmdRenameCategory);
  EXPECT_EQ(categories_stored(), (std::vector<std::wstring>{L"Home=alpha", L"Office="}));
  EXPECT_EQ(m_tab->CategoryShown(), L"Office");

  select(kIdcCategories, 0);
  standin::CBoxAnswer ignored({.button = IDYES, .timeout_ms = 300});
  key(kIdcCategories, VK_DELETE);
  EXPECT_FALSE(ignored.done());
  select(kIdcCategories, category(L"Home"));
  standin::CBoxAnswer deleted({.button = IDYES});
  key(kIdcCategories, VK_DELETE);
  EXPECT_EQ(deleted.seen().caption, L"Delete Category");
  EXPECT_EQ(categories_stored(), std::vector<std::wstring>{L"Office="});
  EXPECT_EQ(items_of(control(kIdcCategories)),
            (std::vector<std::wstring>{L"All logons", L"Office"}));

  // A new category needs a name; an empty one keeps OK disabled.
  standin::CBoxAnswer empty(
      {.button = IDOK, .set_edit = true, .edit_text = L" ", .timeout_ms = 500});
  ::SendMessageW(m_tab->m_hWnd, WM_COMMAND, MAKEWPARAM(kIdcAddCategory, BN_CLICKED), 0);
  EXPECT_FALSE(empty.seen().answered);
  standin::CBoxAnswer added({.button = IDOK, .set_edit = true, .edit_text = L"Travel"});
  ::SendMessageW(m_tab->m_hWnd, WM_COMMAND, MAKEWPARAM(kIdcAddCategory, BN_CLICKED), 0);
  EXPECT_EQ(categories_stored(), (std::vector<std::wstring>{L"Office=", L"Travel="}));
}

}  // namespace
}  // namespace ui
