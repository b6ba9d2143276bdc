// The password strength tab of the main page: every logon with its accounts
// and their password ratings, the overall status above them, and the details
// dialog of one account.
//
//   auto* tab = new ui::CTabPasswordStrength();      // the page owns it
//   tab->SetNotificationWindow(notification_window);
//   tab->CreateTab(page);                            // fills itself
//
// Rows own copies of the rating records (row data); the passwords in them are
// obfuscated again for the tab, never kept in plain text.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "crypto/envelope.h"
#include "strength/password_rating.h"
#include "support/unique_any.h"
#include "support/window_mixins.h"
#include "ui/pages/activate_on_enter.h"
#include "ui/pages/security_info_dialog.h"
#include "ui/pages/tab_dialog.h"

namespace ui {

using unique_himagelist =
    support::unique_any<HIMAGELIST, decltype(&::ImageList_Destroy), ::ImageList_Destroy>;

// What the overall status shows: the levels 0 to 3, the stored passwords not
// readable (4) and no protected storage to read them from (5).
enum strength_display : int {
  display_not_rated = 0,
  display_weak = 1,
  display_medium = 2,
  display_strong = 3,
  display_read_error = 4,
  display_no_storage = 5,
};

// Controls of the tab (dialog 201).
inline constexpr int kIdcStrengthList = 1000;
inline constexpr int kIdcStatusIcon = 1014;
inline constexpr int kIdcStatusText = 1017;
inline constexpr int kIdcStatusHint = 1019;
inline constexpr int kIdcStatusError = 1020;
inline constexpr int kIdcDetails = 1021;

class CTabPasswordStrength : public CTabDialogImpl<CTabPasswordStrength>,
                             public support::CDialogResize {
 public:
  enum { IDD = 201 };

  // `resources`: the dialogs and texts (null: the language library);
  // `images`: the bitmaps and icons (null: this component's module).
  explicit CTabPasswordStrength(HINSTANCE resources = nullptr, HINSTANCE images = nullptr);
  ~CTabPasswordStrength() override;

  // Refills the list and the status; the state shown afterwards.
  strength_display Fill();
  // Shows the rated logons of `model` and the overall `level` in place of the
  // rows shown (what Fill does once the passwords are rated).
  strength_display Show(const strength::PasswordRatingModel& model, std::int32_t level);
  // The row's action: the details of an account row; nothing for a logon's
  // header row.
  void DoItemAction(int item);
  strength_display DisplayState() const noexcept { return m_state; }

  BEGIN_MSG_MAP(CTabPasswordStrength)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(kMsgReload, OnReload)
    MESSAGE_HANDLER(kMsgPageNotify, OnPageNotify)
    NOTIFY_HANDLER(kLeaveRequestId, kLeaveRequestCode, OnLeaveRequest)
    NOTIFY_HANDLER(kIdcStrengthList, LVN_ITEMACTIVATE, OnItemActivate)
    NOTIFY_HANDLER(kIdcStrengthList, NM_CUSTOMDRAW, OnCustomDraw)
    NOTIFY_HANDLER(kIdcStrengthList, LVN_DELETEALLITEMS, OnOwnRowsDeleted)
    COMMAND_ID_HANDLER(kIdcDetails, OnDetails)
    CHAIN_MSG_MAP(support::CDialogResize)
  END_MSG_MAP()

 private:
  // A row's data: a rating record of its own, wiped when the row goes.
  struct row_record_t : strength::AccountRating {
    ~row_record_t();
  };
  // A logon shown with a site icon: which row shows it and what to ask for.
  struct logon_icon_t {
    row_record_t* row = nullptr;
    int item = -1;  // the row's item in the list, which changes only when refilled
    std::wstring template_id;
    std::wstring quick_url;
    unique_level_icon icon;  // owned; the row's record holds its handle
    int image = -1;          // its place in the logon image list
  };

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnReload(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnPageNotify(UINT, WPARAM code, LPARAM, BOOL&);
  LRESULT OnLeaveRequest(int, NMHDR*, BOOL&);
  LRESULT OnItemActivate(int, NMHDR* header, BOOL&);
  LRESULT OnCustomDraw(int, NMHDR* header, BOOL&);
  LRESULT OnDetails(WORD, WORD, HWND, BOOL&);

  void SetUpList();
  void Clear();
  void AddLogon(const strength::LogonRating& logon, const crypto::obfuscation_key_t& key);
  int InsertRow(std::unique_ptr<row_record_t> record, const std::wstring& text, bool indent);
  void RequestIcons();
  void ShowState(strength_display state);
  int Dpi() const;

  HINSTANCE m_images;
  HWND m_list = nullptr;
  CActivateOnEnter m_listEnter;  // Enter opens the selected account's details
  unique_himagelist m_logonImages;
  unique_himagelist m_ratingImages;
  unique_level_icon m_statusIcon;
  int m_statusIconLevel = -1;  // the level and DPI m_statusIcon was loaded for
  int m_statusIconDpi = 0;
  // The key the rows' passwords are obfuscated with again: derived at the
  // first fill (a crypto context and the data-protection API) and kept.
  std::unique_ptr<crypto::obfuscation_key_t> m_rowKey;
  std::vector<std::unique_ptr<row_record_t>> m_rows;
  std::vector<logon_icon_t> m_icons;
  strength_display m_state = display_not_rated;
  std::array<std::wstring, 4> m_levelTexts;  // the texts of the levels 0 to 3
};

}  // namespace ui
