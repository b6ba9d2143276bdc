// A small window implementation base in the spirit of a message-map library:
// a class registered once per process, the object reached from the window
// procedure through the window's user data, and a message map of handlers.
//
//   class CFoo : public support::CWindowImpl<CFoo> {
//    public:
//     static const wchar_t* WindowClassName() { return L"Foo"; }
//     BEGIN_MSG_MAP(CFoo)
//       MESSAGE_HANDLER(WM_CREATE, OnCreate)
//       MESSAGE_HANDLER(registered_message(), OnRegistered)   // compared at run time
//     END_MSG_MAP()
//     LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& handled);
//   };
//   foo.Create(nullptr, L"Foo window", WS_POPUP, WS_EX_TOOLWINDOW);
//
// Handlers run inside the window procedure's exception boundary: an exception
// is traced and the message answered with 0.
#pragma once

#include <windows.h>

#include <cstdint>

namespace support {

// A window handle as the 32-bit number traces print: window handles are 32-bit
// values in 64-bit processes too, so nothing is lost.
inline unsigned handle_value(HWND window) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window));
}

class CWindowBase {
 public:
  CWindowBase() = default;
  CWindowBase(const CWindowBase&) = delete;
  CWindowBase& operator=(const CWindowBase&) = delete;

  // The message map: true when a handler took the message (result set).
  virtual BOOL ProcessWindowMessage(HWND window,
                                    UINT message,
                                    WPARAM wparam,
                                    LPARAM lparam,
                                    LRESULT& result) = 0;
  virtual ~CWindowBase();
  // The procedure the window class is registered with.
  virtual WNDPROC GetWindowProc() { return &CWindowBase::WindowProc; }
  // Called once the window is gone (after WM_NCDESTROY).
  virtual void OnFinalMessage(HWND window) {}

  HWND m_hWnd = nullptr;

  bool IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  // Destroys the window when there is one; true when it was destroyed.
  bool DestroyWindow();

 protected:
  // Registers class_name once per process (arrow cursor, background brush value
  // 1) and creates the window with this object attached; null on failure (last
  // error set).
  HWND CreateWithClass(const wchar_t* class_name,
                       HWND parent,
                       const wchar_t* window_name,
                       DWORD style,
                       DWORD ex_style);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

template <typename T>
class CWindowImpl : public CWindowBase {
 public:
  HWND Create(HWND parent, const wchar_t* window_name, DWORD style, DWORD ex_style) {
    return CreateWithClass(T::WindowClassName(), parent, window_name, style, ex_style);
  }
};

}  // namespace support

#define BEGIN_MSG_MAP(cls)                                                                        \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) \
      override {                                                                                  \
    BOOL bHandled = TRUE;                                                                         \
    (void)hWnd;

#define MESSAGE_HANDLER(msg, func)                  \
  if (uMsg == (msg)) {                              \
    bHandled = TRUE;                                \
    lResult = func(uMsg, wParam, lParam, bHandled); \
    if (bHandled)                                   \
      return TRUE;                                  \
  }

// A range of messages to one handler.
#define MESSAGE_RANGE_HANDLER(first, last, func)    \
  if (uMsg >= (first) && uMsg <= (last)) {          \
    bHandled = TRUE;                                \
    lResult = func(uMsg, wParam, lParam, bHandled); \
    if (bHandled)                                   \
      return TRUE;                                  \
  }

// WM_COMMAND from one control (any notification code, or one code):
//   LRESULT OnFoo(WORD code, WORD id, HWND control, BOOL& handled);
#define COMMAND_ID_HANDLER(id, func)                                                          \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                         \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                             \
      return TRUE;                                                                            \
  }
#define COMMAND_HANDLER(id, command_code, func)                                               \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (command_code)) {     \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                             \
      return TRUE;                                                                            \
  }

// WM_NOTIFY from one control (one code, or any code), or with one code from any:
//   LRESULT OnFoo(int id, NMHDR* header, BOOL& handled);
#define NOTIFY_HANDLER(id, notify_code, func)                                             \
  if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->idFrom == (UINT_PTR)(id) &&  \
      reinterpret_cast<NMHDR*>(lParam)->code == (UINT)(notify_code)) {                    \
    bHandled = TRUE;                                                                      \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled); \
    if (bHandled)                                                                         \
      return TRUE;                                                                        \
  }
#define NOTIFY_ID_HANDLER(id, func)                                                       \
  if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->idFrom == (UINT_PTR)(id)) {  \
    bHandled = TRUE;                                                                      \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled); \
    if (bHandled)                                                                         \
      return TRUE;                                                                        \
  }
#define NOTIFY_CODE_HANDLER(notify_code, func)                                              \
  if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == (UINT)(notify_code)) { \
    bHandled = TRUE;                                                                        \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled);   \
    if (bHandled)                                                                           \
      return TRUE;                                                                          \
  }

// Hands the message to another map (a base class or a mix-in).
#define CHAIN_MSG_MAP(map)                                            \
  if (map::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) \
    return TRUE;

#define END_MSG_MAP() \
  return FALSE;       \
  }
