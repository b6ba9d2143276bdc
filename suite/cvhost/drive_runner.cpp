#include "drive_runner.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <string>
#include <tuple>
#include <utility>

#include "output.h"
#include "property_sheet.h"
#include "support/unique_any.h"

namespace cvhost {

namespace {

using drive::step_t;
using drive::target_t;
using step_verb = drive::verb_t;
using kind_t = drive::target_t::kind_t;

// The sheet's Apply button (the common controls' own id).
constexpr int kApplyButton = 0x3021;
// Time the messages a step caused get to be handled before the next step.
constexpr DWORD kSettleMs = 30;

class step_failure {
 public:
  explicit step_failure(std::string why) : m_why(std::move(why)) {}
  const std::string& why() const noexcept { return m_why; }

 private:
  std::string m_why;
};

[[noreturn]] void fail(std::string why) {
  throw step_failure(std::move(why));
}

std::wstring text_of(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

bool same_text(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool is_list(HWND window) {
  return same_text(class_of(window), WC_LISTVIEWW);
}

// "id=1006 class=SysListView32 text=..." for result lines.
std::string describe(HWND window) {
  return "id=" + std::to_string(::GetDlgCtrlID(window)) + " class=" + utf8(class_of(window)) +
         " text=" + utf8(text_of(window));
}

// Handles the messages waiting for the sheet's thread, as the sheet's loop does.
void drain(HWND sheet) {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!::IsWindow(sheet) || !PropSheet_IsDialogMessage(sheet, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

// Pumps messages until done() holds or the time is up; done is checked between
// batches. Returns whether done() held.
template <typename Done>
bool pump_until(HWND sheet, DWORD timeout_ms, Done done) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    drain(sheet);
    if (done())
      return true;
    if (::GetTickCount() - start >= timeout_ms)
      return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// Lets what a step posted be handled: at least kSettleMs, then until the queue is empty.
void settle(HWND sheet) {
  const DWORD start = ::GetTickCount();
  pump_until(sheet, 2000, [start] {
    return ::GetTickCount() - start >= kSettleMs && ::GetQueueStatus(QS_ALLINPUT) == 0;
  });
}

BOOL CALLBACK collect_window(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// Every window under parent, depth first.
std::vector<HWND> descendants(HWND parent) {
  std::vector<HWND> result;
  ::EnumChildWindows(parent, collect_window, reinterpret_cast<LPARAM>(&result));
  return result;
}

// ---- list views ----

int item_count(HWND list) {
  return ListView_GetItemCount(list);
}

std::wstring item_text(HWND list, int item, int column) {
  std::wstring text(512, L'\0');
  LVITEMW request{};
  request.iSubItem = column;
  request.pszText = text.data();
  request.cchTextMax = static_cast<int>(text.size());
  const LRESULT length = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item),
                                        reinterpret_cast<LPARAM>(&request));
  text.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
  return text;
}

int column_count(HWND list) {
  const HWND header = ListView_GetHeader(list);
  const int columns = header != nullptr ? Header_GetItemCount(header) : 0;
  return columns > 0 ? columns : 1;
}

int find_item(HWND list, const target_t& item) {
  const int count = item_count(list);
  if (item.kind == kind_t::index) {
    if (static_cast<int>(item.number) >= count)
      fail("the list has " + std::to_string(count) + " item(s), no @" +
           std::to_string(item.number));
    return static_cast<int>(item.number);
  }
  const std::wstring wanted = wide(item.text);
  for (int i = 0; i < count; ++i) {
    if (same_text(item_text(list, i, 0), wanted))
      return i;
  }
  fail("no item \"" + item.text + "\" in the list (" + std::to_string(count) + " item(s))");
}

// The middle of an item, in the list's client coordinates.
POINT item_point(HWND list, int item) {
  RECT rect{};
  ListView_GetItemRect(list, item, &rect, LVIR_LABEL);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void select_item(HWND sheet, HWND list, int item) {
  ::SetFocus(list);
  ListView_EnsureVisible(list, item, FALSE);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetSelectionMark(list, item);
  settle(sheet);
}

// The notification a list view sends its parent for a click on an item.
void notify_click(HWND list, UINT code, int item) {
  NMITEMACTIVATE click{};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list));
  click.hdr.code = code;
  click.iItem = item;
  click.ptAction = item_point(list, item);
  POINT screen = click.ptAction;
  ::ClientToScreen(list, &screen);
  ::SetCursorPos(screen.x, screen.y);
  ::SendMessageW(::GetParent(list), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

// ---- keys ----

bool extended_key(WORD key) {
  return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE ||
         key == VK_LWIN || key == VK_RWIN || key == VK_APPS;
}

void post_key(HWND window, WORD key, bool down, bool alt) {
  const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  LPARAM data = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
  if (extended_key(key))
    data |= 1 << 24;
  if (alt)
    data |= 1 << 29;
  if (!down)
    data |= static_cast<LPARAM>(0xC0000000u);
  // With Alt down (and for F10) the system's variants of the messages arrive.
  const bool system = alt || key == VK_MENU || key == VK_F10;
  const UINT message =
      down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  ::PostMessageW(window, message, key, data);
}

void set_modifier_state(std::uint8_t modifiers) {
  BYTE state[256] = {};
  ::GetKeyboardState(state);
  auto put = [&state](std::initializer_list<int> keys, bool down) {
    for (const int key : keys)
      state[key] = down ? 0x80 : 0;
  };
  put({VK_CONTROL, VK_LCONTROL}, (modifiers & drive::kCtrl) != 0);
  put({VK_SHIFT, VK_LSHIFT}, (modifiers & drive::kShift) != 0);
  put({VK_MENU, VK_LMENU}, (modifiers & drive::kAlt) != 0);
  put({VK_LWIN}, (modifiers & drive::kWin) != 0);
  ::SetKeyboardState(state);
}

HWND focused_or_fail() {
  const HWND focus = ::GetFocus();
  if (focus == nullptr)
    fail("no control has the focus");
  return focus;
}

void press_chord(HWND sheet, const drive::key_t& key) {
  struct modifier_t {
    std::uint8_t bit;
    WORD key;
  };
  constexpr modifier_t kModifiers[] = {{drive::kCtrl, VK_CONTROL},
                                       {drive::kShift, VK_SHIFT},
                                       {drive::kAlt, VK_MENU},
                                       {drive::kWin, VK_LWIN}};
  const bool alt = (key.modifiers & drive::kAlt) != 0;
  // However the chord ends, no modifier stays down for the steps after it.
  const support::scope_exit release([] { set_modifier_state(0); });
  // Modifiers go down one after the other, each seen in the key state.
  std::uint8_t down = 0;
  for (const modifier_t& modifier : kModifiers) {
    if (key.modifiers & modifier.bit) {
      down |= modifier.bit;
      set_modifier_state(down);
      post_key(focused_or_fail(), modifier.key, true, (down & drive::kAlt) != 0);
      settle(sheet);
    }
  }
  if (key.key != 0) {
    const HWND target = focused_or_fail();
    post_key(target, key.key, true, alt);
    settle(sheet);
    post_key(::GetFocus() ? ::GetFocus() : target, key.key, false, alt);
    settle(sheet);
  }
  for (auto it = std::rbegin(kModifiers); it != std::rend(kModifiers); ++it) {
    if (key.modifiers & it->bit) {
      down &= static_cast<std::uint8_t>(~it->bit);
      set_modifier_state(down);
      const HWND target = ::GetFocus();
      if (target != nullptr)
        post_key(target, it->key, false, (down & drive::kAlt) != 0 || it->key == VK_MENU);
      settle(sheet);
    }
  }
}

// The width in pixels of a control's text on one line (mnemonic markers left
// out) in the control's own font: more than the control's width means clipping.
int text_width(HWND window) {
  const std::wstring text = standin::without_mnemonics(text_of(window));
  if (text.empty())
    return 0;
  const HDC dc = ::GetDC(window);
  if (dc == nullptr)
    return 0;
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  const HGDIOBJ previous = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (previous != nullptr)
    ::SelectObject(dc, previous);
  ::ReleaseDC(window, dc);
  return size.cx;
}

std::string menu_line(int line, const standin::menu_seen_t& seen) {
  std::string items;
  for (const standin::menu_item_t& item : seen.items) {
    if (!items.empty())
      items += " | ";
    if (item.separator) {
      items += "-";
      continue;
    }
    items += utf8(item.text) + " (" + std::to_string(item.id);
    if (item.state & MFS_GRAYED)
      items += ", grayed";
    if (item.state & MFS_CHECKED)
      items += ", checked";
    if (item.state & MFS_DEFAULT)
      items += ", default";
    items += ")";
  }
  return "menu: step " + std::to_string(line) +
         (seen.answered ? " chosen=" + std::to_string(seen.chosen) : " failed: " + seen.failure) +
         " items=" + items;
}

std::string one_line(const std::wstring& text) {
  std::string result = utf8(text);
  std::replace(result.begin(), result.end(), '\n', ' ');
  std::replace(result.begin(), result.end(), '\r', ' ');
  return result;
}

std::string box_line(int line, const standin::box_seen_t& seen) {
  return "box: step " + std::to_string(line) +
         (seen.answered ? " pressed=" + std::to_string(seen.pressed) : " failed: " + seen.failure) +
         " caption=" + one_line(seen.caption) + " text=" + one_line(seen.text);
}

}  // namespace

CDriveRunner::CDriveRunner(std::vector<drive::step_t> steps) : m_steps(std::move(steps)) {}

// The subclass of a window whose notifications of one code the script answers.
constexpr UINT_PTR kNotifyAnswerSubclass = 0x5B0C;

LRESULT CALLBACK answer_notify_procedure(HWND window,
                                         UINT message,
                                         WPARAM wparam,
                                         LPARAM lparam,
                                         UINT_PTR id,
                                         DWORD_PTR data) {
  const auto* answers = reinterpret_cast<std::vector<std::pair<UINT, LRESULT>>*>(data);
  if (message == WM_NOTIFY && lparam != 0) {
    const UINT code = reinterpret_cast<const NMHDR*>(lparam)->code;
    for (const auto& [answered, answer] : *answers)
      if (answered == code)
        return answer;
  }
  if (message == WM_NCDESTROY)
    ::RemoveWindowSubclass(window, answer_notify_procedure, id);
  return ::DefSubclassProc(window, message, wparam, lparam);
}

CDriveRunner::~CDriveRunner() {
  for (const auto& answer : m_notify_answers)
    if (::IsWindow(answer->window))
      ::RemoveWindowSubclass(answer->window, answer_notify_procedure, kNotifyAnswerSubclass);
}

HWND CDriveRunner::page() const {
  const HWND current = PropSheet_GetCurrentPageHwnd(m_sheet);
  if (current == nullptr)
    fail("the sheet is closed");
  return current;
}

HWND CDriveRunner::find_control(const target_t& target, bool lists_only) const {
  if (target.kind == kind_t::focus)
    return focused_or_fail();
  // The current page first, then the sheet's own controls.
  for (const HWND scope : {page(), m_sheet}) {
    HWND hidden = nullptr;
    std::uint32_t lists_seen = 0;
    for (const HWND window : descendants(scope)) {
      if (lists_only && !is_list(window))
        continue;
      bool match = false;
      switch (target.kind) {
        case kind_t::id:
          match = ::GetDlgCtrlID(window) == static_cast<int>(target.number);
          break;
        case kind_t::index:
          match = ::IsWindowVisible(window) && lists_seen++ == target.number;
          break;
        case kind_t::text:
          match = same_text(standin::without_mnemonics(text_of(window)), wide(target.text));
          break;
        case kind_t::focus:
          break;
      }
      if (!match)
        continue;
      if (::IsWindowVisible(window))
        return window;
      if (hidden == nullptr)
        hidden = window;
    }
    if (hidden != nullptr)
      return hidden;
  }
  const std::string name = target.kind == kind_t::id      ? "#" + std::to_string(target.number)
                           : target.kind == kind_t::index ? "@" + std::to_string(target.number)
                                                          : "\"" + target.text + "\"";
  fail(std::string("no ") + (lists_only ? "list view " : "control ") + name + " on the page");
}

bool CDriveRunner::run(HWND sheet) {
  m_sheet = sheet;
  for (const step_t& step : m_steps) {
    const std::string head = "step " + std::to_string(step.line) + " " + step.name + ": ";
    m_after.clear();
    try {
      std::string rest = run_step(step);
      check_answers();
      print_result(head + "ok" + (rest.empty() ? "" : " " + rest));
      for (const std::string& line : m_after)
        print_result(line);
    } catch (const step_failure& failure) {
      print_result(head + "failed: " + failure.why());
      return false;
    } catch (const host_error& error) {
      print_result(head + "failed: " + error.message());
      return false;
    } catch (const std::exception& error) {
      print_result(head + "failed: " + error.what());
      return false;
    }
    if (PropSheet_GetCurrentPageHwnd(m_sheet) == nullptr)
      break;  // ok or cancel closed the sheet
  }
  // An answer that was armed and never needed is a failure of the script.
  bool unused = false;
  for (const auto& [armed, line, what] :
       {std::tuple{m_box && !m_box->done(), m_box_line, "box"},
        std::tuple{m_menu && !m_menu->done(), m_menu_line, "menu"}}) {
    if (armed) {
      print_result("drive: the " + std::string(what) + " answer of step " + std::to_string(line) +
                   " was never used");
      unused = true;
    }
  }
  return !unused;
}

void CDriveRunner::check_answers() {
  if (!m_picture_failure.empty())
    fail(std::exchange(m_picture_failure, {}));
  if (m_box && m_box->done() && !m_box->seen().answered)
    fail("the box answer of step " + std::to_string(m_box_line) +
         " failed: " + m_box->seen().failure);
  if (m_menu && m_menu->done() && !m_menu->seen().answered)
    fail("the menu answer of step " + std::to_string(m_menu_line) +
         " failed: " + m_menu->seen().failure);
}

std::string CDriveRunner::run_step(const step_t& step) {
  switch (step.verb) {
    case step_verb::page:
      return choose_page(step);
    case step_verb::tab:
    case step_verb::click:
      return click(step);
    case step_verb::select:
    case step_verb::dblclick:
    case step_verb::rclick:
      return list_action(step);
    case step_verb::keys:
      return keys(step);
    case step_verb::drag:
      return drag(step);
    case step_verb::menu:
      return arm_menu(step);
    case step_verb::box:
      return arm_box(step);
    case step_verb::apply:
      return sheet_button(step, kApplyButton, "Apply");
    case step_verb::ok:
      return sheet_button(step, IDOK, "OK");
    case step_verb::cancel:
      return sheet_button(step, IDCANCEL, "Cancel");
    case step_verb::wait_text:
    case step_verb::wait_rows:
      return wait(step);
    case step_verb::rows:
      return rows(step);
    case step_verb::controls:
      return controls();
    case step_verb::focus_order:
      return focus_order();
    case step_verb::focus:
      return describe(focused_or_fail());
    case step_verb::screenshot:
      return screenshot(step);
    case step_verb::screenshot_box:
      m_box_picture = wide(step.text);
      m_box_picture_line = step.line;
      return "armed";
    case step_verb::answer_notify:
      return answer_notify(step);
    case step_verb::sleep:
      pump_until(m_sheet, step.number, [] { return false; });
      return {};
  }
  fail("unknown step");
}

std::string CDriveRunner::choose_page(const step_t& step) {
  const HWND tabs = PropSheet_GetTabControl(m_sheet);
  const int count = tabs != nullptr ? TabCtrl_GetItemCount(tabs) : 0;
  const target_t& target = step.targets[0];
  auto title = [tabs](int i) {
    wchar_t text[256] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 256;
    return TabCtrl_GetItem(tabs, i, &item) ? std::wstring(text) : std::wstring();
  };
  int index = -1;
  if (target.kind == kind_t::index) {
    index = static_cast<int>(target.number);
  } else {
    for (int i = 0; i < count && index < 0; ++i) {
      if (same_text(standin::without_mnemonics(title(i)), wide(target.text)))
        index = i;
    }
  }
  if (index < 0 || index >= count)
    fail("no such page among " + std::to_string(count));
  PropSheet_SetCurSel(m_sheet, nullptr, index);
  settle(m_sheet);
  if (PropSheet_HwndToIndex(m_sheet, page()) != index)
    fail("the page did not change (the current page refused to be left)");
  return "index=" + std::to_string(index) + " title=" + utf8(title(index));
}

std::string CDriveRunner::click(const step_t& step) {
  const HWND control = find_control(step.targets[0], false);
  if (!same_text(class_of(control), L"Button"))
    fail("the control is not a button (" + describe(control) + ")");
  if (!::IsWindowVisible(control) || !::IsWindowEnabled(control))
    fail("the button is hidden or disabled (" + describe(control) + ")");
  const std::string described = describe(control);
  ::SendMessageW(control, BM_CLICK, 0, 0);
  settle(m_sheet);
  return described;
}

std::string CDriveRunner::list_action(const step_t& step) {
  const HWND list = find_control(step.targets[0], true);
  const int item = find_item(list, step.targets[1]);
  select_item(m_sheet, list, item);
  if (step.verb == step_verb::dblclick) {
    // A list view follows its double-click notice with the item's activation.
    notify_click(list, NM_DBLCLK, item);
    notify_click(list, LVN_ITEMACTIVATE, item);
  } else if (step.verb == step_verb::rclick)
    notify_click(list, NM_RCLICK, item);
  settle(m_sheet);
  return "item=" + std::to_string(item) + " text=" + utf8(item_text(list, item, 0));
}

BOOL CALLBACK find_menu_window(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (::CompareStringOrdinal(name, -1, L"#32768", -1, FALSE) != CSTR_EQUAL)
    return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// While keys are pressed: a menu loop of the thread without a pop-up menu (the
// window menu's keyboard mode, which the key-up of F10 starts, also after
// Shift+F10 under Wine) is ended, as the user would with Escape. Pop-up menus
// are left to the menu answer.
void CALLBACK end_key_menu(HWND, UINT, UINT_PTR, DWORD) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetCurrentThreadId(), &info) || (info.flags & GUI_INMENUMODE) == 0)
    return;
  bool popup = false;
  ::EnumThreadWindows(::GetCurrentThreadId(), find_menu_window, reinterpret_cast<LPARAM>(&popup));
  if (!popup)
    ::EndMenu();
}

std::string CDriveRunner::keys(const step_t& step) {
  if (step.targets[0].kind != kind_t::focus) {
    const HWND control = find_control(step.targets[0], false);
    ::SetFocus(control);
    settle(m_sheet);
  }
  focused_or_fail();
  const UINT_PTR menu_timer = ::SetTimer(nullptr, 0, 100, end_key_menu);
  const support::scope_exit stop_timer([menu_timer] { ::KillTimer(nullptr, menu_timer); });
  for (const drive::key_t& key : step.keys) {
    if (key.is_text) {
      for (const wchar_t c : wide(key.text)) {
        ::PostMessageW(focused_or_fail(), WM_CHAR, c, 1);
        settle(m_sheet);
      }
    } else {
      press_chord(m_sheet, key);
    }
  }
  const HWND focus = ::GetFocus();
  return focus != nullptr ? "focus " + describe(focus) : "focus none";
}

std::string CDriveRunner::drag(const step_t& step) {
  const HWND source = find_control(step.targets[0], true);
  const int row = find_item(source, step.targets[1]);
  const HWND target = find_control(step.targets[2], true);
  const int category = find_item(target, step.targets[3]);
  select_item(m_sheet, source, row);

  // Press the button on the row and move away far enough to start a drag.
  POINT from = item_point(source, row);
  POINT screen = from;
  ::ClientToScreen(source, &screen);
  ::SetCursorPos(screen.x, screen.y);
  ::PostMessageW(source, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
  const int away = 4 * std::max(::GetSystemMetrics(SM_CXDRAG), ::GetSystemMetrics(SM_CYDRAG));
  ::PostMessageW(source, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(from.x + away, from.y + away));
  settle(m_sheet);

  // Then over the category and let go, to whoever holds the mouse now.
  const HWND capture = ::GetCapture();
  const HWND receiver = capture != nullptr ? capture : source;
  POINT to = item_point(target, category);
  ::ClientToScreen(target, &to);
  ::SetCursorPos(to.x, to.y);
  POINT local = to;
  ::ScreenToClient(receiver, &local);
  ::PostMessageW(receiver, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(local.x, local.y));
  settle(m_sheet);
  ::PostMessageW(receiver, WM_LBUTTONUP, 0, MAKELPARAM(local.x, local.y));
  settle(m_sheet);
  if (::GetCapture() == receiver && capture != nullptr)
    ::ReleaseCapture();
  return "row=" + std::to_string(row) + " category=" + std::to_string(category) +
         " capture=" + (capture != nullptr ? utf8(class_of(capture)) : std::string("none"));
}

std::string CDriveRunner::arm_menu(const step_t& step) {
  const int line = step.line;
  m_menu.reset();
  m_menu_line = line;
  m_menu = std::make_unique<standin::CMenuAnswer>(
      step.number, drive::kDefaultWaitMs,
      [line](const standin::menu_seen_t& seen) { print_result(menu_line(line, seen)); });
  return "armed command=" + std::to_string(step.number);
}

std::string CDriveRunner::arm_box(const step_t& step) {
  standin::box_reply_t reply;
  const target_t& button = step.targets[0];
  if (button.kind == kind_t::id) {
    reply.button = static_cast<int>(button.number);
  } else {
    reply.button = 0;
    reply.button_text = wide(button.text);
  }
  reply.set_edit = step.has_text;
  reply.edit_text = wide(step.text);
  reply.timeout_ms = drive::kDefaultWaitMs;
  const int line = step.line;
  m_box.reset();
  m_box_line = line;
  m_box = std::make_unique<standin::CBoxAnswer>(std::move(reply),
                                                [this, line](const standin::box_seen_t& seen) {
                                                  picture_box(seen.window);
                                                  print_result(box_line(line, seen));
                                                });
  return "armed";
}

std::string CDriveRunner::sheet_button(const step_t& step, int id, const char* name) {
  const HWND button = ::GetDlgItem(m_sheet, id);
  if (button == nullptr || !::IsWindowVisible(button))
    fail(std::string("the sheet has no ") + name + " button");
  if (!::IsWindowEnabled(button))
    fail(std::string(name) + " is disabled");
  ::SendMessageW(button, BM_CLICK, 0, 0);
  settle(m_sheet);
  if (step.verb == step_verb::apply)
    return "apply=" + std::string(::IsWindowEnabled(button) ? "enabled" : "disabled");
  return PropSheet_GetCurrentPageHwnd(m_sheet) == nullptr ? "closed" : "still open";
}

std::string CDriveRunner::wait(const step_t& step) {
  const bool rows = step.verb == step_verb::wait_rows;
  const HWND window = find_control(step.targets[0], rows);
  const std::wstring wanted = wide(step.text);
  std::string last;
  const bool met = pump_until(m_sheet, step.timeout_ms, [&] {
    if (!::IsWindow(window))
      return false;
    if (rows) {
      const int count = item_count(window);
      last = std::to_string(count) + " row(s)";
      return count == static_cast<int>(step.number);
    }
    const std::wstring text = text_of(window);
    last = "\"" + utf8(text) + "\"";
    return text.find(wanted) != std::wstring::npos;
  });
  if (!met)
    fail("not within " + std::to_string(step.timeout_ms) + " ms; last seen " + last);
  return last;
}

std::string CDriveRunner::rows(const step_t& step) {
  const HWND list = find_control(step.targets[0], true);
  const int count = item_count(list);
  const int columns = column_count(list);
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line = "row " + std::to_string(i);
    if (ListView_GetItemState(list, i, LVIS_SELECTED) & LVIS_SELECTED)
      line += " selected";
    line += ":";
    for (int column = 0; column < columns; ++column)
      line += (column == 0 ? " " : " | ") + one_line(item_text(list, i, column));
    lines.push_back(std::move(line));
  }
  m_after.insert(m_after.end(), lines.begin(), lines.end());
  return "count=" + std::to_string(count);
}

std::string CDriveRunner::controls() {
  const HWND current = page();
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  std::vector<std::string> lines;
  for (const HWND window : descendants(current)) {
    int depth = 0;
    for (HWND parent = ::GetParent(window); parent != nullptr && parent != current;
         parent = ::GetParent(parent))
      ++depth;
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, current, reinterpret_cast<POINT*>(&rect), 2);
    lines.push_back(
        "control depth=" + std::to_string(depth + 1) +
        " id=" + std::to_string(::GetDlgCtrlID(window)) + " class=" + utf8(class_of(window)) +
        " x=" + std::to_string(rect.left) + " y=" + std::to_string(rect.top) + " w=" +
        std::to_string(rect.right - rect.left) + " h=" + std::to_string(rect.bottom - rect.top) +
        " visible=" + std::to_string(::IsWindowVisible(window) ? 1 : 0) +
        " enabled=" + std::to_string(::IsWindowEnabled(window) ? 1 : 0) +
        " textw=" + std::to_string(text_width(window)) + " text=" + one_line(text_of(window)));
  }
  RECT client{};
  ::GetClientRect(current, &client);
  m_after.insert(m_after.end(), lines.begin(), lines.end());
  return "count=" + std::to_string(lines.size()) + " dpi=" + std::to_string(dpi) +
         " page=" + std::to_string(client.right) + "x" + std::to_string(client.bottom);
}

std::string CDriveRunner::focus_order() {
  const HWND first = ::GetNextDlgTabItem(m_sheet, nullptr, FALSE);
  int count = 0;
  for (HWND item = first; item != nullptr && count < 500;) {
    m_after.push_back("tab-stop " + std::to_string(count) + ": " + describe(item));
    ++count;
    item = ::GetNextDlgTabItem(m_sheet, item, FALSE);
    if (item == first)
      break;
  }
  return "count=" + std::to_string(count);
}

std::string CDriveRunner::screenshot(const step_t& step) {
  const SIZE size = save_screenshot(m_sheet, wide(step.text));
  return "width=" + std::to_string(size.cx) + " height=" + std::to_string(size.cy);
}

void CDriveRunner::picture_box(HWND box) {
  if (m_box_picture.empty() || box == nullptr)
    return;
  const std::wstring path = std::exchange(m_box_picture, {});
  const std::string head = "screenshot-box: step " + std::to_string(m_box_picture_line);
  try {
    const SIZE size = save_screenshot(box, path);
    print_result(head + " width=" + std::to_string(size.cx) + " height=" + std::to_string(size.cy));
  } catch (const host_error& error) {
    m_picture_failure = head + " failed: " + error.message();
  }
}

std::string CDriveRunner::answer_notify(const step_t& step) {
  // The dialog that holds the control: its parent gets the control's notices.
  const HWND control = find_control(step.targets[0], false);
  const HWND window = ::GetParent(control);
  const UINT code = step.number;
  auto answers = std::make_unique<notify_answer_t>(notify_answer_t{window, {}});
  notify_answer_t* kept = nullptr;
  for (const auto& answer : m_notify_answers)
    if (answer->window == window)
      kept = answer.get();
  if (kept == nullptr) {
    if (!::SetWindowSubclass(window, answer_notify_procedure, kNotifyAnswerSubclass,
                             reinterpret_cast<DWORD_PTR>(&answers->answers)))
      fail("cannot take over the notices of the window");
    kept = answers.get();
    m_notify_answers.push_back(std::move(answers));
  }
  auto& list = kept->answers;
  list.erase(
      std::remove_if(list.begin(), list.end(), [code](const auto& a) { return a.first == code; }),
      list.end());
  list.emplace_back(code, static_cast<LRESULT>(step.answer));
  return "window=" + describe(window) + " code=" + std::to_string(code) +
         " result=" + std::to_string(step.answer);
}

}  // namespace cvhost
