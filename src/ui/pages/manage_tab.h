// The manage tab of the main page: the user's categories in one list view, the
// logons of the category shown in the other (rows of ui/list/list_items.h).
// Every change to a logon is written to the protected storage, reflected in
// the quick-link file and announced to the other pages through the
// notification window; categories are named, renamed, deleted and filled by
// menu, keys and by dragging rows onto them.
//
//   auto tab = std::make_unique<ui::CTabManage>();
//   tab->SetNotificationWindow(notification_window);
//   tab->CreateTab(main_page);   // dialog 101 of the language library
//
// The category list's first item stands for all logons; the stored categories
// follow it in their order.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "quicklinks/portable/category_list.h"
#include "store/dashboard_storage.h"
#include "support/com.h"
#include "support/window_mixins.h"
#include "ui/html_help.h"
#include "ui/list/list_items.h"
#include "ui/pages/drag_drop_list.h"
#include "ui/pages/tab_dialog.h"

namespace ui {

// Controls of dialog 101.
enum manage_control : int {
  kIdcCategories = 1003,
  kIdcNewLogon = 1005,
  kIdcLogons = 1006,
  kIdcAddCategory = 1008,
  kIdcAboutPlugin = 1019,
  kIdcHotKey = 1035,
  kIdcHotKeyLabel = 1038,
  kIdcDetailsHint = 1039,
  kIdcListHint = 1040,
};

// Menu 103 and its commands, the texts of the questions.
inline constexpr UINT kIdrCategoryMenu = 103;
inline constexpr UINT kCmdRenameCategory = 40001;
inline constexpr UINT kCmdDeleteCategory = 40002;
inline constexpr UINT kIdsDeleteCategoryCaption = 103;
inline constexpr UINT kIdsDeleteCategoryText = 104;
inline constexpr UINT kIdsRemoveFromCategoryText = 105;
inline constexpr UINT kIdsRemoveFromCategoryCaption = 106;
inline constexpr UINT kIdsAllLogons = 132;

// The messages the tab sends the console host's window (the page's root).
inline constexpr UINT kMsgHostRequest = WM_USER + 2001;

// The quick-access hot key's setting and the text used when it is empty.
inline constexpr wchar_t kHotKeySetting[] = L"open_security_manager_qa";

// The registry value that holds the overall rating; absent or not a DWORD
// asks for a first calculation.
inline constexpr wchar_t kIdCardValue[] = L"IDCard_SS";

class CTabManage : public CTabDialogImpl<CTabManage>,
                   public support::CDialogResize,
                   public support::CCustomDraw {
 public:
  enum { IDD = 101 };

  // `resources`: the module of dialogs 101, 204, 205, menus 103 and 105 and
  // the texts; `root`: the hive the categories and the rating are read from.
  explicit CTabManage(HINSTANCE resources = nullptr, HKEY root = HKEY_CURRENT_USER);
  ~CTabManage() override;

  BEGIN_MSG_MAP(CTabManage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(WM_MEASUREITEM, OnMeasureItem)
    MESSAGE_HANDLER(kMsgRowDropped, OnRowDropped)
    MESSAGE_HANDLER(kMsgReload, OnReload)
    MESSAGE_HANDLER(kMsgPageNotify, OnPageNotify)
    MESSAGE_HANDLER(kMsgTabActivate, OnTabActivate)
    MESSAGE_HANDLER(WM_HELP, OnHelp)
    MESSAGE_HANDLER(WM_CONTEXTMENU, OnContextMenu)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    COMMAND_HANDLER(kIdcNewLogon, BN_CLICKED, OnNewLogon)
    COMMAND_HANDLER(kIdcAddCategory, BN_CLICKED, OnAddCategory)
    COMMAND_HANDLER(kIdcAboutPlugin, BN_CLICKED, OnAboutPlugin)
    COMMAND_HANDLER(kIdcHotKey, BN_CLICKED, OnViewMode)
    NOTIFY_HANDLER(kLeaveRequestId, kLeaveRequestCode, OnLeaveRequest)
    NOTIFY_HANDLER(kIdcCategories, LVN_ITEMCHANGED, OnCategoryChanged)
    NOTIFY_HANDLER(kIdcCategories, NM_RCLICK, OnCategoryRClick)
    NOTIFY_HANDLER(kIdcCategories, LVN_KEYDOWN, OnCategoryKeyDown)
    NOTIFY_HANDLER(kIdcLogons, NM_RCLICK, OnRowRClick)
    NOTIFY_HANDLER(kIdcLogons, NM_CLICK, OnRowClick)
    NOTIFY_HANDLER(kIdcLogons, NM_DBLCLK, OnRowDefault)
    NOTIFY_HANDLER(kIdcLogons, NM_RETURN, OnRowDefault)
    NOTIFY_HANDLER(kIdcLogons, LVN_KEYDOWN, OnRowKeyDown)
    NOTIFY_HANDLER(kIdcLogons, LVN_HOTTRACK, OnRowHotTrack)
    NOTIFY_HANDLER(kIdcLogons, LVN_BEGINDRAG, OnRowBeginDrag)
    NOTIFY_HANDLER(kIdcLogons, LVN_DELETEALLITEMS, OnOwnRowsDeleted)
    CHAIN_MSG_MAP(support::CDialogResize)
    CHAIN_MSG_MAP(support::CCustomDraw)
  END_MSG_MAP()

  // Carries out a row command (menu 105) on the row at `index`.
  void DoItemAction(int index, UINT command);
  // Category commands of menu 103 on the selected category.
  void DoCategoryCommand(UINT command);
  // Reads the rows again for the category shown: LoadLogons, then ShowLogons.
  void FillLogonList();
  // The refill's two halves, which a caller may also run (and time) apart:
  // the logons of the category shown, read from the storage and their
  // templates; then the list made of them (waits, as a refill does, while an
  // action runs).
  struct loaded_logons_t {
    DWORD storage = 0;  // the protected-storage session the logons came from
    std::vector<loaded_logon_t> logons;
  };
  loaded_logons_t LoadLogons();
  void ShowLogons(loaded_logons_t loaded);

  DWORD OnPrePaint(int id, NMCUSTOMDRAW* draw) override;
  DWORD OnItemPrePaint(int id, NMCUSTOMDRAW* draw) override;

  // What the tab shows (for its owner and tests).
  const std::wstring& HotKeyText() const noexcept { return m_hotKeyText; }
  const std::wstring& CategoryShown() const noexcept { return m_category; }
  int RowCount() const noexcept { return static_cast<int>(m_rows.size()); }
  CListItemData* Row(int index) const;

 private:
  // The rows' list: inserts each row into the list view with the row as its
  // item data; the tab owns the rows.
  class CRowList : public CLogonListContext {
   public:
    explicit CRowList(CTabManage& tab) : m_tab(tab) {}
    bool InsertRow(int position, std::unique_ptr<CListItemData>& row) override;

   private:
    CTabManage& m_tab;
    std::wstring m_text;  // the row text handed to the list; reused, row after row
  };

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSetCursor(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnMeasureItem(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnRowDropped(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnReload(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnPageNotify(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnTabActivate(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnHelp(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnContextMenu(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnNewLogon(WORD, WORD, HWND, BOOL&);
  LRESULT OnAddCategory(WORD, WORD, HWND, BOOL&);
  LRESULT OnAboutPlugin(WORD, WORD, HWND, BOOL&);
  LRESULT OnViewMode(WORD, WORD, HWND, BOOL&);
  LRESULT OnLeaveRequest(int, NMHDR*, BOOL&);
  LRESULT OnCategoryChanged(int, NMHDR*, BOOL&);
  LRESULT OnCategoryRClick(int, NMHDR*, BOOL&);
  LRESULT OnCategoryKeyDown(int, NMHDR*, BOOL&);
  LRESULT OnRowRClick(int, NMHDR*, BOOL&);
  LRESULT OnRowClick(int, NMHDR*, BOOL&);
  LRESULT OnRowDefault(int, NMHDR*, BOOL&);
  LRESULT OnRowKeyDown(int, NMHDR*, BOOL&);
  LRESULT OnRowHotTrack(int, NMHDR*, BOOL&);
  LRESULT OnRowBeginDrag(int, NMHDR*, BOOL&);

  void SetUpLists();
  void ReadHotKey();
  void ReadCategories();
  void FillCategoryList(const std::wstring& select);
  void ShowCategory(int item);
  void AskFirstRating() const;
  void ReleaseRows();
  void RequestIcons();
  // The storage interface, asked of the notification window when not held.
  IDashBoardStorage* Storage();
  std::vector<std::wstring> TemplatePaths();
  DWORD StorageHandle();
  void ShowRowMenu(int index, POINT screen, UINT flags);
  void ShowRowMenuAtItem(int index);
  void ShowCategoryMenu(POINT screen);
  int SelectedRow() const;
  int SelectedCategory() const;
  // The text of the string resource.
  void RemoveFromCategory(int index);
  void StartQuickLink(int index);
  void SaveAndNotify(const std::wstring& path, bool logon_deleted);
  void SaveCategories();

  HKEY m_root;
  HWND m_logons = nullptr;  // the logon list, looked up once
  support::com_ptr<IDashBoardStorage> m_storage;
  CRowList m_list{*this};
  std::vector<std::unique_ptr<CListItemData>> m_rows;  // index = row of the logon list
  categories::category_list_t m_categories;
  std::wstring m_category;  // the category shown; empty: all logons
  int m_hotRow = -1;
  std::wstring m_hotKeyText;
  int m_viewMode = 0;  // 0: details, 1: list
  HIMAGELIST m_images = nullptr;
  int m_baseImages = 0;  // images of bitmap 102; site icons follow them
  HFONT m_boldFont = nullptr;
  CDragDropList m_drag;
  CHTMLHelp m_help;
  bool m_filling = false;        // the category list is being filled
  bool m_busy = false;           // an action runs: refills wait for its end
  bool m_refillPending = false;  // a refill was asked for meanwhile
};

}  // namespace ui
