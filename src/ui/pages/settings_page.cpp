#include "ui/pages/settings_page.h"

#include <commctrl.h>

#include <new>

#include "agent/notification_window.h"
#include "plugin/pages.h"
#include "plugin/settings.h"
#include "tracing/trace.h"

namespace ui {
namespace {

constexpr wchar_t kHotKeySetting[] = L"open_security_manager_qa";
constexpr wchar_t kPromptSetting[] = L"show_training_prompt";
constexpr wchar_t kPromptDefaultSetting[] = L"show_training_prompt_def";

// The keys whose scan codes come with the extended-key flag.
bool extended_key(std::uint16_t key) {
  switch (key) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_INSERT:
    case VK_DELETE:
    case VK_DIVIDE:
    case VK_NUMLOCK:
    case VK_SNAPSHOT:
    case VK_APPS:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::wstring key_display_name(std::uint16_t key) {
  const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  if (scan == 0)
    return {};
  const LONG lparam = static_cast<LONG>((scan & 0xFF) << 16) | (extended_key(key) ? 1L << 24 : 0);
  wchar_t name[64] = {};
  const int length = ::GetKeyNameTextW(lparam, name, 64);
  return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void CSettingsPage::Load() {
  if (FAILED(plugin::read_setting_boolean(kPromptDefaultSetting, m_promptDefault)))
    m_promptDefault = true;
  if (FAILED(plugin::read_setting_boolean(kPromptSetting, m_prompt)))
    m_prompt = true;

  std::wstring text;
  const HRESULT hr = plugin::read_setting_string(kHotKeySetting, text);
  bool parsed = false;
  m_hotKey = hot_key_or_default(text, &parsed);
  if (FAILED(hr))
    tracecore::trace_error("cannot read 'open_security_manager_qa', using Ctrl+Win+72", hr);
  else if (!parsed)
    tracecore::trace_format("hot key '%ls' not understood, using %ls", text.c_str(),
                            kDefaultHotKeyText);
  m_savedHotKey = m_hotKey;
  m_savedPrompt = m_prompt;
}

void CSettingsPage::ShowValues() {
  const std::wstring text = hot_key_display_text(m_hotKey, &key_display_name);
  ::SetDlgItemTextW(m_hWnd, kIdHotKeyText, text.c_str());
  m_hotKeyCtrl.SetDisplayText(text);
  ::CheckDlgButton(m_hWnd, kIdPrompt, m_prompt ? BST_CHECKED : BST_UNCHECKED);
}

void CSettingsPage::SetEditing(bool editing) {
  const HWND control = GetDlgItem(kIdHotKey);
  if (!editing && ::GetFocus() == control)
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(kIdChange)), TRUE);
  m_editing = editing;
  ::ShowWindow(GetDlgItem(kIdHotKeyText), editing ? SW_HIDE : SW_SHOW);
  ::ShowWindow(control, editing ? SW_SHOW : SW_HIDE);
  if (editing)
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void CSettingsPage::SetModified(bool changed) {
  tracecore::trace_scope scope("CSettingsPage::SetModified");
  tracecore::trace_format("bChanged=%d", changed ? 1 : 0);
  const HWND save = GetDlgItem(kIdSave);
  // A keyboard user who saved with the button keeps a focus on the page.
  if (!changed && ::GetFocus() == save)
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(kIdChange)), TRUE);
  ::EnableWindow(save, changed ? TRUE : FALSE);
  NotifySheetChanged(changed);
}

HRESULT CSettingsPage::SaveData() {
  tracecore::trace_scope scope("CSettingsPage::SaveData");
  const std::wstring text = hot_key_text(m_hotKey);
  tracecore::trace_format("%ls = %ls, %ls = %d", kHotKeySetting, text.c_str(), kPromptSetting,
                          m_prompt ? 1 : -1);
  HRESULT hr = plugin::write_setting(kHotKeySetting, text);
  const HRESULT prompt_hr = plugin::write_setting_boolean(kPromptSetting, m_prompt);
  if (SUCCEEDED(hr))
    hr = prompt_hr;
  m_savedHotKey = m_hotKey;
  m_savedPrompt = m_prompt;

  DWORD recipients = BSM_APPLICATIONS | BSM_ALLDESKTOPS;
  if (::BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_FORCEIFHUNG, &recipients,
                                agent::RegisteredMessages().settings_changed, 0, 0) <= 0)
    tracecore::trace_lasterror("BroadcastSystemMessage");
  return hr;
}

LRESULT CSettingsPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
  tracecore::trace_scope scope("CSettingsPage::OnInitDialog");
  Load();
  if (!m_hotKeyCtrl.SubclassWindow(GetDlgItem(kIdHotKey)))
    tracecore::trace_lasterror("cannot take over the hot-key control");
  ShowValues();
  SetEditing(false);
  ::EnableWindow(GetDlgItem(kIdSave), FALSE);
  return TRUE;
}

LRESULT CSettingsPage::OnCtlColorDlg(UINT, WPARAM, LPARAM, BOOL&) {
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CSettingsPage::OnCtlColorStatic(UINT, WPARAM wparam, LPARAM, BOOL&) {
  const auto dc = reinterpret_cast<HDC>(wparam);
  ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CSettingsPage::OnLButtonDown(UINT, WPARAM, LPARAM lparam, BOOL& handled) {
  // The text and the control take the same place; a click there (the text
  // lets clicks through to the page) switches between them.
  RECT area{};
  ::GetWindowRect(GetDlgItem(kIdHotKeyText), &area);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
  const POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
  if (!::PtInRect(&area, point)) {
    handled = FALSE;
    return 0;
  }
  SetEditing(!m_editing);
  return 0;
}

LRESULT CSettingsPage::OnHotkeyChanged(UINT, WPARAM wparam, LPARAM lparam, BOOL&) {
  tracecore::trace_scope scope("CSettingsPage::OnHotkeyChanged");
  hot_key_t pressed{static_cast<std::uint16_t>(wparam),
                    static_cast<std::uint16_t>(lparam & kHotKeyModifierMask)};
  tracecore::trace_format("key = %u, modifiers = 0x%02X", pressed.key, pressed.modifiers);
  // Modifiers pressed alone keep the key, a key without modifiers keeps them.
  if (pressed.key == 0)
    pressed.key = m_hotKey.key;
  if (pressed.modifiers == 0)
    pressed.modifiers = m_hotKey.modifiers;
  m_hotKey = pressed;
  ShowValues();
  UpdateModified();
  return 0;
}

LRESULT CSettingsPage::OnHelp(UINT, WPARAM, LPARAM, BOOL&) {
  m_help.HtmlHelp(GetHelpLink(help_shieldkit_icon_settings));
  return TRUE;
}

LRESULT CSettingsPage::OnNotify(UINT, WPARAM, LPARAM lparam, BOOL& handled) {
  const auto* header = reinterpret_cast<const NMHDR*>(lparam);
  if (header == nullptr || header->hwndFrom != ::GetParent(m_hWnd)) {
    handled = FALSE;
    return 0;
  }
  if (header->code == kNotifySave) {
    SaveData();
    SetEditing(false);
    ::EnableWindow(GetDlgItem(kIdSave), FALSE);
  } else if (header->code == kNotifyReload) {
    Load();
    SetEditing(false);
    ShowValues();
    UpdateModified();
  } else {
    handled = FALSE;
  }
  return 0;
}

LRESULT CSettingsPage::OnChange(WORD, WORD, HWND, BOOL&) {
  SetEditing(true);
  return 0;
}

LRESULT CSettingsPage::OnSave(WORD, WORD, HWND, BOOL&) {
  SaveData();
  SetEditing(false);
  SetModified(false);
  return 0;
}

LRESULT CSettingsPage::OnDefaults(WORD, WORD, HWND, BOOL&) {
  m_hotKey = kDefaultHotKey;
  m_prompt = m_promptDefault;
  SetEditing(false);
  ShowValues();
  UpdateModified();
  return 0;
}

LRESULT CSettingsPage::OnPrompt(WORD, WORD, HWND, BOOL&) {
  m_prompt = ::IsDlgButtonChecked(m_hWnd, kIdPrompt) == BST_CHECKED;
  UpdateModified();
  return 0;
}

}  // namespace ui

namespace plugin {

CPluginPage* CreateSettingsPage() noexcept {
  // The page's dialog holds a hot-key control, whose class must be registered.
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_HOTKEY_CLASS};
  ::InitCommonControlsEx(&classes);
  CPluginPage* page = new (std::nothrow) ui::CSettingsPage();
  if (page == nullptr)
    tracecore::trace_error("CreateSettingsPage", E_OUTOFMEMORY);
  return page;
}

}  // namespace plugin
