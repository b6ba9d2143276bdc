// The details of one account's password rating: the logon, the account, the
// password masked (one '*' per character) and the four partial ratings as
// level icons.
//
//   ui::CSecurityInfoDlg details(record, false, images);
//   details.DoModal(resources, owner);
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "strength/password_rating.h"
#include "support/dialog_base.h"
#include "support/unique_any.h"

namespace ui {

using unique_level_icon = support::unique_hicon;

// Controls of the details dialog (202).
inline constexpr int kIdcInfoLogon = 1004;
inline constexpr int kIdcInfoAccountLabel = 1017;
inline constexpr int kIdcInfoAccountValue = 1006;
inline constexpr int kIdcInfoPassword = 1007;
inline constexpr int kIdcInfoLevelFirst = 1009;  // length, classes, sharing, age: 1009-1012
inline constexpr int kIdcInfoAdvice = 1013;

// The component's own pictures.
inline constexpr UINT kIdbLogonIcons = 102;
inline constexpr UINT kIdbRatingLevels = 106;
inline constexpr UINT kIdiLevelMedium = 115;
inline constexpr UINT kIdiLevelWeak = 116;
inline constexpr UINT kIdiLevelStrong = 117;

// The level icon (16 pixels at 96 DPI, scaled for `dpi`) for a level 1 to 3,
// loaded from `images` as a DIB section; null for other levels.
unique_level_icon LoadLevelIcon(HINSTANCE images, std::int32_t level, int dpi);
// One '*' per character of an obfuscated password (a surrogate pair is one
// character); empty when it does not decode. The plain text is wiped.
std::wstring MaskedPassword(const std::wstring& obfuscated);

// The details of one account row's rating record (dialog 202).
class CSecurityInfoDlg : public support::CDialogImpl<CSecurityInfoDlg> {
 public:
  enum { IDD = 202 };
  // `show_advice` shows the advice (1013); `images` holds the level icons.
  CSecurityInfoDlg(const strength::AccountRating& record, bool show_advice, HINSTANCE images);

  BEGIN_MSG_MAP(CSecurityInfoDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnClose)
    COMMAND_ID_HANDLER(IDCANCEL, OnClose)
  END_MSG_MAP()

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnClose(WORD, WORD id, HWND, BOOL&);

  const strength::AccountRating& m_record;
  bool m_showAdvice;
  HINSTANCE m_images;
  unique_level_icon m_levelIcons[4];  // the static controls show them, not own them
};

}  // namespace ui
