#include "suite/common/box_answer.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace standin {

namespace {

// Timer ids of our own on windows that are not ours: unlikely to meet theirs.
constexpr UINT_PTR kBoxTimer = 0x5B0A;
constexpr UINT_PTR kMenuTimer = 0x5B0B;
constexpr UINT kTickMs = 15;
// MN_GETHMENU: the menu a pop-up menu window shows.
constexpr UINT kGetMenu = 0x01E1;

thread_local CBoxAnswer* t_box = nullptr;
thread_local CMenuAnswer* t_menu = nullptr;

std::wstring window_text(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

bool same_text(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Allocates nothing: the hooks call it.
bool is_class(HWND window, const wchar_t* name) noexcept {
  wchar_t own[64] = {};
  ::GetClassNameW(window, own, 64);
  return ::CompareStringOrdinal(own, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// The direct children of a window, in their z-order (the tab order of a dialog).
std::vector<HWND> children(HWND parent) {
  std::vector<HWND> result;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT))
    result.push_back(child);
  return result;
}

// Arming and disarming are the same for boxes and menus: a CBT hook on this
// thread, the answer in its thread slot, and the timer on the window it took.
template <typename Answer>
HHOOK arm(Answer*& slot, Answer* answer, HOOKPROC procedure) {
  const HHOOK hook = ::SetWindowsHookExW(WH_CBT, procedure, nullptr, ::GetCurrentThreadId());
  if (hook == nullptr)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "SetWindowsHookEx(WH_CBT)");
  slot = answer;
  return hook;
}

template <typename Answer>
void disarm(Answer*& slot, Answer* answer, HHOOK hook, HWND taken, UINT_PTR timer, bool done) {
  if (taken != nullptr && !done && ::IsWindow(taken))
    ::KillTimer(taken, timer);
  if (hook != nullptr)
    ::UnhookWindowsHookEx(hook);
  if (slot == answer)
    slot = nullptr;
}

// The answer a timer tick is for; null (and the timer killed) when the tick is
// a stale one of a window the answer no longer waits on.
template <typename Answer>
Answer* ticking(Answer* answer, HWND Answer::*taken, HWND window, UINT_PTR timer) {
  if (answer == nullptr || answer->*taken != window || answer->done()) {
    ::KillTimer(window, timer);
    return nullptr;
  }
  return answer;
}

}  // namespace

std::wstring without_mnemonics(const std::wstring& text) {
  std::wstring result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size())
      ++i;  // the next character is kept, whatever it is ("&&" gives '&')
    else if (text[i] == L'&')
      continue;
    result.push_back(text[i]);
  }
  return result;
}

// ---- boxes ------------------------------------------------------------------

CBoxAnswer::CBoxAnswer(box_reply_t reply, done_t on_done)
    : m_reply(std::move(reply)), m_on_done(std::move(on_done)) {
  m_hook = arm(t_box, this, hook_procedure);
}

CBoxAnswer::~CBoxAnswer() {
  disarm(t_box, this, m_hook, m_box, kBoxTimer, m_done);
}

LRESULT CALLBACK CBoxAnswer::hook_procedure(int code, WPARAM wparam, LPARAM lparam) {
  CBoxAnswer* self = t_box;
  if (self != nullptr && self->m_box == nullptr) {
    const HWND window = reinterpret_cast<HWND>(wparam);
    // Only a box made after the answer was armed: the windows that were there
    // already (a property sheet is a dialog too) are activated again and again.
    if (code == HCBT_CREATEWND && is_class(window, L"#32770")) {
      try {
        self->m_created.push_back(window);
      } catch (const std::bad_alloc&) {
        // Out of memory: this box goes unnoticed, as if no answer were armed.
      }
    } else if (code == HCBT_ACTIVATE && std::find(self->m_created.begin(), self->m_created.end(),
                                                  window) != self->m_created.end())
      self->take(window);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

void CBoxAnswer::take(HWND box) {
  m_box = box;
  m_seen.window = box;
  m_deadline = ::GetTickCount() + m_reply.timeout_ms;
  // The box is not shown yet when it is activated; its loop runs the timer.
  ::SetTimer(box, kBoxTimer, kTickMs, timer_procedure);
}

void CALLBACK CBoxAnswer::timer_procedure(HWND window, UINT, UINT_PTR id, DWORD) {
  CBoxAnswer* self = ticking(t_box, &CBoxAnswer::m_box, window, id);
  if (self == nullptr)
    return;
  // Nothing may leave a timer procedure: a failure gives the box up.
  try {
    self->tick(window);
  } catch (...) {
    ::KillTimer(window, id);
    self->m_done = true;
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

void CBoxAnswer::tick(HWND box) {
  HWND button = nullptr;
  if (m_reply.button != 0) {
    button = ::GetDlgItem(box, m_reply.button);
  } else {
    for (const HWND child : children(box)) {
      if (is_class(child, L"Button") &&
          same_text(without_mnemonics(window_text(child)), m_reply.button_text))
        button = child;
    }
  }
  HWND edit = nullptr;
  if (m_reply.set_edit) {
    if (m_reply.edit_id != 0) {
      edit = ::GetDlgItem(box, m_reply.edit_id);
    } else {
      for (const HWND child : children(box)) {
        if (edit == nullptr && is_class(child, L"Edit"))
          edit = child;
      }
    }
  }
  // The text goes in first: a box may enable its button only once it has one.
  if (edit != nullptr && ::IsWindowEnabled(edit) && window_text(edit) != m_reply.edit_text)
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_reply.edit_text.c_str()));
  // Answered once shown: before that its controls count as hidden, and a user
  // could not have seen it either.
  const bool ready = ::IsWindowVisible(box) && button != nullptr && ::IsWindowEnabled(button) &&
                     (!m_reply.set_edit || (edit != nullptr && ::IsWindowEnabled(edit)));
  if (ready) {
    m_seen.answered = true;
    m_seen.pressed = ::GetDlgCtrlID(button);
    finish(box, button);
    return;
  }
  if (static_cast<LONG>(::GetTickCount() - m_deadline) < 0)
    return;  // try again on the next tick
  if (!::IsWindowVisible(box))
    m_seen.failure = "the box was never shown";
  else if (button == nullptr)
    m_seen.failure = "the box has no such button";
  else if (!::IsWindowEnabled(button))
    m_seen.failure = "the button is disabled";
  else
    m_seen.failure = "the box has no such edit control (or it is disabled)";
  finish(box, nullptr);
}

void CBoxAnswer::finish(HWND box, HWND button) {
  ::KillTimer(box, kBoxTimer);
  m_done = true;
  m_seen.caption = window_text(box);
  for (const HWND child : children(box)) {
    if (is_class(child, L"Static") && ::IsWindowVisible(child)) {
      const std::wstring text = window_text(child);
      if (text.empty())
        continue;
      if (!m_seen.text.empty())
        m_seen.text += L'\n';
      m_seen.text += text;
    }
  }
  if (m_on_done)
    m_on_done(m_seen);
  if (button != nullptr) {
    ::SendMessageW(button, BM_CLICK, 0, 0);
  } else {
    // Give up as a user pressing Escape would; a box that refuses is closed.
    ::SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (::IsWindow(box) && ::IsWindowVisible(box))
      ::PostMessageW(box, WM_CLOSE, 0, 0);
  }
}

// ---- menus ------------------------------------------------------------------

CMenuAnswer::CMenuAnswer(UINT command, DWORD timeout_ms, done_t on_done)
    : m_command(command), m_timeout_ms(timeout_ms), m_on_done(std::move(on_done)) {
  m_hook = arm(t_menu, this, hook_procedure);
}

CMenuAnswer::~CMenuAnswer() {
  disarm(t_menu, this, m_hook, m_menu_window, kMenuTimer, m_done);
}

LRESULT CALLBACK CMenuAnswer::hook_procedure(int code, WPARAM wparam, LPARAM lparam) {
  CMenuAnswer* self = t_menu;
  if (code == HCBT_CREATEWND && self != nullptr && self->m_menu_window == nullptr) {
    const HWND window = reinterpret_cast<HWND>(wparam);
    if (is_class(window, L"#32768")) {
      self->m_menu_window = window;
      self->m_deadline = ::GetTickCount() + self->m_timeout_ms;
      // The menu's own loop dispatches the timer once the menu is tracked.
      ::SetTimer(window, kMenuTimer, kTickMs, timer_procedure);
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

void CALLBACK CMenuAnswer::timer_procedure(HWND window, UINT, UINT_PTR id, DWORD) {
  CMenuAnswer* self = ticking(t_menu, &CMenuAnswer::m_menu_window, window, id);
  if (self == nullptr)
    return;
  try {
    self->tick(window);
  } catch (...) {
    ::KillTimer(window, id);
    self->m_done = true;
    ::EndMenu();
  }
}

void CMenuAnswer::tick(HWND menu_window) {
  const HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(menu_window, kGetMenu, 0, 0));
  const int count = menu != nullptr ? ::GetMenuItemCount(menu) : -1;
  if (count < 0) {
    if (static_cast<LONG>(::GetTickCount() - m_deadline) >= 0)
      end(menu_window, "the menu window shows no menu");
    return;
  }
  if (m_seen.items.empty()) {
    for (int i = 0; i < count; ++i) {
      wchar_t text[256] = {};
      MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
      info.dwTypeData = text;
      info.cch = 255;
      if (!::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info))
        continue;
      menu_item_t item;
      item.separator = (info.fType & MFT_SEPARATOR) != 0;
      item.id = info.hSubMenu != nullptr ? 0 : info.wID;
      item.state = info.fState;
      item.text = text;
      m_seen.items.push_back(std::move(item));
    }
    m_keys_left = 2 * count + 4;
  }
  if (m_command == 0) {
    end(menu_window, {});
    return;
  }
  int target = -1;
  for (int i = 0; i < count; ++i) {
    if (::GetMenuItemID(menu, i) == m_command && target < 0)
      target = i;
  }
  if (target < 0) {
    end(menu_window, "the menu has no item " + std::to_string(m_command));
    return;
  }
  const UINT state = ::GetMenuState(menu, static_cast<UINT>(target), MF_BYPOSITION);
  if (state & (MF_GRAYED | MF_DISABLED)) {
    end(menu_window, "the menu item " + std::to_string(m_command) + " is disabled");
    return;
  }
  int selected = -1;
  for (int i = 0; i < count; ++i) {
    if (::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE)
      selected = i;
  }
  if (static_cast<LONG>(::GetTickCount() - m_deadline) >= 0 || m_keys_left <= 0) {
    end(menu_window, "the selection did not reach the menu item " + std::to_string(m_command));
    return;
  }
  --m_keys_left;
  if (selected == target) {
    ::KillTimer(menu_window, kMenuTimer);
    m_done = true;
    m_seen.answered = true;
    m_seen.chosen = m_command;
    if (m_on_done)
      m_on_done(m_seen);
    ::PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(menu_window, WM_KEYUP, VK_RETURN, 0xC0000001);
    return;
  }
  // One arrow key per tick, then look again where the selection went.
  const WPARAM key = selected < 0 || selected < target ? VK_DOWN : VK_UP;
  ::PostMessageW(menu_window, WM_KEYDOWN, key, 1);
  ::PostMessageW(menu_window, WM_KEYUP, key, 0xC0000001);
}

void CMenuAnswer::end(HWND menu_window, std::string failure) {
  ::KillTimer(menu_window, kMenuTimer);
  m_done = true;
  m_seen.failure = std::move(failure);
  m_seen.answered = m_seen.failure.empty();
  if (m_on_done)
    m_on_done(m_seen);
  ::EndMenu();
}

}  // namespace standin
