#include "ui/pages/strength_tab.h"

#include <oleauto.h>

#include <algorithm>

#include <utility>

#include "agent/notification_window.h"
#include "crypto/obfuscated_text.h"
#include "crypto/portable/secure_wipe.h"
#include "store/dashboard_storage.h"
#include "store/protected_storage.h"
#include "support/com.h"
#include "support/hresult.h"
#include "tracing/trace.h"
#include "ui/pages/subclass_pause.h"

namespace ui {
namespace {

// Texts of the language library.
constexpr UINT kIdsFirstColumn = 820;  // 820-825: the columns
constexpr UINT kIdsFirstLevel = 826;   // 826-829: the levels 0 to 3
constexpr UINT kIdsFirstStatus = 830;  // 830-833: the status of the levels 0 to 3
constexpr UINT kIdsHint = 840;
constexpr UINT kIdsFirstError = 840;  // 844, 845: the errors of the states 4 and 5

constexpr int kColumns = 6;     // the name, then length, classes, sharing, age, overall
constexpr int kLogonImage = 1;  // bitmap 102: a logon without a site icon
constexpr COLORREF kListColour = 0x999999;
constexpr DWORD kListStyles = 0x40A0;  // full-row select, two-click activate, label tips
constexpr int kRatingWidth = 21;
constexpr int kRatingHeight = 8;
constexpr int kLogonSize = 16;

std::int32_t rating_of(const strength::AccountRating& record, int column) {
  switch (column) {
    case 1:
      return record.ratings.length;
    case 2:
      return record.ratings.classes;
    case 3:
      return record.ratings.sharing;
    case 4:
      return record.ratings.age;
    default:
      return record.ratings.overall;
  }
}

bool is_account_row(const strength::AccountRating* record) {
  return record != nullptr && record->TreePosition >= strength::position_middle &&
         record->TreePosition <= strength::position_single;
}

// The template files of the storage object's list (VT_ARRAY | VT_BSTR; any
// other type holds none).
std::vector<std::wstring> template_list(IDashBoardStorage& storage) {
  support::unique_variant list;
  THROW_IF_FAILED(storage.GetManifestList(list.get()));
  std::vector<std::wstring> paths;
  SAFEARRAY* array = list->parray;
  if (list->vt != (VT_ARRAY | VT_BSTR) || array == nullptr || ::SafeArrayGetDim(array) != 1)
    return paths;
  LONG lower = 0, upper = -1;
  THROW_IF_FAILED(::SafeArrayGetLBound(array, 1, &lower));
  THROW_IF_FAILED(::SafeArrayGetUBound(array, 1, &upper));
  void* data = nullptr;
  THROW_IF_FAILED(::SafeArrayAccessData(array, &data));
  const support::scope_exit unaccess([array] { ::SafeArrayUnaccessData(array); });
  const BSTR* names = static_cast<const BSTR*>(data);
  for (LONG i = 0; i <= upper - lower; ++i)
    if (names[i] != nullptr)
      paths.emplace_back(names[i], ::SysStringLen(names[i]));
  return paths;
}

// A strip of `width` × `height` images from a bitmap resource, scaled by `scale`
// (percent); `masked` lists take magenta as transparent.
unique_himagelist image_strip(HINSTANCE images,
                              UINT id,
                              int width,
                              int height,
                              int scale,
                              bool masked) {
  HBITMAP strip = static_cast<HBITMAP>(
      ::LoadImageW(images, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  const int w = ::MulDiv(width, scale, 100);
  const int h = ::MulDiv(height, scale, 100);
  unique_himagelist list(
      ::ImageList_Create(w, h, ILC_COLOR32 | (masked ? ILC_MASK : 0), 4, masked ? 16 : 0));
  if (strip == nullptr || !list) {
    tracecore::trace_lasterror("image list");
    if (strip != nullptr)
      ::DeleteObject(strip);
    return list;
  }
  BITMAP info{};
  ::GetObjectW(strip, sizeof(info), &info);
  const int count = width > 0 ? info.bmWidth / width : 0;
  if (scale != 100 && count > 0) {
    // Stretched as a whole: every image keeps its place in the strip.
    HBITMAP scaled = static_cast<HBITMAP>(
        ::CopyImage(strip, IMAGE_BITMAP, w * count, h, LR_CREATEDIBSECTION | LR_COPYDELETEORG));
    if (scaled != nullptr)
      strip = scaled;
  }
  if (masked)
    ::ImageList_AddMasked(list.get(), strip, RGB(255, 0, 255));
  else
    ::ImageList_Add(list.get(), strip, nullptr);
  ::DeleteObject(strip);
  return list;
}

}  // namespace

CTabPasswordStrength::row_record_t::~row_record_t() {
  crypto::secure_wipe(password.data(), password.size() * sizeof(wchar_t));
}

CTabPasswordStrength::CTabPasswordStrength(HINSTANCE resources, HINSTANCE images)
    : CTabDialogImpl(resources), m_images(images != nullptr ? images : support::code_module()) {}

CTabPasswordStrength::~CTabPasswordStrength() {
  DestroyWindow();
}

int CTabPasswordStrength::Dpi() const {
  const HDC dc = ::GetDC(m_hWnd);
  const int dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSX) : 96;
  if (dc != nullptr)
    ::ReleaseDC(m_hWnd, dc);
  return dpi > 0 ? dpi : 96;
}

LRESULT CTabPasswordStrength::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CTabPasswordStrength::OnInitDialog");
  static constexpr support::resize_anchor_t kAnchors[] = {
      {kIdcStatusText, support::resize_size_x},
      {kIdcStatusHint, support::resize_size_x},
      {kIdcStatusError, support::resize_size_x},
      {kIdcStrengthList, support::resize_size_x | support::resize_size_y},
      {kIdcDetails, support::resize_move_x | support::resize_move_y},
  };
  DlgResize_Init(m_hWnd, kAnchors, std::size(kAnchors));
  SetUpList();
  Fill();
  return TRUE;
}

void CTabPasswordStrength::SetUpList() {
  m_list = GetDlgItem(kIdcStrengthList);
  if (m_list == nullptr)
    return;
  m_listEnter.SubclassWindow(m_list);
  ListView_SetExtendedListViewStyle(m_list, kListStyles);
  ListView_SetBkColor(m_list, kListColour);
  ListView_SetTextBkColor(m_list, kListColour);

  const int scale = ::MulDiv(100, Dpi(), 96);
  m_logonImages = image_strip(m_images, kIdbLogonIcons, kLogonSize, kLogonSize, scale, true);
  if (m_logonImages)
    ::ImageList_SetOverlayImage(m_logonImages.get(), 0, 1);
  m_ratingImages =
      image_strip(m_images, kIdbRatingLevels, kRatingWidth, kRatingHeight, scale, false);
  ListView_SetImageList(m_list, m_logonImages.get(), LVSIL_SMALL);

  RECT client{};
  ::GetClientRect(m_list, &client);
  const int rating_width = ::MulDiv(64, scale, 100);
  for (int column = 0; column < kColumns; ++column) {
    std::wstring title = Text(kIdsFirstColumn + column);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    c.pszText = title.data();
    c.iSubItem = column;
    c.cx = column == 0 ? std::max<int>(rating_width, client.right - (kColumns - 1) * rating_width -
                                                         ::GetSystemMetrics(SM_CXVSCROLL))
                       : rating_width;
    ListView_InsertColumn(m_list, column, &c);
  }
}

strength_display CTabPasswordStrength::Fill() {
  tracecore::trace_scope scope("CTabPasswordStrength::Fill");
  Clear();
  agent::storage_request_t request;
  ::SendMessageW(NotificationWindow(), agent::kMsgGetStorage, 0,
                 reinterpret_cast<LPARAM>(&request));
  support::com_ptr<IUnknown> answer(request.storage);
  support::com_ptr<IDashBoardStorage> storage;
  if (!answer || FAILED(answer->QueryInterface(IID_IDashBoardStorage, storage.put_void()))) {
    tracecore::trace_error("no dashboard storage", E_NOINTERFACE);
    ShowState(display_no_storage);
    return m_state;
  }
  try {
    DWORD handle = 0;
    THROW_IF_FAILED(storage->GetStorageHandle(&handle));
    const pstore::CProtectedStorage& ps = pstore::protected_storage();
    const serialization::secure_wstring data = ps.query(handle, m_hWnd);
    pstore::CProtectedStorageResolver resolver(ps, handle);
    strength::PasswordRatingModel model;
    strength::BuildPasswordRatingModel(model, data.c_str(), template_list(*storage.get()),
                                       resolver);
    return Show(model, strength::RatePasswords(model));  // stores the status too
  } catch (...) {
    support::result_from_caught_exception();  // traced
    Clear();
    ShowState(display_read_error);
  }
  return m_state;
}

strength_display CTabPasswordStrength::Show(const strength::PasswordRatingModel& model,
                                            std::int32_t level) {
  try {
    if (m_list == nullptr) {
      Clear();
    } else {
      // The level texts are read once for all rows.
      for (std::size_t i = 0; i < m_levelTexts.size(); ++i)
        m_levelTexts[i] = Text(kIdsFirstLevel + static_cast<UINT>(i));
      if (!m_rowKey)
        m_rowKey = std::make_unique<crypto::obfuscation_key_t>();
      const crypto::obfuscation_key_t& key = *m_rowKey;
      const CSubclassPause pause(m_listEnter, true);  // for the rows' messages
      ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
      Clear();
      for (const strength::LogonRating& logon : model.logons)
        AddLogon(logon, key);
      ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
      ::InvalidateRect(m_list, nullptr, TRUE);
    }
    ShowState(static_cast<strength_display>(level >= 0 && level <= 3 ? level : 0));
    RequestIcons();
  } catch (...) {
    support::result_from_caught_exception();  // traced
    if (m_list != nullptr)
      ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    Clear();
    ShowState(display_read_error);
  }
  return m_state;
}

void CTabPasswordStrength::Clear() {
  if (m_list != nullptr)
    ListView_DeleteAllItems(m_list);
  m_rows.clear();
  m_icons.clear();
  if (m_logonImages && ::ImageList_GetImageCount(m_logonImages.get()) > 2)
    ::ImageList_SetImageCount(m_logonImages.get(), 2);  // the strip's own; icons come again
}

void CTabPasswordStrength::AddLogon(const strength::LogonRating& logon,
                                    const crypto::obfuscation_key_t& key) {
  if (logon.accounts.empty())
    return;
  row_record_t* icon_row = nullptr;
  int icon_item = -1;
  const bool single = logon.accounts.size() == 1;
  if (!single) {
    auto header = std::make_unique<row_record_t>();
    header->TreePosition = 0;
    header->spare1 = logon.logon_name;
    header->spare2 = logon.quick_url;
    icon_row = header.get();
    icon_item = InsertRow(std::move(header), logon.logon_name, false);
  }
  for (const strength::AccountRating& account : logon.accounts) {
    auto row = std::make_unique<row_record_t>();
    static_cast<strength::AccountRating&>(*row) = account;
    row->spare1 = logon.logon_name;
    row->spare2 = logon.quick_url;
    // The row's own obfuscated copy: decoded and encoded again, the plain
    // text wiped at once.
    row->password.clear();
    if (!account.password.empty()) {
      crypto::_auto_heap_mem<unsigned char> plain;  // wipes itself
      const HRESULT hr = crypto::DeobfuscateFromText(key, account.password, plain);
      if (FAILED(hr) || plain.size() % sizeof(wchar_t) != 0 ||
          FAILED(crypto::ObfuscateToText(
              key,
              std::wstring_view(reinterpret_cast<const wchar_t*>(plain.get()),
                                plain.size() / sizeof(wchar_t)),
              row->password)))
        THROW_HR(FAILED(hr) ? hr : NTE_BAD_DATA);
    }
    const std::wstring& who =
        account.account_value.empty() ? account.profile_name : account.account_value;
    if (!single) {
      InsertRow(std::move(row), who, true);
      continue;
    }
    icon_row = row.get();
    icon_item =
        InsertRow(std::move(row),
                  who.empty() ? logon.logon_name : logon.logon_name + L" (" + who + L")", false);
  }
  if (icon_item >= 0 && !logon.quick_url.empty())
    m_icons.push_back(
        {icon_row, icon_item, logon.template_id, logon.quick_url, unique_level_icon(), -1});
}

int CTabPasswordStrength::InsertRow(std::unique_ptr<row_record_t> record,
                                    const std::wstring& text,
                                    bool indent) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_INDENT;
  item.iItem = static_cast<int>(m_rows.size());  // at the end (the list copies the text)
  item.pszText = const_cast<wchar_t*>(text.c_str());
  item.lParam = reinterpret_cast<LPARAM>(record.get());
  item.iImage = indent ? I_IMAGENONE : kLogonImage;
  item.iIndent = indent ? 1 : 0;
  m_rows.push_back(std::move(record));  // owned even when the list refuses it
  const int index = ListView_InsertItem(m_list, &item);
  if (index < 0) {
    tracecore::trace_format("row \"%ls\" not inserted", text.c_str());
    return index;
  }
  const row_record_t& row = *m_rows.back();
  if (!is_account_row(&row))
    return index;
  for (int column = 1; column < kColumns; ++column) {
    const std::int32_t level = rating_of(row, column);
    std::wstring& level_text =
        m_levelTexts[static_cast<std::size_t>(level >= 0 && level <= 3 ? level : 0)];
    LVITEMW cell{};
    cell.mask = LVIF_TEXT;
    cell.iItem = index;
    cell.iSubItem = column;
    cell.pszText = level_text.data();
    ::SendMessageW(m_list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
  }
  return index;
}

void CTabPasswordStrength::RequestIcons() {
  const HWND window = NotificationWindow();
  for (logon_icon_t& logon : m_icons) {
    agent::icon_request_t request;
    request.unique_id = logon.template_id.c_str();
    request.url = logon.quick_url.c_str();
    const HICON icon = reinterpret_cast<HICON>(
        ::SendMessageW(window, agent::kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request)));
    if (icon == nullptr)
      continue;
    logon.icon.reset(icon);
    if (m_logonImages)
      logon.image = ::ImageList_ReplaceIcon(m_logonImages.get(), logon.image, icon);
    logon.row->logon_icon = HandleToLong(icon);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = logon.item;
    item.iImage = logon.image >= 0 ? logon.image : kLogonImage;
    ::SendMessageW(m_list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void CTabPasswordStrength::ShowState(strength_display state) {
  m_state = state;
  const bool error = state == display_read_error || state == display_no_storage;
  const bool level = state >= display_weak && state <= display_strong;
  ::SetDlgItemTextW(m_hWnd, kIdcStatusText, error ? L"" : Text(kIdsFirstStatus + state).c_str());
  ::SetDlgItemTextW(m_hWnd, kIdcStatusHint, level ? Text(kIdsHint).c_str() : L"");
  ::SetDlgItemTextW(m_hWnd, kIdcStatusError, error ? Text(kIdsFirstError + state).c_str() : L"");
  const int icon_level = level ? state : 0;
  if (const int dpi = Dpi();
      !m_statusIcon || icon_level != m_statusIconLevel || dpi != m_statusIconDpi) {
    m_statusIcon = LoadLevelIcon(m_images, icon_level, dpi);
    m_statusIconLevel = icon_level;
    m_statusIconDpi = dpi;
  }
  ::SendDlgItemMessageW(m_hWnd, kIdcStatusIcon, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(m_statusIcon.get()));
  ::ShowWindow(GetDlgItem(kIdcStatusIcon), level ? SW_SHOWNA : SW_HIDE);
  ::ShowWindow(GetDlgItem(kIdcStatusText), error ? SW_HIDE : SW_SHOWNA);
  ::ShowWindow(GetDlgItem(kIdcStatusHint), level ? SW_SHOWNA : SW_HIDE);
  ::ShowWindow(GetDlgItem(kIdcStatusError), error ? SW_SHOWNA : SW_HIDE);
  ::EnableWindow(GetDlgItem(kIdcDetails), ListView_GetItemCount(m_list) > 0);
  tracecore::trace_format("strength display state %d", static_cast<int>(state));
}

void CTabPasswordStrength::DoItemAction(int item) {
  tracecore::trace_scope scope("CTabPasswordStrength::DoItemAction");
  tracecore::trace_format("item %d", item);
  if (m_list == nullptr || item < 0)
    return;
  LVITEMW row{};
  row.mask = LVIF_PARAM;
  row.iItem = item;
  if (!ListView_GetItem(m_list, &row))
    return;
  const auto* record = reinterpret_cast<const row_record_t*>(row.lParam);
  if (!is_account_row(record))
    return;  // a logon's header row has no details
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr)
    owner = ::GetAncestor(m_hWnd, GA_ROOT);
  CSecurityInfoDlg details(*record, record->ratings.overall == strength::Weak, m_images);
  if (details.DoModal(Resources(), owner) < 0)
    tracecore::trace_lasterror("CSecurityInfoDlg");
}

LRESULT CTabPasswordStrength::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
  Clear();
  handled = FALSE;
  return 0;
}

LRESULT CTabPasswordStrength::OnReload(UINT, WPARAM, LPARAM, BOOL&) {
  Fill();
  return 0;
}

LRESULT CTabPasswordStrength::OnPageNotify(UINT, WPARAM code, LPARAM, BOOL&) {
  if (code == agent::kNotifyStorageUpdated)
    Fill();
  else if (code == agent::kNotifyIconsUpdated)
    RequestIcons();
  return 0;
}

LRESULT CTabPasswordStrength::OnLeaveRequest(int, NMHDR*, BOOL&) {
  return TRUE;  // nothing here to be lost
}

LRESULT CTabPasswordStrength::OnItemActivate(int, NMHDR* header, BOOL&) {
  DoItemAction(reinterpret_cast<NMITEMACTIVATE*>(header)->iItem);
  return 0;
}

LRESULT CTabPasswordStrength::OnDetails(WORD, WORD, HWND, BOOL&) {
  DoItemAction(m_list != nullptr ? ListView_GetNextItem(m_list, -1, LVNI_SELECTED) : -1);
  return 0;
}

LRESULT CTabPasswordStrength::OnCustomDraw(int, NMHDR* header, BOOL&) {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return is_account_row(reinterpret_cast<const row_record_t*>(draw->nmcd.lItemlParam))
                 ? CDRF_NOTIFYSUBITEMDRAW
                 : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      break;
    default:
      return CDRF_DODEFAULT;
  }
  const auto* record = reinterpret_cast<const row_record_t*>(draw->nmcd.lItemlParam);
  if (draw->iSubItem < 1 || !is_account_row(record) || !m_ratingImages)
    return CDRF_DODEFAULT;
  // A rating cell shows its level's image in place of the level's name.
  const int item = static_cast<int>(draw->nmcd.dwItemSpec);
  RECT cell{};
  cell.top = draw->iSubItem;
  cell.left = LVIR_BOUNDS;
  if (!::SendMessageW(m_list, LVM_GETSUBITEMRECT, item, reinterpret_cast<LPARAM>(&cell)))
    return CDRF_DODEFAULT;
  const bool selected = (ListView_GetItemState(m_list, item, LVIS_SELECTED) & LVIS_SELECTED) != 0;
  const HBRUSH brush = ::CreateSolidBrush(selected ? ::GetSysColor(COLOR_HIGHLIGHT) : kListColour);
  ::FillRect(draw->nmcd.hdc, &cell, brush);
  ::DeleteObject(brush);
  int w = 0, h = 0;
  ::ImageList_GetIconSize(m_ratingImages.get(), &w, &h);
  const std::int32_t level = rating_of(*record, draw->iSubItem);
  ::ImageList_Draw(m_ratingImages.get(), level >= 0 && level <= 3 ? level : 0, draw->nmcd.hdc,
                   cell.left + (cell.right - cell.left - w) / 2,
                   cell.top + (cell.bottom - cell.top - h) / 2, ILD_NORMAL);
  return CDRF_SKIPDEFAULT;
}

}  // namespace ui
