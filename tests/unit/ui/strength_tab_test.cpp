// The password strength tab over the protected-storage and fill-in stand-ins:
// the tab is a child of a plain window and asks a stand-in notification window
// (a real dashboard storage object, icons for every request) for what it shows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/notification_window.h"
#include "strength/portable/update_date.h"
#include "suite/common/box_answer.h"
#include "support/com.h"
#include "support/registry.h"
#include "tests/support/traced_test_main.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "tests/unit/strength/strength_test_support.h"
#include "tests/unit/ui/fake_notification_window.h"
#include "ui/pages/strength_tab.h"

namespace ui {
namespace {

using strengthtest::account;

constexpr wchar_t kIdCardKey[] = L"SOFTWARE\\Corvantis\\Applications\\DashBoard\\IDCard";

support::com_ptr<IDashBoardStorage> g_storage;
std::vector<std::wstring> g_templates;

void template_lookup(std::vector<std::wstring>& paths) {
  paths = g_templates;
}

// The site icons asked for, in order.
std::vector<std::wstring> icon_ids() {
  return uitest::g_notification.texts(agent::kMsgGetIcon);
}

std::string days_ago(int days) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return strength::format_update_date(
      (std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) -
      std::uint64_t(days) * 864000000000ull);
}

HMODULE load_data_file(const wchar_t* name) {
  return ::LoadLibraryExW(testsupport::program_file(name).c_str(), nullptr,
                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

bool shown(HWND dialog, int id) {
  return (::GetWindowLongW(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

// The status controls shown: icon 1014, text 1017, hint 1019, error 1020.
std::string status_shown(HWND tab) {
  std::string flags;
  for (const int id : {kIdcStatusIcon, kIdcStatusText, kIdcStatusHint, kIdcStatusError})
    flags += shown(tab, id) ? '+' : '-';
  return flags;
}

std::wstring text_of(HWND dialog, int id) {
  wchar_t text[256] = {};
  ::GetDlgItemTextW(dialog, id, text, 256);
  return text;
}

class StrengthTab : public ::testing::Test {
 protected:
  StrengthTab() {
    ::CoInitialize(nullptr);
    g_templates = {strengthtest::write_template(m_folder.path(), "{M}", "mail"),
                   strengthtest::write_template(m_folder.path(), "{B}", "bank"),
                   strengthtest::write_template(m_folder.path(), "{S}", "shop")};
    dashboard::set_manifest_lookup(template_lookup);
    EXPECT_EQ(dashboard::OpenDashBoardStorage(g_storage.put()), S_OK);
    uitest::g_notification = {};
    uitest::g_notification.storage = g_storage.get();
    uitest::g_notification.icons = true;
    m_notify = uitest::fake_notification_window(WS_POPUP);
    m_parent = ::CreateWindowExW(WS_EX_CONTROLPARENT, L"Static", L"page", WS_POPUP, 0, 0, 700, 500,
                                 nullptr, nullptr, nullptr, nullptr);
    testsupport::new_trace_lines();
  }
  ~StrengthTab() override {
    m_tab.reset();
    ::DestroyWindow(m_parent);
    ::DestroyWindow(m_notify);
    uitest::g_notification.storage = nullptr;
    g_storage.reset();
    dashboard::set_manifest_lookup(nullptr);
    ::FreeLibrary(m_images);
    ::FreeLibrary(m_resources);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kIdCardKey, L"IDCard_SS");
    ::CoUninitialize();
  }

  // Mail: one strong account; bank: three sharing "s3cret", one 200 days old;
  // shop: a weak password and no account name.
  void store_accounts() {
    strengthtest::store_profiles(L"{M}",
                                 {account(0, L"Mail", L"alice", L"Correct-Horse-7", days_ago(0))});
    strengthtest::store_profiles(L"{B}", {account(0, L"Bank", L"alice", L"s3cret", days_ago(0)),
                                          account(1, L"Joint", L"bob", L"s3cret", days_ago(0)),
                                          account(2, L"Old", L"carol", L"s3cret", days_ago(200))});
    strengthtest::store_profiles(L"{S}", {account(0, L"Shop", L"", L"abc", days_ago(0))});
  }

  HWND create_tab() {
    m_tab = std::make_unique<CTabPasswordStrength>(m_resources, m_images);
    m_tab->SetNotificationWindow(m_notify);
    const HWND tab = m_tab->CreateTab(m_parent);
    EXPECT_NE(tab, nullptr);
    m_list = ::GetDlgItem(tab, kIdcStrengthList);
    return tab;
  }

  std::vector<std::wstring> column(int subitem) const {
    std::vector<std::wstring> texts;
    for (int i = 0; i < ListView_GetItemCount(m_list); ++i) {
      wchar_t text[128] = {};
      ListView_GetItemText(m_list, i, subitem, text, 128);
      texts.emplace_back(text);
    }
    return texts;
  }

  // Selects the row and presses Details: what the details dialog showed
  // ("logon|label|value|password|hidden fields|advice|icons"), empty if none.
  std::wstring details_of(int item) {
    std::wstring seen;
    standin::CBoxAnswer answer({.button = IDOK, .timeout_ms = 3000}, [&](const auto& box) {
      const HWND d = box.window;
      for (const int id :
           {kIdcInfoLogon, kIdcInfoAccountLabel, kIdcInfoAccountValue, kIdcInfoPassword})
        seen += text_of(d, id) + L"|";
      for (const int id : {kIdcInfoAccountLabel, kIdcInfoAccountValue, kIdcInfoAdvice})
        seen += shown(d, id) ? L"+" : L"-";
      for (int id = kIdcInfoLevelFirst; id < kIdcInfoLevelFirst + 4; ++id)
        seen += ::SendDlgItemMessageW(d, id, STM_GETIMAGE, IMAGE_ICON, 0) != 0 ? L"I" : L"_";
    });
    ListView_SetItemState(m_list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    const HWND tab = ::GetParent(m_list);
    ::SendMessageW(tab, WM_COMMAND, MAKEWPARAM(kIdcDetails, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(tab, kIdcDetails)));
    return seen;
  }

  testsupport::scoped_component_folder_t m_components{testsupport::program_file(L"")};
  pstest::scratch_store m_store;
  testsupport::scratch_folder_t m_folder;
  HMODULE m_resources = load_data_file(L"CVOnlineIDs.dll.mui");
  HMODULE m_images = load_data_file(L"CVOnlineIDs.dll");
  HWND m_notify = nullptr;
  HWND m_parent = nullptr;
  HWND m_list = nullptr;
  std::unique_ptr<CTabPasswordStrength> m_tab;
};

TEST_F(StrengthTab, RowsRatingsStatusAndIcons) {
  store_accounts();
  const HWND tab = create_tab();
  EXPECT_EQ(column(0), (std::vector<std::wstring>{L"mail (alice)", L"bank", L"alice", L"bob",
                                                  L"carol", L"shop (Shop)"}));
  EXPECT_EQ(column(1),
            (std::vector<std::wstring>{L"Strong", L"", L"Strong", L"Strong", L"Strong", L"Weak"}));
  EXPECT_EQ(column(5),
            (std::vector<std::wstring>{L"Strong", L"", L"Strong", L"Strong", L"Medium", L"Weak"}));
  // 3 + 3 + 3 + 2 + 1 of 15: 80 percent, stored for the console too.
  EXPECT_EQ(m_tab->DisplayState(), display_strong);
  EXPECT_EQ(
      support::try_get_dword(support::try_open_key(HKEY_CURRENT_USER, kIdCardKey, KEY_READ)->get(),
                             L"IDCard_SS"),
      3u);
  EXPECT_EQ(status_shown(tab), "+++-");
  EXPECT_NE(::SendDlgItemMessageW(tab, kIdcStatusIcon, STM_GETIMAGE, IMAGE_ICON, 0), 0);
  EXPECT_EQ(ListView_GetExtendedListViewStyle(m_list), 0x40A0u);
  EXPECT_EQ(ListView_GetBkColor(m_list), 0x999999u);

  // One icon request per logon; the logon rows take the icons, account rows none.
  EXPECT_EQ(icon_ids(), (std::vector<std::wstring>{L"{M}", L"{B}", L"{S}"}));
  const auto image = [&](int item) {
    LVITEMW row{LVIF_IMAGE, item};
    ListView_GetItem(m_list, &row);
    return row.iImage;
  };
  EXPECT_GE(image(0), 2);
  EXPECT_GE(image(1), 2);
  EXPECT_EQ(image(2), I_IMAGENONE);
  ::SendMessageW(tab, kMsgPageNotify, agent::kNotifyIconsUpdated, 0);  // icons ready: asked again
  EXPECT_EQ(icon_ids().size(), 6u);
  EXPECT_EQ(::SendMessageW(tab, kMsgPageNotify, 2004, 0), 0);
  EXPECT_EQ(icon_ids().size(), 6u);

  // The page may always leave the tab; a storage change refills it.
  NMHDR leave{m_parent, kLeaveRequestId, kLeaveRequestCode};
  EXPECT_NE(::SendMessageW(tab, WM_NOTIFY, kLeaveRequestId, reinterpret_cast<LPARAM>(&leave)), 0);
  strengthtest::store_profiles(L"{S}", {});
  agent::page_change_t change;
  ::SendMessageW(tab, kMsgPageNotify, agent::kNotifyStorageUpdated,
                 reinterpret_cast<LPARAM>(&change));
  EXPECT_EQ(ListView_GetItemCount(m_list), 5);
}

TEST_F(StrengthTab, DetailsOfAccountRowsAndNoneForHeaderRows) {
  store_accounts();
  create_tab();
  EXPECT_EQ(details_of(3), L"bank|User name|bob|******|++-IIII");
  // No account name: label and value hidden; the weak password gets the advice.
  EXPECT_EQ(details_of(5), L"shop|User name||***|--+IIII");
  testsupport::new_trace_lines();
  EXPECT_EQ(details_of(1), L"");  // the bank's header row
  int actions = 0, dialogs = 0;
  for (const std::string& line : testsupport::new_trace_lines()) {
    actions += line.find("CTabPasswordStrength::DoItemAction") != std::string::npos;
    dialogs += line.find("CSecurityInfoDlg") != std::string::npos;
  }
  EXPECT_GT(actions, 0);
  EXPECT_EQ(dialogs, 0);
}

TEST_F(StrengthTab, ErrorStatesWithoutStorageOrWhenItCannotBeRead) {
  store_accounts();
  uitest::g_notification.storage = nullptr;
  const HWND tab = create_tab();
  EXPECT_EQ(m_tab->DisplayState(), display_no_storage);
  EXPECT_EQ(ListView_GetItemCount(m_list), 0);
  EXPECT_EQ(status_shown(tab), "---+");
  EXPECT_FALSE(text_of(tab, kIdcStatusError).empty());

  uitest::g_notification.storage = g_storage.get();
  {
    testsupport::standin_faults_t faults(L"CvoPS");
    faults.fail(L"CVOPSQuery", E_ACCESSDENIED);
    ::SendMessageW(tab, kMsgReload, 0, 0);
    EXPECT_EQ(m_tab->DisplayState(), display_read_error);
    EXPECT_EQ(ListView_GetItemCount(m_list), 0);
  }
  for (const wchar_t* id : {L"{M}", L"{B}", L"{S}"})
    strengthtest::store_profiles(id, {});
  ::SendMessageW(tab, kMsgReload, 0, 0);
  EXPECT_EQ(m_tab->DisplayState(), display_not_rated);
  EXPECT_EQ(status_shown(tab), "-+--");
}

}  // namespace
}  // namespace ui
