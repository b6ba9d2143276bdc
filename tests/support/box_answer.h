// Answers the next dialog box the calling thread shows (a message box or any
// other "#32770" dialog) by pressing one of its buttons with real messages,
// as a user would, and remembers what the box said.
//
//   testsupport::box_answer_t yes(IDYES);
//   code_that_asks();            // returns once the box was answered
//   yes.caption(); yes.text();
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

class box_answer_t {
 public:
  explicit box_answer_t(int button) : m_button(button) {
    current() = this;
    m_hook = ::SetWindowsHookExW(WH_CBT, on_cbt, nullptr, ::GetCurrentThreadId());
  }
  ~box_answer_t() {
    if (m_hook != nullptr)
      ::UnhookWindowsHookEx(m_hook);
    if (current() == this)
      current() = nullptr;
  }
  box_answer_t(const box_answer_t&) = delete;
  box_answer_t& operator=(const box_answer_t&) = delete;

  bool answered() const { return m_answered; }
  const std::wstring& caption() const { return m_caption; }
  // The message box's text (its static control 0xFFFF).
  const std::wstring& text() const { return m_text; }

 private:
  static box_answer_t*& current() {
    thread_local box_answer_t* armed = nullptr;
    return armed;
  }
  static std::wstring text_of(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  static LRESULT CALLBACK on_cbt(int code, WPARAM wparam, LPARAM lparam) {
    box_answer_t* self = current();
    if (code == HCBT_ACTIVATE && self != nullptr && !self->m_answered) {
      const HWND box = reinterpret_cast<HWND>(wparam);
      wchar_t name[16] = {};
      ::GetClassNameW(box, name, 16);
      if (std::wstring(name) == L"#32770") {
        self->m_answered = true;
        self->m_caption = text_of(box);
        self->m_text = text_of(::GetDlgItem(box, 0xFFFF));
        // Pressed once the box runs its own message loop.
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(self->m_button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(box, self->m_button)));
      }
    }
    return ::CallNextHookEx(nullptr, code, wparam, lparam);
  }

  int m_button;
  HHOOK m_hook = nullptr;
  bool m_answered = false;
  std::wstring m_caption;
  std::wstring m_text;
};

}  // namespace testsupport
