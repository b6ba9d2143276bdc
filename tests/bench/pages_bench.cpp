// Figures of the dashboard's tabs for 1,000 logons of three accounts each
// (4,000 rows), as ratios against a bare list-view fill of the same rows (their
// texts, an image list; the list emptied first, as a refill does) measured in
// the same run:
//   manage_refill:   the manage tab's refill less its template loads and
//                    profile decoding: the refill's second half, the rows made
//                    and shown from the loaded logons (its first half, the
//                    loads, is reported as manage_loads);
//   strength_refill: the strength tab shown from rated logons (the rating pass
//                    left out), against the bare fill with the rating cells.
// The tabs are real windows of the language library over the protected-storage
// and fill-in stand-ins. Each figure is a median of single passes. Prints;
// never fails.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "agent/notification_window.h"
#include "bench_timing.h"
#include "store/dashboard_storage.h"
#include "strength/password_rating.h"
#include "support/com.h"
#include "templates/template_loader.h"
#include "tests/unit/store/protected_storage_test_support.h"
#include "tests/unit/strength/strength_test_support.h"
#include "ui/pages/manage_tab.h"
#include "ui/pages/strength_tab.h"

namespace {

constexpr int kLogons = 1000;
constexpr int kAccounts = 3;
constexpr int kRounds = 9;
constexpr wchar_t kRoot[] = L"Software\\CvTest\\PagesBench";

std::vector<std::wstring> g_paths;
IDashBoardStorage* g_storage = nullptr;  // handed out while set

void lookup(std::vector<std::wstring>& paths) {
  paths = g_paths;
}

// The bare lists' page: declines the notice per deleted item, as the tabs do.
LRESULT CALLBACK page_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lparam)->code == LVN_DELETEALLITEMS)
    return TRUE;
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The notification window: the storage object when asked, no icons.
LRESULT CALLBACK notify_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == agent::kMsgGetStorage) {
    auto* request = reinterpret_cast<agent::storage_request_t*>(lparam);
    if (g_storage != nullptr && request->cbSize == sizeof(*request))
      g_storage->QueryInterface(IID_IDashBoardStorage, reinterpret_cast<void**>(&request->storage));
    return 0;
  }
  return message == agent::kMsgGetIcon ? 0 : ::DefWindowProcW(window, message, wparam, lparam);
}

void ratio(const char* name, double value, double baseline, const char* base, double goal) {
  std::printf("%s: %.2f x %s (goal <= %.2f)\n", name, value / baseline, base, goal);
}

// One row of a list view: its texts (column 0 first) and image.
struct row_t {
  std::vector<std::wstring> texts;
  int image;
};

std::vector<row_t> rows_of(HWND list, int columns) {
  std::vector<row_t> rows(static_cast<std::size_t>(ListView_GetItemCount(list)));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    ListView_GetItem(list, &item);
    rows[i].image = item.iImage;
    for (int column = 0; column < columns; ++column) {
      wchar_t text[260] = {};
      ListView_GetItemText(list, static_cast<int>(i), column, text, 260);
      rows[i].texts.emplace_back(text);
    }
  }
  return rows;
}

// A plain report list view with the columns and a small image list, refilled
// with the rows the plain way: emptied at once (its parent, like the tabs,
// declines the notice per deleted item), then filled with drawing off. The
// baseline of both tabs, whose refills also empty their lists first.
class bare_list_t {
 public:
  bare_list_t(HWND parent, int columns) : m_columns(columns) {
    m_list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 600,
                               400, parent, nullptr, nullptr, nullptr);
    m_images = ::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 4);
    for (int i = 0; i < 2; ++i)
      ::ImageList_AddIcon(m_images, ::LoadIconW(nullptr, IDI_APPLICATION));
    ListView_SetImageList(m_list, m_images, LVSIL_SMALL);
    for (int column = 0; column < columns; ++column) {
      LVCOLUMNW c{};
      c.mask = LVCF_WIDTH;
      c.cx = 80;
      ListView_InsertColumn(m_list, column, &c);
    }
  }
  ~bare_list_t() {
    ::DestroyWindow(m_list);
    ::ImageList_Destroy(m_images);
  }
  void refill(std::vector<row_t>& rows) {
    ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(m_list);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      LVITEMW item{};
      item.mask = LVIF_TEXT | LVIF_IMAGE;
      item.iItem = static_cast<int>(i);
      item.iImage = rows[i].image;
      item.pszText = rows[i].texts[0].data();
      const int at = ListView_InsertItem(m_list, &item);
      for (int column = 1; column < m_columns; ++column)
        ListView_SetItemText(m_list, at, column, rows[i].texts[column].data());
    }
    ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
  }

 private:
  int m_columns;
  HWND m_list = nullptr;
  HIMAGELIST m_images = nullptr;
};

// The manage tab's refill and its loads, each against the bare fill.
void manage_figures(HMODULE resources, HWND parent, HWND notify) {
  HKEY root = nullptr;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                    nullptr);
  ui::CTabManage tab(resources, root);
  tab.SetNotificationWindow(notify);
  if (tab.CreateTab(parent) == nullptr || tab.RowCount() != kLogons * (kAccounts + 1)) {
    std::printf("manage_refill: tab not filled (%d rows)\n", tab.RowCount());
    return;
  }
  std::vector<row_t> rows = rows_of(::GetDlgItem(tab.m_hWnd, ui::kIdcLogons), 1);
  bare_list_t bare(parent, 1);
  std::size_t logons = 0;
  std::vector<double> shows, loads, bares;
  for (int round = 0; round < kRounds; ++round) {
    // A refill as the tab runs it, in its two halves.
    double start = bench::now_ns();
    ui::CTabManage::loaded_logons_t loaded = tab.LoadLogons();
    loads.push_back(bench::now_ns() - start);
    logons = loaded.logons.size();
    start = bench::now_ns();
    tab.ShowLogons(std::move(loaded));
    shows.push_back(bench::now_ns() - start);

    start = bench::now_ns();
    bare.refill(rows);
    bares.push_back(bench::now_ns() - start);
  }
  const auto median = [](std::vector<double>& times) {
    std::nth_element(times.begin(), times.begin() + kRounds / 2, times.end());
    return times[kRounds / 2];
  };
  const double show = median(shows), load = median(loads), base = median(bares);
  std::printf(
      "manage: %d rows of %zu logons; loads %.1f ms, rows shown %.1f ms, bare fill %.1f ms\n",
      tab.RowCount(), logons, load / 1e6, show / 1e6, base / 1e6);
  ratio("manage_refill", show, base, "bare list-view fill", 2.0);
  std::printf("manage_loads: %.2f x bare list-view fill (left out of manage_refill)\n",
              load / base);
  ::DestroyWindow(tab.m_hWnd);
  ::RegCloseKey(root);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
}

// The strength tab shown from logons rated beforehand, against the bare fill.
void strength_figure(HMODULE resources, HMODULE images, HWND parent, HWND notify) {
  strength::PasswordRatingModel model;
  DWORD handle = 0;
  g_storage->GetStorageHandle(&handle);
  const pstore::CProtectedStorage& ps = pstore::protected_storage();
  pstore::CProtectedStorageResolver resolver(ps, handle);
  strength::BuildPasswordRatingModel(model, ps.query(handle, nullptr).c_str(), g_paths, resolver);
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::int32_t level =
      strength::RatePasswords(model, strength::ReadRatingSettings(),
                              std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);

  // Created without a storage to read: the tab's own fill (and the rating
  // it stores) stays out of the run.
  IDashBoardStorage* const storage = g_storage;
  g_storage = nullptr;
  ui::CTabPasswordStrength tab(resources, images);
  tab.SetNotificationWindow(notify);
  const bool created = tab.CreateTab(parent) != nullptr;
  g_storage = storage;
  const HWND list = created ? ::GetDlgItem(tab.m_hWnd, ui::kIdcStrengthList) : nullptr;
  tab.Show(model, level);
  if (list == nullptr || ListView_GetItemCount(list) != kLogons * (kAccounts + 1)) {
    std::printf("strength_refill: tab not filled\n");
    return;
  }
  std::vector<row_t> rows = rows_of(list, 6);
  bare_list_t bare(parent, 6);
  const auto [shown, base] = bench::median_pair_ns(
      kRounds, [] {}, [&] { tab.Show(model, level); }, [&] { bare.refill(rows); });
  std::printf("strength: %zu rows; shown %.1f ms, bare fill %.1f ms\n", rows.size(), shown / 1e6,
              base / 1e6);
  ratio("strength_refill", shown, base, "bare list-view fill", 2.0);
}

}  // namespace

int main() {
  ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  {
    const pstest::scratch_store store;
    const testsupport::scoped_component_folder_t components(testsupport::program_file(L""));
    const testsupport::scratch_folder_t folder;

    // 1,000 templates, their 3,000 accounts stored at once.
    const pstore::CProtectedStorage& ps = pstore::protected_storage();
    const pstore::handle_t h = ps.init();
    serialization::secure_wstring data = ps.query(h, nullptr);
    for (int n = 0; n < kLogons; ++n) {
      const std::string id = "{6F1C2A40-3B7E-4D8A-9C11-" + std::to_string(100000000000 + n) + "}";
      g_paths.push_back(
          strengthtest::write_template(folder.path(), id, "site" + std::to_string(n)));
      serialization::cvprofiles_t accounts;
      for (int a = 0; a < kAccounts; ++a) {
        const std::wstring number = std::to_wstring(n * kAccounts + a);
        accounts.push_back(strengthtest::account(a, L"Account " + number, L"user" + number,
                                                 L"Pw-" + number + L"-x" + std::wstring(a, L'7')));
      }
      data = fillin::fillin_component().update_profiles(templates::utf8_to_wide(id).c_str(),
                                                        data.c_str(), accounts);
    }
    ps.save(h, data.c_str());
    ps.commit(h);
    ps.term(h);

    dashboard::set_manifest_lookup(lookup);
    support::com_ptr<IDashBoardStorage> storage;
    if (FAILED(dashboard::OpenDashBoardStorage(storage.put()))) {
      std::printf("pages: no dashboard storage\n");
      return 0;
    }
    g_storage = storage.get();

    const auto load = [](const wchar_t* name) {
      return ::LoadLibraryExW(testsupport::program_file(name).c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    };
    const HMODULE resources = load(L"CVOnlineIDs.dll.mui");
    const HMODULE images = load(L"CVOnlineIDs.dll");
    WNDCLASSW wc{};
    wc.lpfnWndProc = notify_procedure;
    wc.lpszClassName = L"CvBenchNotify";
    ::RegisterClassW(&wc);
    const HWND notify = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                          nullptr, nullptr, nullptr);
    WNDCLASSW page{};
    page.lpfnWndProc = page_procedure;
    page.lpszClassName = L"CvBenchPage";
    ::RegisterClassW(&page);
    const HWND parent =
        ::CreateWindowExW(WS_EX_CONTROLPARENT, page.lpszClassName, L"page", WS_POPUP, 0, 0, 700,
                          500, nullptr, nullptr, nullptr, nullptr);
    manage_figures(resources, parent, notify);
    strength_figure(resources, images, parent, notify);
    ::DestroyWindow(parent);
    ::DestroyWindow(notify);
    g_storage = nullptr;
    storage.reset();
    dashboard::set_manifest_lookup(nullptr);
    ::FreeLibrary(images);
    ::FreeLibrary(resources);
  }
  ::CoUninitialize();
  return 0;
}
