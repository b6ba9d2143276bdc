#include "ui/pages/manage_tab.h"

#include <oleauto.h>

#include <algorithm>
#include <cwctype>
#include <optional>

#include "agent/notification_window.h"
#include "plugin/CVOnlineIDsLib.h"
#include "plugin/module.h"
#include "plugin/registrar.h"
#include "plugin/settings.h"
#include "quicklinks/categories.h"
#include "store/protected_storage.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "tracing/trace.h"
#include "ui/pages/subclass_pause.h"
#include "ui/portable/hot_key.h"

namespace ui {
namespace {

constexpr UINT kIdbLogonImages = 102;
constexpr int kImageKeyOverlay = 0;  // bitmap 102: the key overlay, then a logon
constexpr int kImageLogon = 1;
constexpr UINT kMenuFlags = TPM_RETURNCMD | TPM_NONOTIFY;
constexpr UINT kRowButtonMenuFlags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTALIGN;
constexpr int kMenuOffset = 21;  // F10: the row menu this far right of the item
constexpr UINT kOwnerDrawnItemType = 102;

// --- The quick-access hot key ---------------------------------------------------------

// The key's name on the keyboard, its code when it has none.
std::wstring key_name(std::uint16_t key) {
  const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  LONG lparam = static_cast<LONG>(scan << 16);
  switch (key) {
    case VK_INSERT:
    case VK_DELETE:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_DIVIDE:
    case VK_NUMLOCK:
      lparam |= 1 << 24;  // the extended key, not the keypad's
      break;
    default:
      break;
  }
  wchar_t name[64] = {};
  if (scan != 0 && ::GetKeyNameTextW(lparam, name, 64) > 0)
    return name;
  return std::to_wstring(key);
}

// --- Rows ------------------------------------------------------------------------------

// A site icon handed back by the notification window, checked to be one.
bool is_icon(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !::GetIconInfo(icon, &info))
    return false;
  if (info.hbmColor)
    ::DeleteObject(info.hbmColor);
  if (info.hbmMask)
    ::DeleteObject(info.hbmMask);
  return true;
}

// The small-icon size for the screen's DPI.
int icon_size(HWND window) {
  const HDC dc = ::GetDC(window);
  const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSX) : 96;
  if (dc)
    ::ReleaseDC(window, dc);
  return ::MulDiv(16, dpi > 0 ? dpi : 96, 96);
}

}  // namespace

// --- Construction and the row list --------------------------------------------------------

CTabManage::CTabManage(HINSTANCE resources, HKEY root) : CTabDialogImpl(resources), m_root(root) {}

CTabManage::~CTabManage() {
  // A tab destroyed before its window still saves its categories.
  if (IsWindow())
    ::DestroyWindow(m_hWnd);
  m_rows.clear();
  if (m_images)
    ::ImageList_Destroy(m_images);
  if (m_boldFont)
    ::DeleteObject(m_boldFont);
}

bool CTabManage::CRowList::InsertRow(int position, std::unique_ptr<CListItemData>& row) {
  const HWND list = m_tab.m_logons;
  if (list == nullptr || row == nullptr || position < 0 ||
      position > static_cast<int>(m_tab.m_rows.size()))
    return false;
  row->GetText(m_text);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_INDENT;
  item.iItem = position;
  item.pszText = m_text.data();
  item.lParam = reinterpret_cast<LPARAM>(row.get());
  item.iImage = kImageLogon;
  if (!row->IsLogon()) {
    // An account row: indented under its logon, the key drawn over it.
    item.iIndent = 1;
    item.mask |= LVIF_STATE;
    item.state = INDEXTOOVERLAYMASK(1);
    item.stateMask = LVIS_OVERLAYMASK;
  }
  const int inserted =
      static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (inserted < 0)
    return false;
  m_tab.m_rows.insert(m_tab.m_rows.begin() + inserted, std::move(row));
  return true;
}

CListItemData* CTabManage::Row(int index) const {
  return index >= 0 && index < RowCount() ? m_rows[static_cast<std::size_t>(index)].get() : nullptr;
}

// --- Initialisation and teardown ----------------------------------------------------------

LRESULT CTabManage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CTabManage::OnInitDialog");
  ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE,
                      ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  SetUpLists();
  ReadHotKey();
  ReadCategories();
  FillCategoryList(m_categories.last);
  AskFirstRating();
  return TRUE;
}

void CTabManage::SetUpLists() {
  const HWND categories = GetDlgItem(kIdcCategories);
  const HWND logons = GetDlgItem(kIdcLogons);
  m_logons = logons;

  // Bitmap 102 of the component's module, sized for the DPI; without it the
  // list shows no images.
  const int size = icon_size(m_hWnd);
  m_images = ::ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 8, 8);
  const HINSTANCE module = plugin::module().instance();
  if (m_images && module) {
    HBITMAP strip = static_cast<HBITMAP>(
        ::LoadImageW(module, MAKEINTRESOURCEW(kIdbLogonImages), IMAGE_BITMAP, 0, 0, 0));
    BITMAP info{};
    if (strip && ::GetObjectW(strip, sizeof(info), &info) && info.bmHeight > 0 && size != 16) {
      const int count = info.bmWidth / info.bmHeight;
      ::DeleteObject(strip);
      strip = static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(kIdbLogonImages),
                                                IMAGE_BITMAP, count * size, size, 0));
    }
    if (strip) {
      ::ImageList_AddMasked(m_images, strip, RGB(255, 0, 255));
      ::DeleteObject(strip);
    }
    if (::ImageList_GetImageCount(m_images) > kImageKeyOverlay)
      ::ImageList_SetOverlayImage(m_images, kImageKeyOverlay, 1);
  }
  if (m_images == nullptr || ::ImageList_GetImageCount(m_images) == 0)
    tracecore::trace_text("no logon images");
  m_baseImages = m_images ? ::ImageList_GetImageCount(m_images) : 0;

  for (const HWND list : {categories, logons}) {
    ::SendMessageW(
        list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
        LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | (list == logons ? LVS_EX_TRACKSELECT : 0));
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 100;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  }
  if (m_images)
    ::SendMessageW(logons, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_images));
  // The hover tracking selects nothing by itself (OnRowHotTrack answers 1).
  ::SendMessageW(logons, LVM_SETHOVERTIME, 0, static_cast<LPARAM>(-1));

  LOGFONTW font{};
  const HFONT list_font = reinterpret_cast<HFONT>(::SendMessageW(categories, WM_GETFONT, 0, 0));
  if (::GetObjectW(list_font ? list_font : ::GetStockObject(DEFAULT_GUI_FONT), sizeof(font),
                   &font)) {
    font.lfWeight = FW_BOLD;
    m_boldFont = ::CreateFontIndirectW(&font);
  }

  m_drag.SubclassWindow(logons);

  static constexpr support::resize_anchor_t anchors[] = {
      {kIdcCategories, support::resize_size_y},
      {kIdcAddCategory, support::resize_move_y},
      {kIdcLogons, support::resize_size_x | support::resize_size_y},
      {kIdcNewLogon, support::resize_move_y},
      {kIdcAboutPlugin, support::resize_move_x | support::resize_move_y},
      {kIdcHotKeyLabel, support::resize_move_y},
      {kIdcHotKey, support::resize_move_y},
      {kIdcDetailsHint, support::resize_move_y | support::resize_size_x},
      {kIdcListHint, support::resize_move_y | support::resize_size_x},
  };
  DlgResize_Init(m_hWnd, anchors, std::size(anchors));
  ::ShowWindow(GetDlgItem(kIdcListHint), SW_HIDE);
}

void CTabManage::ReadHotKey() {
  std::wstring text;
  if (FAILED(plugin::read_setting_string(kHotKeySetting, text)) || text.empty())
    text = kDefaultHotKeyText;
  bool parsed = false;
  const hot_key_t hot_key = hot_key_or_default(text, &parsed);
  if (!parsed)
    tracecore::trace_format("hot key '%ls' not valid, '%ls' shown", text.c_str(),
                            kDefaultHotKeyText);
  // The displayed form with its parts joined by plain plus signs.
  std::wstring shown = hot_key_display_text(hot_key, key_name);
  for (std::size_t at = shown.find(L" + "); at != std::wstring::npos; at = shown.find(L" + ", at))
    shown.replace(at, 3, L"+");
  m_hotKeyText = shown;
  ::SetDlgItemTextW(m_hWnd, kIdcHotKey, shown.c_str());
  ::InvalidateRect(GetDlgItem(kIdcHotKey), nullptr, TRUE);
}

void CTabManage::ReadCategories() {
  quicklinks::ReadCategories(m_categories, m_root);
}

void CTabManage::SaveCategories() {
  quicklinks::SaveCategories(m_categories, m_root);
}

void CTabManage::AskFirstRating() const {
  const auto key = support::try_open_key(m_root, plugin::kIdCardKey, KEY_READ);
  if (key && support::try_get_dword(key->get(), kIdCardValue))
    return;
  tracecore::trace_text("no overall rating yet: recalculation asked for");
  ::PostMessageW(NotificationWindow(), agent::kMsgRecalculateStrength, 0, 0);
}

LRESULT CTabManage::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
  m_drag.CancelDrag();
  SaveCategories();
  ReleaseRows();
  m_drag.UnsubclassWindow();
  m_storage.reset();
  handled = FALSE;
  return 0;
}

LRESULT CTabManage::OnSetCursor(UINT, WPARAM, LPARAM, BOOL&) {
  return 0;
}

// --- Lists ----------------------------------------------------------------------------

void CTabManage::FillCategoryList(const std::wstring& select) {
  const HWND list = GetDlgItem(kIdcCategories);
  m_filling = true;
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  std::vector<std::wstring> names{Text(kIdsAllLogons)};
  names.insert(names.end(), m_categories.names.begin(), m_categories.names.end());
  int selected = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = names[i].data();
    ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (i > 0 && !select.empty() && names[i] == select)
      selected = static_cast<int>(i);
  }
  LVITEMW state{};
  state.state = state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected),
                 reinterpret_cast<LPARAM>(&state));
  ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
  m_filling = false;
  ShowCategory(selected);
}

void CTabManage::ShowCategory(int item) {
  m_category = item > 0 && static_cast<std::size_t>(item) <= m_categories.size()
                   ? m_categories.names[static_cast<std::size_t>(item - 1)]
                   : std::wstring();
  m_categories.last = m_category;
  FillLogonList();
}

void CTabManage::ReleaseRows() {
  if (const HWND list = GetDlgItem(kIdcLogons))
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  m_rows.clear();
  m_hotRow = -1;
  if (m_images)
    ::ImageList_SetImageCount(m_images, static_cast<UINT>(m_baseImages));
}

IDashBoardStorage* CTabManage::Storage() {
  if (!m_storage) {
    agent::storage_request_t request;
    ::SendMessageW(NotificationWindow(), agent::kMsgGetStorage, 0,
                   reinterpret_cast<LPARAM>(&request));
    if (request.storage != nullptr) {
      request.storage->QueryInterface(IID_IDashBoardStorage, m_storage.put_void());
      request.storage->Release();
    }
    if (!m_storage)
      tracecore::trace_text("no dashboard storage");
  }
  return m_storage.get();
}

std::vector<std::wstring> CTabManage::TemplatePaths() {
  std::vector<std::wstring> paths;
  IDashBoardStorage* storage = Storage();
  if (storage == nullptr)
    return paths;
  support::unique_variant list;
  const HRESULT hr = storage->GetManifestList(list.get());
  if (FAILED(hr)) {
    tracecore::trace_error("GetManifestList", hr);
    return paths;
  }
  if (list->vt != (VT_ARRAY | VT_BSTR) || list->parray == nullptr ||
      ::SafeArrayGetDim(list->parray) != 1) {
    tracecore::trace_format("manifest list of type 0x%X", static_cast<unsigned>(list->vt));
    return paths;
  }
  LONG low = 0, high = -1;
  ::SafeArrayGetLBound(list->parray, 1, &low);
  ::SafeArrayGetUBound(list->parray, 1, &high);
  BSTR* items = nullptr;
  if (FAILED(::SafeArrayAccessData(list->parray, reinterpret_cast<void**>(&items))))
    return paths;
  for (LONG i = 0; i <= high - low; ++i)
    paths.emplace_back(items[i] ? items[i] : L"", items[i] ? ::SysStringLen(items[i]) : 0);
  ::SafeArrayUnaccessData(list->parray);
  return paths;
}

DWORD CTabManage::StorageHandle() {
  IDashBoardStorage* storage = Storage();
  if (storage == nullptr)
    return 0;
  DWORD handle = 0;
  const HRESULT hr = storage->GetStorageHandle(&handle);
  if (FAILED(hr)) {
    tracecore::trace_error("GetStorageHandle", hr);
    return 0;
  }
  return handle;
}

void CTabManage::FillLogonList() {
  if (m_busy) {
    m_refillPending = true;
    return;
  }
  tracecore::trace_scope scope("CTabManage::FillLogonList");
  ShowLogons(LoadLogons());
}

CTabManage::loaded_logons_t CTabManage::LoadLogons() {
  loaded_logons_t loaded;
  try {
    const std::vector<std::wstring> paths = TemplatePaths();
    const DWORD handle = paths.empty() ? 0 : StorageHandle();
    if (handle == 0)
      return loaded;
    const serialization::secure_wstring data = pstore::protected_storage().query(handle, m_hWnd);
    loaded.storage = handle;
    std::optional<std::vector<std::wstring>> members;
    if (!m_category.empty()) {
      const auto index = m_categories.find(m_category);
      members = categories::split_members(index ? m_categories.members[*index] : L"");
    }
    loaded.logons.reserve(paths.size());
    for (const std::wstring& path : paths) {
      if (members && std::find(members->begin(), members->end(), categories::logon_key(path)) ==
                         members->end())
        continue;
      if (std::optional<loaded_logon_t> logon = LoadLogon(path, data.c_str()))
        loaded.logons.push_back(std::move(*logon));
    }
  } catch (...) {
    support::result_from_caught_exception();
  }
  return loaded;
}

void CTabManage::ShowLogons(loaded_logons_t loaded) {
  if (m_busy) {
    m_refillPending = true;
    return;
  }
  const HWND list = GetDlgItem(kIdcLogons);
  // The list is filled without the drag-and-drop subclass (no drag can begin
  // meanwhile); not during a drag nor while the subclass reports a drop.
  const CSubclassPause pause(m_drag, !m_drag.InUse());
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ReleaseRows();
  m_list.resources = Resources();
  m_list.storage = loaded.storage;
  for (loaded_logon_t& logon : loaded.logons)
    AddLogonRows(std::move(logon), m_list, RowCount());
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
  tracecore::trace_format("rows = %d", RowCount());
  RequestIcons();
}

void CTabManage::RequestIcons() {
  const HWND list = GetDlgItem(kIdcLogons);
  const HWND window = NotificationWindow();
  for (int i = 0; i < RowCount(); ++i) {
    CListItemData* row = m_rows[static_cast<std::size_t>(i)].get();
    std::wstring id, url;
    if (!row->IsLogon() || !row->GetQuickLaunchInfo(id, url) || url.empty())
      continue;
    agent::icon_request_t request;
    request.unique_id = id.c_str();
    request.url = url.c_str();
    const HICON icon = reinterpret_cast<HICON>(
        ::SendMessageW(window, agent::kMsgGetIcon, 0, reinterpret_cast<LPARAM>(&request)));
    if (!is_icon(icon) || m_images == nullptr)
      continue;
    // The row keeps the icon; the list shows a copy in the image list, in the
    // place the row's earlier icon had.
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = i;
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const int image =
        ::ImageList_ReplaceIcon(m_images, item.iImage >= m_baseImages ? item.iImage : -1, icon);
    row->SetIcon(icon);
    if (image >= 0 && image != item.iImage) {
      item.iImage = image;
      ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
  }
}

int CTabManage::SelectedRow() const {
  return static_cast<int>(::SendMessageW(GetDlgItem(kIdcLogons), LVM_GETNEXTITEM,
                                         static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int CTabManage::SelectedCategory() const {
  return static_cast<int>(::SendMessageW(GetDlgItem(kIdcCategories), LVM_GETNEXTITEM,
                                         static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// --- Notifications -------------------------------------------------------------------

LRESULT CTabManage::OnCategoryChanged(int, NMHDR* header, BOOL&) {
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if (!m_filling && (change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
      !(change->uOldState & LVIS_SELECTED))
    ShowCategory(change->iItem);
  return 0;
}

void CTabManage::ShowCategoryMenu(POINT screen) {
  const HINSTANCE resources = Resources();
  HMENU menu = resources ? ::LoadMenuW(resources, MAKEINTRESOURCEW(kIdrCategoryMenu)) : nullptr;
  if (menu == nullptr) {
    tracecore::trace_lasterror("LoadMenu 103");
    return;
  }
  const unique_hmenu owned(menu);
  const UINT command = static_cast<UINT>(
      ::TrackPopupMenu(::GetSubMenu(menu, 0), kMenuFlags, screen.x, screen.y, 0, m_hWnd, nullptr));
  if (command != 0)
    DoCategoryCommand(command);
}

LRESULT CTabManage::OnCategoryRClick(int, NMHDR*, BOOL&) {
  POINT cursor{};
  ::GetCursorPos(&cursor);
  ShowCategoryMenu(cursor);
  return 1;  // no WM_CONTEXTMENU after it
}

LRESULT CTabManage::OnCategoryKeyDown(int, NMHDR* header, BOOL&) {
  const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
  if (SelectedCategory() <= 0)
    return 0;
  if (key->wVKey == VK_DELETE)
    DoCategoryCommand(kCmdDeleteCategory);
  else if (key->wVKey == VK_F2)
    DoCategoryCommand(kCmdRenameCategory);
  return 0;
}

LRESULT CTabManage::OnRowRClick(int, NMHDR* header, BOOL&) {
  const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
  POINT cursor{};
  ::GetCursorPos(&cursor);
  ShowRowMenu(click->iItem, cursor, kMenuFlags);
  return 1;
}

LRESULT CTabManage::OnRowClick(int, NMHDR* header, BOOL&) {
  // The row's icon is its menu button: the menu opens under the row.
  const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
  LVHITTESTINFO hit{};
  hit.pt = click->ptAction;
  const HWND list = GetDlgItem(kIdcLogons);
  if (::SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 ||
      (hit.flags & LVHT_ONITEMICON) == 0)
    return 0;
  RECT item{};
  item.left = LVIR_BOUNDS;
  ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(hit.iItem),
                 reinterpret_cast<LPARAM>(&item));
  POINT corner{item.right, item.bottom};
  ::ClientToScreen(list, &corner);
  ShowRowMenu(hit.iItem, corner, kRowButtonMenuFlags);
  return 0;
}

LRESULT CTabManage::OnRowDefault(int, NMHDR*, BOOL&) {
  const int index = SelectedRow();
  if (CListItemData* row = Row(index)) {
    if (const UINT command = row->GetDefaultCommand())
      DoItemAction(index, command);
  }
  return 0;
}

void CTabManage::ShowRowMenuAtItem(int index) {
  if (Row(index) == nullptr)
    return;
  const HWND list = GetDlgItem(kIdcLogons);
  POINT origin{};
  ::SendMessageW(list, LVM_GETITEMPOSITION, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&origin));
  origin.x += kMenuOffset;
  ::ClientToScreen(list, &origin);
  ShowRowMenu(index, origin, kMenuFlags);
}

LRESULT CTabManage::OnRowKeyDown(int, NMHDR* header, BOOL&) {
  const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
  const int index = SelectedRow();
  switch (key->wVKey) {
    case VK_INSERT:
      DoItemAction(index, cmd_add_account);
      break;
    case VK_DELETE:
      DoItemAction(index, cmd_delete);
      break;
    case VK_F10:
      ShowRowMenuAtItem(index);
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CTabManage::OnContextMenu(UINT, WPARAM wparam, LPARAM lparam, BOOL& handled) {
  // The keyboard's menu (Shift+F10, the menu key): at the selected item.
  const HWND from = reinterpret_cast<HWND>(wparam);
  if (from == GetDlgItem(kIdcLogons)) {
    ShowRowMenuAtItem(SelectedRow());
  } else if (from == GetDlgItem(kIdcCategories) && SelectedCategory() >= 0) {
    RECT item{};
    item.left = LVIR_LABEL;
    ::SendMessageW(from, LVM_GETITEMRECT, static_cast<WPARAM>(SelectedCategory()),
                   reinterpret_cast<LPARAM>(&item));
    POINT corner{item.left + kMenuOffset, item.bottom};
    ::ClientToScreen(from, &corner);
    ShowCategoryMenu(lparam == -1 ? corner
                                  : POINT{static_cast<short>(LOWORD(lparam)),
                                          static_cast<short>(HIWORD(lparam))});
  } else {
    handled = FALSE;
  }
  return 0;
}

LRESULT CTabManage::OnRowHotTrack(int, NMHDR* header, BOOL&) {
  const auto* track = reinterpret_cast<const NMLISTVIEW*>(header);
  if (track->iItem != m_hotRow) {
    const HWND list = GetDlgItem(kIdcLogons);
    const int old_row = m_hotRow;
    m_hotRow = track->iItem;
    if (old_row >= 0)
      ::SendMessageW(list, LVM_UPDATE, static_cast<WPARAM>(old_row), 0);
    if (m_hotRow >= 0)
      ::SendMessageW(list, LVM_UPDATE, static_cast<WPARAM>(m_hotRow), 0);
  }
  return 1;  // hovering selects nothing
}

LRESULT CTabManage::OnRowBeginDrag(int, NMHDR* header, BOOL&) {
  const auto* drag = reinterpret_cast<const NMLISTVIEW*>(header);
  m_drag.BeginDrag(drag->iItem, drag->ptAction);
  return 0;
}

LRESULT CTabManage::OnLeaveRequest(int, NMHDR*, BOOL&) {
  m_drag.CancelDrag();
  return 1;  // the tab may always be left
}

// --- Drawing ---------------------------------------------------------------------------

DWORD CTabManage::OnPrePaint(int id, NMCUSTOMDRAW*) {
  return id == kIdcCategories ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
}

DWORD CTabManage::OnItemPrePaint(int id, NMCUSTOMDRAW* draw) {
  if (id != kIdcCategories)
    return CDRF_DODEFAULT;
  tracecore::trace_scope scope("CTabManage::OnItemPrePaint");
  const auto* item = reinterpret_cast<NMLVCUSTOMDRAW*>(draw);
  wchar_t text[300] = {};
  LVITEMW query{};
  query.iSubItem = item->iSubItem;
  query.pszText = text;
  query.cchTextMax = 300;
  ::SendMessageW(draw->hdr.hwndFrom, LVM_GETITEMTEXTW, draw->dwItemSpec,
                 reinterpret_cast<LPARAM>(&query));
  tracecore::trace_format("%ls [%d, %d], sel = %d, uItemState = 0x%X", text,
                          static_cast<int>(draw->dwItemSpec), item->iSubItem, SelectedCategory(),
                          draw->uItemState);
  if (text[0] == L'\0' || m_boldFont == nullptr)
    return CDRF_DODEFAULT;
  ::SelectObject(draw->hdc, m_boldFont);
  tracecore::trace_text("Draw manually");
  draw->uItemState |= CDIS_SELECTED | CDIS_FOCUS;
  return CDRF_NEWFONT;
}

LRESULT CTabManage::OnDrawItem(UINT, WPARAM, LPARAM lparam, BOOL& handled) {
  const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  if (draw == nullptr || draw->CtlType != ODT_BUTTON || draw->CtlID != kIdcHotKey) {
    handled = FALSE;
    return 0;
  }
  // The hot-key button looks like a link: its window text, the focus shown.
  ::FillRect(draw->hDC, &draw->rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(draw->hwndItem)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(draw->hwndItem, text.data(), static_cast<int>(text.size()))));
  ::SetBkMode(draw->hDC, TRANSPARENT);
  ::SetTextColor(draw->hDC,
                 ::GetSysColor((draw->itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_HOTLIGHT));
  RECT area = draw->rcItem;
  ::DrawTextW(draw->hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (draw->itemState & ODS_FOCUS) {
    RECT focus = draw->rcItem;
    ::DrawFocusRect(draw->hDC, &focus);
  }
  return TRUE;
}

LRESULT CTabManage::OnMeasureItem(UINT, WPARAM, LPARAM lparam, BOOL& handled) {
  auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
  if (measure == nullptr || measure->CtlType != kOwnerDrawnItemType) {
    handled = FALSE;
    return 0;
  }
  measure->itemWidth = 640;
  measure->itemHeight = 27;
  return TRUE;
}

LRESULT CTabManage::OnSize(UINT, WPARAM, LPARAM lparam, BOOL&) {
  DlgResize_UpdateLayout(LOWORD(lparam), HIWORD(lparam));
  for (const int id : {kIdcCategories, kIdcLogons})
    ::SendMessageW(GetDlgItem(id), LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  return 0;
}

// --- Commands and the page's messages --------------------------------------------------------

LRESULT CTabManage::OnNewLogon(WORD, WORD, HWND, BOOL&) {
  ::SendMessageW(NotificationWindow(), agent::kMsgStartTraining, 0, 0);
  return 0;
}

LRESULT CTabManage::OnAboutPlugin(WORD, WORD, HWND, BOOL&) {
  const std::wstring clsid = CVHC_SDK::clsid_text(CVONLINEIDSLib::CLSID_CCVHCPages);
  ::SendMessageW(::GetAncestor(m_hWnd, GA_ROOT), kMsgHostRequest, 1,
                 reinterpret_cast<LPARAM>(clsid.c_str()));
  return 0;
}

LRESULT CTabManage::OnViewMode(WORD, WORD, HWND, BOOL&) {
  m_viewMode ^= 1;
  const HWND list = GetDlgItem(kIdcLogons);
  const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
  ::SetWindowLongPtrW(
      list, GWL_STYLE,
      (style & ~static_cast<LONG_PTR>(LVS_TYPEMASK)) | (m_viewMode ? LVS_LIST : LVS_REPORT));
  ::ShowWindow(GetDlgItem(kIdcDetailsHint), m_viewMode ? SW_HIDE : SW_SHOW);
  ::ShowWindow(GetDlgItem(kIdcListHint), m_viewMode ? SW_SHOW : SW_HIDE);
  ::InvalidateRect(list, nullptr, TRUE);
  return 0;
}

LRESULT CTabManage::OnReload(UINT, WPARAM, LPARAM, BOOL&) {
  // The secret was restored: a new storage object, the categories again.
  m_storage.reset();
  ReadCategories();
  FillCategoryList(m_category);
  return 0;
}

LRESULT CTabManage::OnPageNotify(UINT, WPARAM code, LPARAM, BOOL&) {
  switch (code) {
    case agent::kNotifyStorageUpdated:
      FillLogonList();
      break;
    case agent::kNotifyIconsUpdated:
      RequestIcons();
      break;
    case agent::kNotifySettingsChanged:
      ReadHotKey();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CTabManage::OnTabActivate(UINT, WPARAM wparam, LPARAM, BOOL&) {
  if (LOWORD(wparam) == WA_INACTIVE)
    m_drag.CancelDrag();
  return 0;
}

LRESULT CTabManage::OnHelp(UINT, WPARAM, LPARAM, BOOL&) {
  m_help.HtmlHelp(GetHelpLink(help_manage_logons));
  return TRUE;
}

}  // namespace ui
