#include "ui/pages/security_info_dialog.h"

#include "crypto/obfuscated_text.h"
#include "tracing/trace.h"

namespace ui {

unique_level_icon LoadLevelIcon(HINSTANCE images, std::int32_t level, int dpi) {
  // Level L is the icon at place L - 1 of 116 (weak), 115 (medium), 117 (strong).
  static constexpr UINT kIcons[] = {kIdiLevelWeak, kIdiLevelMedium, kIdiLevelStrong};
  if (level < 1 || level > 3 || images == nullptr)
    return unique_level_icon();
  const int size = ::MulDiv(16, dpi > 0 ? dpi : 96, 96);
  return unique_level_icon(static_cast<HICON>(::LoadImageW(
      images, MAKEINTRESOURCEW(kIcons[level - 1]), IMAGE_ICON, size, size, LR_CREATEDIBSECTION)));
}

std::wstring MaskedPassword(const std::wstring& obfuscated) {
  crypto::_mem_alloc_t<wchar_t, crypto::_heap_allocator> plain;  // wiped when it goes
  if (obfuscated.empty() || FAILED(crypto::DeobfuscateFromText(obfuscated, plain)))
    return std::wstring();
  std::size_t characters = 0;
  for (std::size_t i = 0; i + 1 < plain.size(); ++i)
    if (!IS_LOW_SURROGATE(plain.get()[i]))
      ++characters;
  return std::wstring(characters, L'*');
}

CSecurityInfoDlg::CSecurityInfoDlg(const strength::AccountRating& record,
                                   bool show_advice,
                                   HINSTANCE images)
    : m_record(record), m_showAdvice(show_advice), m_images(images) {}

LRESULT CSecurityInfoDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CSecurityInfoDlg::OnInitDialog");
  ::SetDlgItemTextW(m_hWnd, kIdcInfoLogon, m_record.spare1.c_str());
  const bool has_account = !m_record.account_value.empty();
  ::SetDlgItemTextW(m_hWnd, kIdcInfoAccountLabel, m_record.account_label.c_str());
  ::SetDlgItemTextW(m_hWnd, kIdcInfoAccountValue, m_record.account_value.c_str());
  for (const int id : {kIdcInfoAccountLabel, kIdcInfoAccountValue})
    ::ShowWindow(GetDlgItem(id), has_account ? SW_SHOWNA : SW_HIDE);
  ::SetDlgItemTextW(m_hWnd, kIdcInfoPassword, MaskedPassword(m_record.password).c_str());
  ::ShowWindow(GetDlgItem(kIdcInfoAdvice), m_showAdvice ? SW_SHOWNA : SW_HIDE);

  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen != nullptr)
    ::ReleaseDC(nullptr, screen);
  const std::int32_t levels[] = {m_record.ratings.length, m_record.ratings.classes,
                                 m_record.ratings.sharing, m_record.ratings.age};
  for (int i = 0; i < 4; ++i) {
    m_levelIcons[i] = LoadLevelIcon(m_images, levels[i], dpi);
    if (!m_levelIcons[i] && levels[i] >= 1 && levels[i] <= 3)
      tracecore::trace_lasterror("LoadImage");
    ::SendDlgItemMessageW(m_hWnd, kIdcInfoLevelFirst + i, STM_SETIMAGE, IMAGE_ICON,
                          reinterpret_cast<LPARAM>(m_levelIcons[i].get()));
  }
  return TRUE;
}

LRESULT CSecurityInfoDlg::OnClose(WORD, WORD id, HWND, BOOL&) {
  EndDialog(id);
  return 0;
}

}  // namespace ui
