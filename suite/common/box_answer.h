// Answering the modal boxes and pop-up menus of the calling thread the way a user
// would: with real messages to their controls, from inside their own modal loops.
//
// A modal box (MessageBox, DialogBox) or TrackPopupMenu does not return before it
// is answered, so the answer is armed first, on the thread that will show it:
//
//   standin::CBoxAnswer answer({.button = IDYES});
//   ::MessageBoxW(owner, L"Delete?", L"Logons", MB_YESNO);   // returns IDYES
//
// A thread-local hook notices the next dialog box (class "#32770") made after
// the answer was armed when it is activated, and starts a timer on it; the timer
// runs inside the box's modal loop, types the text into the edit control and
// clicks the button (BM_CLICK, which the button turns into its WM_COMMAND). A menu
// is noticed when its window is created; its timer moves the selection with arrow
// keys to the item and presses Enter, so TrackPopupMenu returns the item's command
// (or sends it). Everything is bounded: a box whose button never shows up enabled
// is cancelled, a menu whose item cannot be reached is ended, after the timeout.
//
// At most one box answer and one menu answer are armed per thread; arming another
// one of the same kind while one waits replaces the waiting one. Objects must be
// destroyed on the thread that made them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace standin {

// How to answer the next box.
struct box_reply_t {
  int button = IDOK;         // the control id to click; 0: the button named button_text
  std::wstring button_text;  // compared without '&' and case, when button is 0
  bool set_edit = false;     // type edit_text into an edit control first
  std::wstring edit_text;
  int edit_id = 0;  // that edit control; 0: the box's first edit control
  DWORD timeout_ms = 5000;
};

// What the answered (or cancelled) box showed.
struct box_seen_t {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;  // the texts of its static controls, joined with '\n'
  int pressed = 0;    // the control id clicked; 0 when none was
  bool answered = false;
  std::string failure;  // why it was not answered as asked
};

class CBoxAnswer {
 public:
  using done_t = std::function<void(const box_seen_t&)>;

  // Arms the answer for the next box activated on this thread. on_done, when given,
  // is called inside the box's loop just before the button is clicked (or the box
  // cancelled). Throws std::system_error when the hook cannot be set.
  explicit CBoxAnswer(box_reply_t reply, done_t on_done = {});
  CBoxAnswer(const CBoxAnswer&) = delete;
  CBoxAnswer& operator=(const CBoxAnswer&) = delete;
  ~CBoxAnswer();

  // True once a box was taken (answered or cancelled).
  bool done() const noexcept { return m_done; }
  const box_seen_t& seen() const noexcept { return m_seen; }

 private:
  static LRESULT CALLBACK hook_procedure(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK timer_procedure(HWND window, UINT, UINT_PTR id, DWORD);
  void take(HWND box);
  void tick(HWND box);
  void finish(HWND box, HWND button);

  box_reply_t m_reply;
  done_t m_on_done;
  HHOOK m_hook = nullptr;
  std::vector<HWND> m_created;  // dialog windows made since the answer was armed
  HWND m_box = nullptr;
  DWORD m_deadline = 0;
  bool m_done = false;
  box_seen_t m_seen;
};

// One item of a pop-up menu.
struct menu_item_t {
  UINT id = 0;  // 0 for separators and sub-menus
  std::wstring text;
  UINT state = 0;  // MFS_GRAYED, MFS_CHECKED, MFS_DEFAULT ...
  bool separator = false;
};

struct menu_seen_t {
  std::vector<menu_item_t> items;
  UINT chosen = 0;  // the command chosen; 0 when the menu was ended without one
  bool answered = false;
  std::string failure;
};

class CMenuAnswer {
 public:
  using done_t = std::function<void(const menu_seen_t&)>;

  // Arms the answer for the next pop-up menu shown on this thread: its item with
  // the command id is chosen; command 0 dismisses the menu. An item that is
  // missing or greyed out ends the menu without a command (a failure).
  explicit CMenuAnswer(UINT command, DWORD timeout_ms = 5000, done_t on_done = {});
  CMenuAnswer(const CMenuAnswer&) = delete;
  CMenuAnswer& operator=(const CMenuAnswer&) = delete;
  ~CMenuAnswer();

  bool done() const noexcept { return m_done; }
  const menu_seen_t& seen() const noexcept { return m_seen; }

 private:
  static LRESULT CALLBACK hook_procedure(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK timer_procedure(HWND window, UINT, UINT_PTR id, DWORD);
  void tick(HWND menu_window);
  void end(HWND menu_window, std::string failure);

  UINT m_command;
  DWORD m_timeout_ms;
  done_t m_on_done;
  HHOOK m_hook = nullptr;
  HWND m_menu_window = nullptr;
  DWORD m_deadline = 0;
  int m_keys_left = 0;
  bool m_done = false;
  menu_seen_t m_seen;
};

// The texts of a window's controls with their '&' mnemonic markers removed ("&&"
// stays one '&').
std::wstring without_mnemonics(const std::wstring& text);

}  // namespace standin
